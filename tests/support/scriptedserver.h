#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

// A TCP peer on 127.0.0.1 that follows a script, for the faults no real server makes on
// request. It runs on a thread of its own, because the code under test blocks the caller's
// thread. Every wait also ends when the server stops, so the destructor never hangs.
class ScriptedServer {
public:
    // One accepted connection, as the script sees it.
    class Socket {
    public:
        Socket(int fd, int stopFd) : fd_(fd), stopFd_(stopFd) {}
        ~Socket();
        Socket(const Socket &) = delete;
        Socket &operator=(const Socket &) = delete;

        bool send(QByteArrayView bytes);
        // A line without its CR LF; nothing once the peer closed, the server stops or `ms` passed.
        std::optional<QByteArray> readLine(int ms = kWaitMs);
        // Up to `max` bytes, what has arrived; empty once the peer closed.
        QByteArray readSome(qsizetype max, int ms = kWaitMs);
        // Everything up to the peer's close.
        QByteArray readUntilClosed(int ms = kWaitMs);
        // Says nothing until the peer gives up (or the server stops).
        void waitForClose();
        void close();
        // Closes with a TCP reset instead of an orderly close.
        void reset();

    private:
        // False when the socket has nothing to read after `ms` or the server stops.
        bool waitReadable(int ms);

        int fd_;
        int stopFd_;
        QByteArray buffer_;
    };

    // A socket listening for one more connection (an FTP data connection), on a free port.
    class Listener {
    public:
        explicit Listener(int stopFd);
        ~Listener();
        Listener(const Listener &) = delete;
        Listener &operator=(const Listener &) = delete;
        quint16 port() const { return port_; }
        std::unique_ptr<Socket> accept(int ms = kWaitMs);

    private:
        quint16 port_ = 0; // before fd_: the socket's creation sets it
        int fd_ = -1;
        int stopFd_;
    };

    // Runs once for every accepted connection, one connection after the other.
    using Script = std::function<void(ScriptedServer &server, Socket &control)>;

    explicit ScriptedServer(Script script);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer &) = delete;
    ScriptedServer &operator=(const ScriptedServer &) = delete;

    bool isRunning() const { return port_ != 0; }
    quint16 port() const { return port_; }
    int connections() const { return connections_.load(); }
    std::unique_ptr<Listener> listen() { return std::make_unique<Listener>(stopPipe_[0]); }

    // Long enough for any client under test to have given up first.
    static constexpr int kWaitMs = 60000;

private:
    void run();

    Script script_;
    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    quint16 port_ = 0;
    std::atomic<int> connections_{0};
    std::thread thread_;
};
