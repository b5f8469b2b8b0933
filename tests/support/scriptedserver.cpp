#include "tests/support/scriptedserver.h"

#include <QDeadlineTimer>
#include <QTcpServer>

#include <future>

// The blocking calls of Qt's sockets, in short steps so that a stop ends them.
bool ScriptedServer::Socket::send(QByteArrayView bytes) {
    socket_->write(bytes.data(), bytes.size());
    for (const QDeadlineTimer deadline(kWaitMs);
         socket_->bytesToWrite() > 0 && !stop_ && !deadline.hasExpired();)
        if (!socket_->waitForBytesWritten(50) && socket_->state() != QAbstractSocket::ConnectedState)
            return false;
    return socket_->bytesToWrite() == 0 && socket_->state() == QAbstractSocket::ConnectedState;
}

bool ScriptedServer::Socket::wait() {
    for (const QDeadlineTimer deadline(kWaitMs); !stop_ && !deadline.hasExpired();) {
        if (socket_->state() != QAbstractSocket::ConnectedState)
            return false;
        if (socket_->waitForReadyRead(50))
            return true;
    }
    return false;
}

std::optional<QByteArray> ScriptedServer::Socket::readLine() {
    while (!socket_->canReadLine())
        if (!wait())
            return std::nullopt;
    const QByteArray line = socket_->readLine().chopped(1);
    return line.endsWith('\r') ? line.chopped(1) : line;
}

QByteArray ScriptedServer::Socket::read(qsizetype n) {
    while (socket_->bytesAvailable() < n && wait()) {
    }
    return socket_->read(qMin(n, socket_->bytesAvailable()));
}

ScriptedServer::ScriptedServer(Script script) : script_(std::move(script)) {
    std::promise<void> listening;
    std::future<void> listens = listening.get_future();
    thread_ = std::thread([this, listening = std::move(listening)]() mutable {
        QTcpServer server;
        server_ = &server;
        port_ = server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0;
        listening.set_value();
        while (port_ && !stop_)
            if (server.waitForNewConnection(50))
                while (QTcpSocket *socket = server.nextPendingConnection()) {
                    Socket connection(socket, stop_);
                    ++connections_;
                    script_(*this, connection);
                    socket->close();
                    delete socket;
                }
    });
    listens.wait();
}

std::optional<ScriptedServer::Socket> ScriptedServer::accept() {
    if (!server_->waitForNewConnection(kWaitMs))
        return std::nullopt;
    return Socket(server_->nextPendingConnection(), stop_);
}

ScriptedServer::~ScriptedServer() {
    stop_ = true;
    thread_.join();
}
