#include "tests/support/tcpscript.h"

namespace testsupport {

ScriptedTcpServer::ScriptedTcpServer(QObject *parent) : QObject(parent) {
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *s = server_.nextPendingConnection()) {
            const qsizetype index = clients_.size();
            clients_.append({s, {}, false});
            connect(s, &QTcpSocket::readyRead, this, [this, s, index] { clients_[index].received += s->readAll(); });
            connect(s, &QTcpSocket::disconnected, this, [this, index] { clients_[index].closed = true; });
        }
    });
}

ScriptedTcpServer::~ScriptedTcpServer() {
    for (const Client &c : std::as_const(clients_)) {
        if (c.socket)
            c.socket->disconnect(this);
    }
}

bool ScriptedTcpServer::listen() { return server_.listen(QHostAddress::LocalHost, 0); }

QByteArray ScriptedTcpServer::received() const { return clients_.isEmpty() ? QByteArray() : clients_.last().received; }

bool ScriptedTcpServer::clientClosed() const { return !clients_.isEmpty() && clients_.last().closed; }

void ScriptedTcpServer::send(const QByteArray &bytes) {
    if (clients_.isEmpty() || !clients_.last().socket)
        return;
    clients_.last().socket->write(bytes);
    clients_.last().socket->flush();
}

void ScriptedTcpServer::closeClient() {
    if (!clients_.isEmpty() && clients_.last().socket)
        clients_.last().socket->disconnectFromHost();
}

} // namespace testsupport
