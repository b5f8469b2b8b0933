#pragma once

#include <QTcpSocket>

#include <atomic>
#include <functional>
#include <limits>
#include <optional>
#include <thread>

// A TCP peer on 127.0.0.1 that plays a script, for faults no real server makes on request: on a thread of its
// own, once per connection in turn, so the code under test may block or run its event loop meanwhile. Every
// wait ends after kWaitMs or when the server stops, so the destructor never hangs.
class ScriptedServer {
public:
    static constexpr int kWaitMs = 60000; // any client under test gives up first

    class Socket {
    public:
        Socket(QTcpSocket *socket, const std::atomic<bool> &stop) : socket_(socket), stop_(stop) {}
        bool send(QByteArrayView bytes);
        std::optional<QByteArray> readLine(); // without its CR LF; nothing once the peer closed
        QByteArray read(qsizetype n);         // fewer bytes when the peer closed first
        QByteArray readAll() { return read(std::numeric_limits<qsizetype>::max()); }
        void close() { socket_->close(); }

    private:
        bool wait(); // for more bytes; false once the peer closed, on a stop or after kWaitMs

        QTcpSocket *socket_;
        const std::atomic<bool> &stop_;
    };
    using Script = std::function<void(ScriptedServer &server, Socket &connection)>;

    explicit ScriptedServer(Script script);
    ~ScriptedServer();

    bool isRunning() const { return port_ != 0; }
    quint16 port() const { return port_; }
    // Counted before the script runs: inside it, the number of this connection.
    int connections() const { return connections_; }
    // Inside a script: the next connection (an FTP data connection), when one comes within kWaitMs.
    std::optional<Socket> accept();

private:
    Script script_;
    class QTcpServer *server_ = nullptr;
    std::atomic<quint16> port_ = 0;
    std::atomic<int> connections_ = 0;
    std::atomic<bool> stop_ = false;
    std::thread thread_;
};
