#pragma once

#include <curl/curl.h>

#include <QTimer>

#include <functional>
#include <map>
#include <memory>

class QSocketNotifier;

// libcurl's waits on the thread's event loop. The calls stay synchronous for their callers, but while a
// transfer waits on the network the thread handles its other events: a window repaints, moves and answers
// its menus, a signal ends the run.
namespace curlwait {

// Asked after every event; true once the run is ending and every transfer is to be dropped.
using Stop = std::function<bool()>;

// A multi handle whose transfers run one at a time, waiting for libcurl's sockets on socket notifiers and
// for its timer on a timer. Connections left open by one transfer serve the next, until the handle goes.
class Multi {
public:
    explicit Multi(Stop stop = {});
    ~Multi();
    Multi(const Multi &) = delete;
    Multi &operator=(const Multi &) = delete;

    explicit operator bool() const { return m_ != nullptr; }
    bool stopped() const { return stop_ && stop_(); }

    // Runs `h` to its end. Once stopped, the transfer is abandoned at once: its connection is shut down and
    // closed without a goodbye, so nothing more is sent and no reply is waited for; the result is then
    // CURLE_ABORTED_BY_CALLBACK, also for a transfer asked for after the stop.
    CURLcode perform(CURL *h);

private:
    // Watches what libcurl waits for now; false when that is nothing.
    bool watch();
    void notify(int fd, bool read, bool on);

    CURLM *m_ = nullptr;
    Stop stop_;
    bool woken_ = false;
    std::map<int, std::unique_ptr<QSocketNotifier>> readers_, writers_;
    QTimer timer_;
};

} // namespace curlwait
