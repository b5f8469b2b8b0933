#pragma once

#include "engine/checksession.h"
#include "engine/messagesink.h"
#include "engine/settingsstore.h"
#include "engine/smtpexchange.h"
#include "windows/mdichild.h"

#include <QLabel>
#include <QPointer>

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

// An address label. An address too long for it (IPv6, with a port) shows cut in the middle, and
// its tooltip adds the whole address; text() is the address all the same.
class AddressLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
};

// The controller window: the check schedule and what the checks and the user's actions show.
// The checks themselves run in its CheckSession.
class frmControl : public MdiChild {
    Q_OBJECT
public:
    static constexpr int kTickMs = 60000;
    static constexpr quint16 kSmtpPort = SmtpExchange::kPort;
    static constexpr int kSmtpReplyTimeoutMs = SmtpExchange::kReplyTimeoutMs;
    static inline const QString kNoAddress = SettingsRecord::kNoAddress;

    explicit frmControl(SettingsStore &store, QWidget *parent = nullptr);
    ~frmControl() override;

    // Seams, set before Form_Load. Sinks and fetchers are not owned; nullptr restores the real one.
    void setMessageSink(MessageSink *sink) { sink_ = sink; }
    void setHttpFetcher(wancheck::HttpFetcher *fetcher) { session_->setHttpFetcher(fetcher); }
    void setSmtpPort(quint16 port) { session_->smtp().setDefaultPort(port); }
    void setTickInterval(int ms) { tickMs_ = ms; }
    void setSmtpReplyTimeout(int ms) { session_->smtp().setReplyTimeout(ms); }
    // Replaces the local host name sent with EHLO (an empty name sends the address literal).
    void setLocalHostName(std::optional<QString> name) { session_->smtp().setLocalHostName(std::move(name)); }
    void setFtpClient(FtpClient *client) { session_->setFtpClient(client); }

    // The boxes of this window and of what runs in it go through here.
    MessageSink &messageSink();
    SettingsStore &store() { return store_; }
    CheckSession &session() { return *session_; }

    // Opening: schedule items and selection, caption.
    void Form_Load() override;
    // The opening check, once the window is shown: it answers while the check waits on the network.
    void openingCheck();

    // Starts a detection. The CGI has its answer on return; SMTP goes on in Ws_DataArrival.
    void CheckWanIp();
    // Gateway data file: fetched and shown at opening, published after every check.
    virtual void DownloadIpData();
    void ReadIpData();
    virtual void PublishIfChanged();

    void SaveControllerState();

    // True while a check, or a handler that may show a box or wait on the network, is running. Meanwhile
    // the window answers, but no other check or action starts: the picture and "手動ｱｯﾌﾟ" are disabled,
    // a message left meanwhile is judged after it, and the wait cursor is over the window.
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
    QTcpSocket *Ws = nullptr; // the mail server exchange's socket

    // Ticks counted towards the next check of a 10-, 30- or 60-minute schedule.
    qint16 intMinuteCount = 0;

public slots:
    void cboTimer_Click();
    void tmrChk_Timer();
    void imgStat_Click();
    void txtPvnMsg_LostFocus();
    void cmdManual_Click();

protected:
    void saveState() override;

private:
    // Marks the window busy while a handler runs that may wait inside a message box or on the network.
    class BusyGuard {
    public:
        explicit BusyGuard(frmControl *w) : w_(w) {
            if (w_->busy_++ == 0)
                w_->showBusy(true);
        }
        ~BusyGuard() {
            if (w_ && --w_->busy_ == 0)
                w_->showBusy(false);
        }
        BusyGuard(const BusyGuard &) = delete;
        BusyGuard &operator=(const BusyGuard &) = delete;

    private:
        QPointer<frmControl> w_;
    };

    // What the session shows goes through the window's sink, the window marked busy meanwhile.
    class BoxSink final : public MessageSink {
    public:
        explicit BoxSink(frmControl *w) : w_(w) {}
        void show(const QString &text, const QString &title, int style) override;

    private:
        frmControl *w_;
    };

    // True, after a box that says what to fill in and where, while the settings a transfer needs
    // are incomplete: then nothing is tried.
    bool refuseWithoutSettings();
    void buildControls(QWidget *client);
    void runCheck();
    void showIpData();
    void showState(bool open);
    void focusMoved(QWidget *old, QWidget *now);
    void settleMessageFocus();
    void showBusy(bool busy);
    void judgeWaitingMessage();

    SettingsStore &store_;
    CheckSession *session_ = nullptr;
    MessageSink *sink_ = nullptr;
    std::unique_ptr<MessageSink> defaultSink_;
    std::unique_ptr<BoxSink> boxSink_;
    int tickMs_ = kTickMs;
    int busy_ = 0;
    bool inLostFocus_ = false;
    bool messageLeft_ = false;  // the closed message lost the focus to something not a control
    bool messageWaits_ = false; // and to a control while a check ran: judged after it
    bool manualDue_ = false;    // a change waits for "手動ｱｯﾌﾟ"
    bool closed_ = false;       // closed while a check ran: the window goes once it has unwound
    // The image list: drawn once per window, not at every check.
    QPixmap imgLstClosed_;
    QPixmap imgLstOpen_;
};
