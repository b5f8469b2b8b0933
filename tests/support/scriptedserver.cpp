#include "tests/support/scriptedserver.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// True when `fd` is readable before `ms` pass (-1: no limit) and before the stop pipe is.
bool readable(int fd, int stopFd, int ms) {
    const QDeadlineTimer deadline = ms < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(ms);
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    int n;
    while ((n = ::poll(fds, 2, int(deadline.remainingTime()))) < 0 && errno == EINTR) {
    }
    return fd >= 0 && n > 0 && !(fds[1].revents & POLLIN) && fds[0].revents != 0;
}

} // namespace

bool ScriptedServer::Socket::send(QByteArrayView bytes) {
    while (fd_ >= 0 && !bytes.isEmpty()) {
        const ssize_t n = ::send(fd_, bytes.data(), size_t(bytes.size()), MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR)
            return false;
        bytes = bytes.sliced(qMax<ssize_t>(n, 0));
    }
    return fd_ >= 0;
}

bool ScriptedServer::Socket::receive() {
    char chunk[65536];
    ssize_t n = -1;
    if (readable(fd_, stopFd_, kWaitMs))
        while ((n = ::recv(fd_, chunk, sizeof chunk, 0)) < 0 && errno == EINTR) {
        }
    if (n > 0)
        buffer_.append(chunk, n);
    return n > 0;
}

std::optional<QByteArray> ScriptedServer::Socket::readLine() {
    while (!buffer_.contains('\n'))
        if (!receive())
            return std::nullopt;
    const QByteArray line = read(buffer_.indexOf('\n') + 1).chopped(1);
    return line.endsWith('\r') ? line.chopped(1) : line;
}

QByteArray ScriptedServer::Socket::read(qsizetype n) {
    while (buffer_.size() < n && receive()) {
    }
    const QByteArray out = buffer_.left(n);
    buffer_.remove(0, out.size());
    return out;
}

void ScriptedServer::Socket::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

ScriptedServer::ScriptedServer(Script script) : script_(std::move(script)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::pipe2(stop_, O_CLOEXEC) != 0 || listen_ < 0 ||
        ::bind(listen_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(listen_, 8) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return;
    port_ = ntohs(addr.sin_port);
    // A client that gave up before the accept is skipped; a stop ends the loop.
    thread_ = std::thread([this] {
        while (readable(listen_, stop_[0], -1))
            if (const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC); fd >= 0) {
                Socket connection(fd, stop_[0]);
                ++connections_;
                script_(*this, connection);
            }
    });
}

ScriptedServer::~ScriptedServer() {
    while (stop_[1] >= 0 && ::write(stop_[1], "", 1) < 0 && errno == EINTR) {
    }
    if (thread_.joinable())
        thread_.join();
    for (const int fd : {listen_, stop_[0], stop_[1]})
        if (fd >= 0)
            ::close(fd);
}
