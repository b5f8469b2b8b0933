#pragma once

#include "controller/ftptransfer.h"
#include "controller/wancheck.h"
#include "settings/settingsstore.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>

class MessageSink;
class SmtpExchange;

// One run's checks and publications, free of widgets: finding the address, fetching and reading
// the gateway data file, and writing and uploading it. The controller window and the command line
// both drive it; what it shows goes through the message sink, what changes through its signals.
class CheckSession : public QObject {
    Q_OBJECT
public:
    explicit CheckSession(SettingsStore &store, QObject *parent = nullptr);
    ~CheckSession() override;

    // Seams. Sinks, clients and fetchers are not owned; nullptr restores the real one.
    void setMessageSink(MessageSink *sink);
    void setFtpClient(FtpClient *client) { ftp_ = client; }
    void setHttpFetcher(wancheck::HttpFetcher *fetcher) { fetcher_ = fetcher; }
    // Called with true before and false after every call that blocks on the network.
    void setBlockingHook(std::function<void(bool)> hook) { blockingHook_ = std::move(hook); }
    SmtpExchange &smtp() { return *smtp_; }
    MessageSink &messageSink();
    SettingsStore &store() { return store_; }

    // Starts a detection. The CGI has its answer on return; SMTP answers later, through
    // wanIpDetected, unless the exchange ends without one.
    void CheckWanIp();
    // Fetches the server's file while there is no working copy, then reads the working copy.
    void DownloadIpData();
    void ReadIpData();
    // After every check: a changed address is published (automatic mode) or announced.
    void PublishIfChanged();

    // The run or the window is ending: whatever waits in a box stops there, so that nothing is
    // written or uploaded after the shut-down.
    void cancel();
    bool isCancelled() const { return cancelled_; }

    // The three user actions on the gateway. Each returns true when the server took the file.
    bool publishState(bool open);
    void messageEdited(const QString &text);
    bool manualUpload();

    // The fields of the data file as last read: state, address, closed message, then carried ones.
    QStringList varIpData{QString(), QString(), QString()};
    // Transfer parameters, filled by DownloadIpData and used by every upload after it.
    QString strXferSvr;
    QString strXferUser;
    QString strXferPass;
    QString strXferRemote;
    QString strXferLocal;

    static inline const QString kOn = QStringLiteral("on");
    static inline const QString kOff = QStringLiteral("off");

signals:
    // An address was detected: the window shows it.
    void wanIpDetected(const QString &address);
    // varIpData was read again: the window shows it.
    void ipDataRead();
    // A change waits for the manual upload.
    void manualUploadDue();

private:
    // Write, upload, then read back what was written. True when the server took the file.
    bool publishSequence();
    bool FTPGet();
    bool FtpPut();
    FtpClient &ftp();
    wancheck::HttpFetcher &fetcher();
    void setWanIp(const QString &address);
    // True when the session still exists and has not been cancelled (a box may have ended it).
    static bool alive(const QPointer<CheckSession> &self) { return self && !self->cancelled_; }

    SettingsStore &store_;
    SmtpExchange *smtp_ = nullptr;
    MessageSink *sink_ = nullptr;
    std::unique_ptr<MessageSink> defaultSink_;
    FtpClient *ftp_ = nullptr;
    std::unique_ptr<FtpClient> defaultFtp_;
    wancheck::HttpFetcher *fetcher_ = nullptr;
    std::unique_ptr<wancheck::HttpFetcher> defaultFetcher_;
    std::function<void(bool)> blockingHook_;
    bool cancelled_ = false;
};
