#pragma once

#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <functional>
#include <future>

namespace testsupport {

// A TCP server on 127.0.0.1 that the test drives step by step, for peers that cannot be installed
// with the faults a test needs. It runs on the test's thread: a blocking client under test runs on
// a thread of its own.
class ScriptedTcpServer : public QObject {
    Q_OBJECT
public:
    explicit ScriptedTcpServer(QObject *parent = nullptr);
    ~ScriptedTcpServer() override;

    bool listen() { return server_.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return server_.serverPort(); }

    int connectionCount() const { return clients_.size(); }
    // The latest connection: what it sent so far, whether it has ended.
    QByteArray received() const { return clients_.isEmpty() ? QByteArray() : clients_.last().received; }
    bool clientClosed() const { return !clients_.isEmpty() && clients_.last().closed; }

    // Sends to the latest connection at once, or hangs it up.
    void send(const QByteArray &bytes);
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

// Runs a blocking call (an HTTP or FTP client) on a thread of its own while this thread serves a
// scripted server; `between` runs after every round of events.
template <typename Call> auto runAside(Call call, const std::function<void()> &between = {}) {
    auto result = std::async(std::launch::async, std::move(call));
    while (result.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        QTest::qWait(10);
        if (between)
            between();
    }
    return result.get();
}

} // namespace testsupport
