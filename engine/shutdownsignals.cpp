#include "engine/shutdownsignals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int fds[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void onSignal(int sig) {
    // Only async-signal-safe work here: hand the number to the event loop.
    const unsigned char b = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(fds[0], &b, 1);
}
} // namespace

ShutdownSignals::ShutdownSignals(QObject *parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return;
    notifier_ = new QSocketNotifier(fds[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        unsigned char b = 0;
        if (::read(fds[1], &b, 1) == 1)
            emit requested(b);
    });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : kSignals)
        sigaction(sig, &sa, nullptr);
}

ShutdownSignals::~ShutdownSignals() {
    for (int sig : kSignals)
        std::signal(sig, SIG_DFL);
    delete notifier_;
    ::close(fds[0]);
    ::close(fds[1]);
    fds[0] = fds[1] = -1;
}
#else
ShutdownSignals::ShutdownSignals(QObject *parent) : QObject(parent) {}
ShutdownSignals::~ShutdownSignals() = default;
#endif
