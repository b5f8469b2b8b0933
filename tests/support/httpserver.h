#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QSemaphore>
#include <QString>
#include <QThread>

#include <atomic>

namespace testsupport {

// An HTTP server on 127.0.0.1 with answers set per path, for faults no real server gives on
// demand. It runs on a thread of its own, so a blocking client on the test's thread reaches it.
class ScriptedHttpServer : public QThread {
public:
    struct Reply {
        int status = 200;
        QByteArray body;
        QByteArray headers;    // extra header lines, each ended by CR LF
        bool hang = false;     // read the request, never answer
        bool truncate = false; // announce more bytes than are sent, then hang up
    };

    ScriptedHttpServer();
    ~ScriptedHttpServer() override;

    void setReply(const QByteArray &path, const Reply &reply);
    quint16 port() const { return port_; }
    QString url(const QString &path) const;
    int requestCount() const { return requests_; }

protected:
    void run() override;

private:
    QByteArray answer(const QByteArray &request, bool *hang) const;

    QSemaphore listening_;
    mutable QMutex mutex_;
    QHash<QByteArray, Reply> replies_;
    std::atomic<quint16> port_{0};
    std::atomic<int> requests_{0};
};

} // namespace testsupport
