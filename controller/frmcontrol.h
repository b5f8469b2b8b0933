#pragma once

#include "controller/ftptransfer.h"
#include "controller/messagebox.h"
#include "controller/wancheck.h"
#include "settings/mdichild.h"
#include "settings/settingsstore.h"

#include <QLabel>
#include <QPointer>
#include <QStringList>

#include <memory>
#include <optional>

class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTcpSocket;
class QTimer;

// A picture that reports clicks.
class ClickableLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};

// The controller window: the check schedule, address detection and publication.
class frmControl : public MdiChild {
    Q_OBJECT
public:
    static constexpr int kTickMs = 60000;
    static constexpr quint16 kSmtpPort = 25;
    static constexpr int kSmtpReplyTimeoutMs = 30000;
    static inline const QString kNoAddress = QStringLiteral("000.000.000.000");

    explicit frmControl(SettingsStore &store, QWidget *parent = nullptr);
    ~frmControl() override;

    // Seams, set before Form_Load. Sinks and fetchers are not owned; nullptr restores the real one.
    void setMessageSink(MessageSink *sink) { sink_ = sink; }
    void setHttpFetcher(wancheck::HttpFetcher *fetcher) { fetcher_ = fetcher; }
    void setSmtpPort(quint16 port) { smtpPort_ = port; }
    void setTickInterval(int ms) { tickMs_ = ms; }
    void setSmtpReplyTimeout(int ms);
    // Replaces the local host name sent with EHLO (an empty name sends the address literal).
    void setLocalHostName(std::optional<QString> name) { localHostName_ = std::move(name); }
    void setFtpClient(FtpClient *client) { ftp_ = client; }

    // The boxes of this window and of what runs in it go through here.
    MessageSink &messageSink();
    SettingsStore &store() { return store_; }

    // Opening: schedule items and selection, caption, then the opening check.
    void Form_Load() override;

    // Starts a detection. The CGI has its answer on return; SMTP goes on in Ws_DataArrival.
    void CheckWanIp();
    // Gateway data file: fetched and shown at opening, published after every check.
    virtual void DownloadIpData();
    void ReadIpData();
    virtual void PublishIfChanged();

    // One file each way; failures are shown by the transfer itself.
    bool FTPGet(const QString &strFtpSvr, const QString &strUserID, const QString &strPassword,
                const QString &strRemoteFile, const QString &strLocalFile);
    bool FtpPut(const QString &strFtpSvr, const QString &strUserID, const QString &strPassword,
                const QString &strRemoteFile, const QString &strLocalFile);

    void SaveControllerState();

    // True while a check, or a handler that may show a box, is running.
    bool isCheckRunning() const { return busy_ > 0; }

    QGroupBox *frmHome = nullptr;
    QLabel *lblWan = nullptr;
    QLabel *lblWanIp = nullptr;
    QLabel *lblTmr = nullptr;
    QComboBox *cboTimer = nullptr;
    QGroupBox *fraPvn = nullptr;
    QLabel *lblPvn = nullptr;
    QLabel *lblPvnIp = nullptr;
    QPushButton *cmdManual = nullptr;
    QLabel *lblPvnMsg = nullptr;
    QLineEdit *txtPvnMsg = nullptr;
    ClickableLabel *imgStat = nullptr;
    QTimer *tmrChk = nullptr;
    QTcpSocket *Ws = nullptr;

    // Ticks counted towards the next check of a 10-, 30- or 60-minute schedule.
    qint16 intMinuteCount = 0;

    // The fields of the data file as last read: state, address, closed message, then carried ones.
    QStringList varIpData{QString(), QString(), QString()};
    // Transfer parameters, filled by DownloadIpData and used by every upload after it.
    QString strXferSvr;
    QString strXferUser;
    QString strXferPass;
    QString strXferRemote;
    QString strXferLocal;

public slots:
    void cboTimer_Click();
    void tmrChk_Timer();
    void Ws_DataArrival();
    void imgStat_Click();
    void txtPvnMsg_LostFocus();
    void cmdManual_Click();

protected:
    void saveState() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Marks the window busy while a handler runs that may wait inside a message box.
    class BusyGuard {
    public:
        explicit BusyGuard(frmControl *w) : w_(w) { ++w_->busy_; }
        ~BusyGuard() {
            if (w_)
                --w_->busy_;
        }
        BusyGuard(const BusyGuard &) = delete;
        BusyGuard &operator=(const BusyGuard &) = delete;

    private:
        QPointer<frmControl> w_;
    };

    // Write, upload, then read back what was written. True when the server took the file.
    bool publishSequence();
    void showState(bool open);
    FtpClient &ftp();

    void buildControls(QWidget *client);
    void runCheck();
    void fetchCgi(const QString &url);
    void startSmtp(const QString &strIpAdd);
    void endSmtp();
    void smtpSend(const QByteArray &bytes);
    QString localHostName() const;

    SettingsStore &store_;
    MessageSink *sink_ = nullptr;
    std::unique_ptr<MessageSink> defaultSink_;
    wancheck::HttpFetcher *fetcher_ = nullptr;
    std::unique_ptr<wancheck::HttpFetcher> defaultFetcher_;
    quint16 smtpPort_ = kSmtpPort;
    int tickMs_ = kTickMs;
    std::optional<QString> localHostName_;
    QTimer *smtpTimeout_ = nullptr;
    int busy_ = 0;
    FtpClient *ftp_ = nullptr;
    std::unique_ptr<FtpClient> defaultFtp_;
    bool inLostFocus_ = false;
    // The image list: drawn once per window, not at every check.
    QPixmap imgLstClosed_;
    QPixmap imgLstOpen_;
};
