#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace testsupport {

// A TCP server on 127.0.0.1 that the test drives line by line, for peers that cannot be
// installed with the replies a test needs (a mail server's greeting exchange and its faults).
// It runs on the test's thread: the client under test must be event-driven.
class ScriptedTcpServer : public QObject {
    Q_OBJECT
public:
    explicit ScriptedTcpServer(QObject *parent = nullptr);
    ~ScriptedTcpServer() override;

    bool listen();
    quint16 port() const { return server_.serverPort(); }

    int connectionCount() const { return clients_.size(); }
    // The latest connection: what it sent so far, whether it has ended.
    QByteArray received() const;
    bool clientClosed() const;

    // Sends to the latest connection and pushes the bytes out at once.
    void send(const QByteArray &bytes);
    // Hangs up the latest connection.
    void closeClient();

private:
    struct Client {
        QPointer<QTcpSocket> socket;
        QByteArray received;
        bool closed = false;
    };
    QTcpServer server_;
    QList<Client> clients_;
};

} // namespace testsupport
