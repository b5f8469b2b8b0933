#pragma once

#include "engine/ftptransfer.h"
#include "engine/gatewaypage.h"
#include "engine/messagesink.h"
#include "engine/settingsstore.h"
#include "engine/wancheck.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class CurlFtpClient;
class SmtpExchange;

// One run's checks and publications, free of widgets: finding the address, fetching and reading
// the gateway data file, and writing and uploading it. The controller window and the command line
// both drive it; what it shows goes through the message sink, what changes through its signals.
class CheckSession : public QObject {
    Q_OBJECT
public:
    // How a check ended.
    enum class Outcome {
        Unchanged,    // the address is the one last published
        NoAddress,    // nothing detected
        Published,    // the new address is on the server
        UploadFailed, // not published: the server could not be reached or refused the file
        Manual,       // changed, waits for the manual upload
        Cancelled,    // the run ended meanwhile
    };

    explicit CheckSession(SettingsStore &store, QObject *parent = nullptr);
    ~CheckSession() override;

    // Seams. Sinks, clients and fetchers are not owned; nullptr restores the real one.
    void setMessageSink(MessageSink *sink) { sink_ = sink; }
    void setFtpClient(FtpClient *client) { ftp_ = client; }
    void setHttpFetcher(wancheck::HttpFetcher *fetcher) { fetcher_ = fetcher; }
    // Called with true before and false after every call that waits on the network.
    void setBlockingHook(std::function<void(bool)> hook) { blockingHook_ = std::move(hook); }
    SmtpExchange &smtp() { return *smtp_; }
    // Everything the session shows passes here, on to the sink.
    MessageSink &messageSink() { return boxes_; }
    SettingsStore &store() { return store_; }

    // Starts a detection. The CGI has its answer on return; SMTP answers later, through
    // wanIpDetected, unless the exchange ends without one.
    void CheckWanIp();
    // Until the detection under way has ended (at once for the CGI).
    void waitForDetection();
    // Fetches the server's file while there is no working copy, then reads the working copy.
    void DownloadIpData();
    void ReadIpData();
    // Ends every check: a changed address is published (automatic mode) or announced. The line
    // that says how the check ended goes to the log and is kept in lastReport().
    Outcome PublishIfChanged();
    const QString &lastReport() const { return lastReport_; }
    // This check tried to read the server's file and could not.
    bool gatewayFileUnread() const { return !readFailure_.isEmpty(); }
    // Why the latest detection gave no address, and what to do, in the user's words.
    const QString &noAddressHelp() const { return noAddressHelp_; }
    // Whether the gateway page showed the latest publication the server took; none without a page
    // address (PvnUrl). The publication counts all the same.
    bool pageUnconfirmed() const { return page_ && !page_->confirmed(); }

    // The run or the window is ending: whatever waits in a box stops there, so that nothing is
    // written or uploaded after the shut-down.
    void cancel();
    bool isCancelled() const { return cancelled_; }

    // A change the user makes to the gateway: its state, its closed message, or both.
    struct GatewayChange {
        std::optional<bool> open;
        std::optional<QString> message;
    };
    // The change on top of the server's file, uploaded at once in either mode (a pending address
    // stays pending), and one log line that names it, kept in lastReport(). True when the server
    // took the file.
    bool changeGateway(const GatewayChange &change);

    // The three user actions on the gateway. Each returns true when the server took the file.
    bool publishState(bool open) { return changeGateway({open, {}}); }
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
    // Records what went wrong, then shows it. The session may be gone when show() returns.
    class Boxes final : public MessageSink {
    public:
        explicit Boxes(CheckSession &s) : s_(s) {}
        void show(const QString &text, const QString &title, int style) override;

    private:
        CheckSession &s_;
    };

    // `change` applied to the server's state, written, uploaded and read back. False when the server
    // did not take the file, or its state could not be had first (then nothing is written).
    bool publish(const std::function<void(QStringList &)> &change);
    bool FtpPut();
    // Asks the gateway page whether it shows `published`; a box says so when it does not.
    void confirmPage(const QStringList &published);
    FtpClient &ftp();
    wancheck::HttpFetcher &fetcher();
    void setWanIp(const QString &address);
    // A check or a user action starts: what it meets is told anew.
    void beginTelling();
    void noAddress(const QString &why, const QString &help);
    Outcome report(Outcome outcome);
    // True when the session still exists and has not been cancelled (a box may have ended it).
    static bool alive(const QPointer<CheckSession> &self) { return self && !self->cancelled_; }

    SettingsStore &store_;
    SmtpExchange *smtp_ = nullptr;
    Boxes boxes_{*this};
    MessageSink *sink_ = nullptr;
    std::unique_ptr<MessageSink> defaultSink_;
    FtpClient *ftp_ = nullptr;
    std::unique_ptr<CurlFtpClient> defaultFtp_;
    wancheck::HttpFetcher *fetcher_ = nullptr;
    std::unique_ptr<wancheck::HttpFetcher> defaultFetcher_;
    std::function<void(bool)> blockingHook_;
    bool cancelled_ = false;
    // The server's state is known in this run: its file was fetched, it has none, or it took ours.
    bool serverKnown_ = false;
    QString lastFailure_;   // the last failure met, for the log
    QStringList shown_;     // the failures shown in this check or action
    QString readFailure_;   // why this check could not read the server's file
    QString noAddressWhy_;  // why the latest detection gave no address
    QString noAddressHelp_; // and what to do
    QString lastReport_;
    std::optional<gatewaypage::Confirmation> page_;
};
