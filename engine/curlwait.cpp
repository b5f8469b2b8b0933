#include "engine/curlwait.h"

#include <QEventLoop>
#include <QSocketNotifier>

#include <algorithm>
#include <sys/select.h>
#include <sys/socket.h>

namespace curlwait {

Multi::Multi(Stop stop) : m_(curl_multi_init()), stop_(std::move(stop)) {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] { woken_ = true; });
}

Multi::~Multi() {
    if (m_)
        curl_multi_cleanup(m_);
}

void Multi::notify(int fd, bool read, bool on) {
    auto &notifiers = read ? readers_ : writers_;
    auto it = notifiers.find(fd);
    if (it == notifiers.end()) {
        if (!on)
            return;
        auto n = std::make_unique<QSocketNotifier>(fd, read ? QSocketNotifier::Read : QSocketNotifier::Write);
        QObject::connect(n.get(), &QSocketNotifier::activated, [this] { woken_ = true; });
        it = notifiers.emplace(fd, std::move(n)).first;
    }
    it->second->setEnabled(on);
}

bool Multi::watch() {
    fd_set r, w, e;
    FD_ZERO(&r);
    FD_ZERO(&w);
    FD_ZERO(&e);
    int maxFd = -1;
    if (curl_multi_fdset(m_, &r, &w, &e, &maxFd) != CURLM_OK)
        maxFd = -1;
    // Every notifier follows the sets: one for a socket past them is off, the others as the sets say.
    for (auto *notifiers : {&readers_, &writers_})
        for (auto &[fd, n] : *notifiers)
            if (fd > maxFd)
                n->setEnabled(false);
    for (int fd = 0; fd <= maxFd; ++fd) {
        notify(fd, true, FD_ISSET(fd, &r) || FD_ISSET(fd, &e));
        notify(fd, false, FD_ISSET(fd, &w));
    }
    return maxFd >= 0;
}

CURLcode Multi::perform(CURL *h) {
    if (stopped())
        return CURLE_ABORTED_BY_CALLBACK;
    if (const CURLMcode mc = curl_multi_add_handle(m_, h); mc != CURLM_OK)
        return mc == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT;
    // Gives this thread an event dispatcher where it has none yet.
    QEventLoop loop;
    CURLcode rc = CURLE_OK;
    bool done = false, stop = false;
    int running = 1;
    CURLMcode mc;
    while ((mc = curl_multi_perform(m_, &running)) == CURLM_OK) {
        int queued = 0;
        while (const CURLMsg *msg = curl_multi_info_read(m_, &queued)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == h) {
                done = true;
                rc = msg->data.result;
            }
        }
        if (done || !running || (stop = stopped()))
            break;
        long ms = -1;
        curl_multi_timeout(m_, &ms);
        // Right after a passive reply libcurl 7.88 has nothing to watch: it opens the data connection only
        // when called again. A moment with nothing to watch is waited out in 1 ms, not until its timer.
        timer_.start(!watch() ? 1 : ms < 0 ? 1000 : int(std::clamp(ms, 0L, 1000L)));
        woken_ = false;
        while (!woken_ && !(stop = stopped()))
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        if (stop)
            break;
    }
    timer_.stop();
    for (auto *notifiers : {&readers_, &writers_})
        for (auto &[fd, n] : *notifiers)
            n->setEnabled(false);
    if (mc != CURLM_OK)
        rc = mc == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT;
    else if (!done && !stop)
        rc = CURLE_FAILED_INIT;
    if (stop || stopped()) {
        // A connection that stays open after the transfer would say goodbye when the handle goes, and wait
        // for the answer: shut down, it fails at once. One still busy is closed as the transfer leaves.
        curl_socket_t fd = CURL_SOCKET_BAD;
        if (curl_easy_getinfo(h, CURLINFO_ACTIVESOCKET, &fd) == CURLE_OK && fd != CURL_SOCKET_BAD)
            ::shutdown(fd, SHUT_RDWR);
        rc = CURLE_ABORTED_BY_CALLBACK;
    }
    curl_multi_remove_handle(m_, h);
    return rc;
}

} // namespace curlwait
