#include "tests/support/scriptedserver.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A listening socket on 127.0.0.1 at a free port; -1 when that fails.
int listenLoopback(quint16 &port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(addr.sin_port);
    return fd;
}

// True when `fd` is readable before `ms` pass and before the stop pipe becomes readable.
bool pollReadable(int fd, int stopFd, int ms) {
    const QDeadlineTimer deadline(ms);
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int n = ::poll(fds, 2, int(deadline.remainingTime()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || (fds[1].revents & POLLIN))
            return false;
        return fds[0].revents != 0;
    }
}

int acceptOne(int listenFd, int stopFd, int ms) {
    if (!pollReadable(listenFd, stopFd, ms))
        return -1;
    return ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
}

} // namespace

ScriptedServer::Socket::~Socket() { close(); }

bool ScriptedServer::Socket::waitReadable(int ms) { return fd_ >= 0 && pollReadable(fd_, stopFd_, ms); }

bool ScriptedServer::Socket::send(QByteArrayView bytes) {
    const char *p = bytes.data();
    qsizetype left = bytes.size();
    while (fd_ >= 0 && left > 0) {
        const ssize_t n = ::send(fd_, p, size_t(left), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return fd_ >= 0;
}

std::optional<QByteArray> ScriptedServer::Socket::readLine(int ms) {
    const QDeadlineTimer deadline(ms);
    for (;;) {
        const qsizetype nl = buffer_.indexOf('\n');
        if (nl >= 0) {
            QByteArray line = buffer_.left(nl);
            buffer_.remove(0, nl + 1);
            if (line.endsWith('\r'))
                line.chop(1);
            return line;
        }
        if (!waitReadable(int(deadline.remainingTime())))
            return std::nullopt;
        char chunk[4096];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0)
            return std::nullopt;
        buffer_.append(chunk, n);
    }
}

QByteArray ScriptedServer::Socket::readSome(qsizetype max, int ms) {
    if (buffer_.isEmpty()) {
        if (!waitReadable(ms))
            return {};
        char chunk[4096];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0)
            return {};
        buffer_.append(chunk, n);
    }
    const QByteArray out = buffer_.left(max);
    buffer_.remove(0, out.size());
    return out;
}

QByteArray ScriptedServer::Socket::readUntilClosed(int ms) {
    const QDeadlineTimer deadline(ms);
    QByteArray all;
    for (;;) {
        const QByteArray part = readSome(1 << 16, int(deadline.remainingTime()));
        if (part.isEmpty())
            return all;
        all += part;
    }
}

void ScriptedServer::Socket::waitForClose() {
    while (!readSome(1 << 16, kWaitMs).isEmpty()) {
    }
}

void ScriptedServer::Socket::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void ScriptedServer::Socket::reset() {
    if (fd_ < 0)
        return;
    const linger hard{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close();
}

ScriptedServer::Listener::Listener(int stopFd) : fd_(listenLoopback(port_)), stopFd_(stopFd) {}

ScriptedServer::Listener::~Listener() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::unique_ptr<ScriptedServer::Socket> ScriptedServer::Listener::accept(int ms) {
    const int fd = fd_ < 0 ? -1 : acceptOne(fd_, stopFd_, ms);
    return fd < 0 ? nullptr : std::make_unique<Socket>(fd, stopFd_);
}

ScriptedServer::ScriptedServer(Script script) : script_(std::move(script)) {
    if (::pipe2(stopPipe_, O_CLOEXEC) != 0)
        return;
    listenFd_ = listenLoopback(port_);
    if (listenFd_ < 0) {
        port_ = 0;
        return;
    }
    thread_ = std::thread([this] { run(); });
}

ScriptedServer::~ScriptedServer() {
    if (stopPipe_[1] >= 0) {
        const char stop = 1;
        while (::write(stopPipe_[1], &stop, 1) < 0 && errno == EINTR) {
        }
    }
    if (thread_.joinable())
        thread_.join();
    for (const int fd : {listenFd_, stopPipe_[0], stopPipe_[1]})
        if (fd >= 0)
            ::close(fd);
}

void ScriptedServer::run() {
    for (;;) {
        if (!pollReadable(listenFd_, stopPipe_[0], kWaitMs * 10))
            return;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue; // the client gave up before the accept
        ++connections_;
        Socket control(fd, stopPipe_[0]);
        script_(*this, control);
    }
}
