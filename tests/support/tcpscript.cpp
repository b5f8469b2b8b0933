#include "tests/support/tcpscript.h"

namespace testsupport {

ScriptedTcpServer::ScriptedTcpServer(QObject *parent) : QObject(parent) {
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *s = server_.nextPendingConnection()) {
            const qsizetype i = clients_.size();
            clients_.append({s, {}, false});
            connect(s, &QTcpSocket::readyRead, this, [this, s, i] { clients_[i].received += s->readAll(); });
            connect(s, &QTcpSocket::disconnected, this, [this, i] { clients_[i].closed = true; });
        }
    });
}

ScriptedTcpServer::~ScriptedTcpServer() {
    for (const Client &c : std::as_const(clients_)) {
        if (c.socket)
            c.socket->disconnect(this);
    }
}

void ScriptedTcpServer::send(const QByteArray &bytes) {
    if (!clients_.isEmpty() && clients_.last().socket) {
        clients_.last().socket->write(bytes);
        clients_.last().socket->flush();
    }
}

void ScriptedTcpServer::closeClient() {
    if (!clients_.isEmpty() && clients_.last().socket)
        clients_.last().socket->disconnectFromHost();
}

} // namespace testsupport
