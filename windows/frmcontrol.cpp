#include "windows/frmcontrol.h"

#include "engine/headlesscheck.h"
#include "engine/ipdata.h"
#include "windows/frame.h"
#include "windows/messagebox.h"
#include "windows/twips.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTcpSocket>
#include <QTimer>
#include <QToolTip>
#include <QValidator>

using namespace Qt::Literals::StringLiterals;

void ClickableLabel::mouseReleaseEvent(QMouseEvent *event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

bool AddressLabel::event(QEvent *event) {
    if (event->type() == QEvent::ToolTip &&
        fontMetrics().horizontalAdvance(text()) > contentsRect().width()) {
        QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), toolTip() + u'\n' + text(), this);
        return true;
    }
    return QLabel::event(event);
}

void AddressLabel::paintEvent(QPaintEvent *) {
    QPainter p(this);
    const QRect r = contentsRect();
    style()->drawItemText(&p, r, int(alignment()), palette(), isEnabled(),
                          fontMetrics().elidedText(text(), Qt::ElideMiddle, r.width()), foregroundRole());
}

namespace {

// A comma typed into the closed message becomes the full-width one the file can hold.
class MessageCommas : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override {
        input = ipdata::messageText(input);
        return Acceptable;
    }
};

// Schedule index to the number of ticks between checks; 0 for none.
int threshold(int index) {
    switch (index) {
    case 2:
        return 10;
    case 3:
        return 30;
    case 4:
        return 60;
    default:
        return 0;
    }
}

} // namespace

frmControl::frmControl(SettingsStore &store, QWidget *parent) : MdiChild(parent), store_(store) {
    setWindowTitle(u"ｺﾝﾄﾛｰﾗ"_s);
    buildControls(makeClientArea(7095, 2070));

    tmrChk = new QTimer(this);
    tmrChk->setObjectName(u"tmrChk"_s);
    connect(tmrChk, &QTimer::timeout, this, &frmControl::tmrChk_Timer);

    session_ = new CheckSession(store, this);
    Ws = session_->smtp().Ws;
    connect(session_, &CheckSession::wanIpDetected, lblWanIp, &QLabel::setText);
    connect(session_, &CheckSession::ipDataRead, this, &frmControl::showIpData);
    connect(session_, &CheckSession::manualUploadDue, cmdManual, [this] {
        manualDue_ = true;
        cmdManual->setEnabled(!isCheckRunning());
    });
    boxSink_ = std::make_unique<BoxSink>(this);
    session_->setMessageSink(boxSink_.get());
}

frmControl::~frmControl() {
    // Taking the window apart moves the focus: no focus change may reach it half destroyed.
    disconnect(qApp, nullptr, this, nullptr);
}

void frmControl::buildControls(QWidget *client) {
    const double dpi = twips::logicalDpi(this);
    auto place = [dpi](QWidget *w, const QString &name, double l, double t, double wd, double h) {
        w->setObjectName(name);
        w->setGeometry(twips::rect(l, t, wd, h, dpi));
    };
    // Captions keep their place but grow to their text where this font is wider than the design's.
    auto placeCaption = [dpi](QWidget *w, const QString &name, double l, double t, double wd, double h) {
        w->setObjectName(name);
        twips::placeCaption(w, l, t, wd, h, dpi);
    };

    frmHome = new Frame(u"IpCheck"_s, client);
    place(frmHome, u"frmHome"_s, 180, 240, 2115, 1635);
    lblWan = new QLabel(u"WAN"_s, frmHome);
    placeCaption(lblWan, u"lblWan"_s, 855, 240, 375, 180);
    // Text from the network and from the server's file: never read as markup.
    lblWanIp = new AddressLabel(kNoAddress, frmHome);
    lblWanIp->setTextFormat(Qt::PlainText);
    place(lblWanIp, u"lblWanIp"_s, 180, 480, 1725, 240);
    lblWanIp->setToolTip(u"WAN IP"_s);
    lblTmr = new QLabel(u"ﾀｲﾏｰ"_s, frmHome);
    placeCaption(lblTmr, u"lblTmr"_s, 180, 1020, 420, 180);
    cboTimer = new QComboBox(frmHome);
    place(cboTimer, u"cboTimer"_s, 690, 960, 1215, 300);
    cboTimer->setEditable(false);
    cboTimer->setToolTip(u"ﾀｲﾏｰ設定"_s);

    fraPvn = new Frame(u"IpData 操作"_s, client);
    place(fraPvn, u"fraPvn"_s, 2940, 240, 3975, 1635);
    lblPvn = new QLabel(u"Porvane IPｱﾄﾞﾚｽ"_s, fraPvn);
    placeCaption(lblPvn, u"lblPvn"_s, 517, 240, 1170, 180);
    lblPvnIp = new AddressLabel(kNoAddress, fraPvn);
    lblPvnIp->setTextFormat(Qt::PlainText);
    place(lblPvnIp, u"lblPvnIp"_s, 240, 480, 1725, 240);
    lblPvnIp->setToolTip(u"公開 IP"_s);
    cmdManual = new QPushButton(u"手動ｱｯﾌﾟ"_s, fraPvn);
    place(cmdManual, u"cmdManual"_s, 2520, 420, 975, 435);
    cmdManual->setEnabled(false);
    lblPvnMsg = new QLabel(u"閉鎖時ﾒｯｾｰｼﾞ"_s, fraPvn);
    placeCaption(lblPvnMsg, u"lblPvnMsg"_s, 540, 840, 1110, 180);
    txtPvnMsg = new QLineEdit(fraPvn);
    place(txtPvnMsg, u"txtPvnMsg"_s, 240, 1140, 3495, 270);
    txtPvnMsg->setToolTip(u"閉鎖ﾒｯｾｰｼﾞ"_s);
    txtPvnMsg->setValidator(new MessageCommas(txtPvnMsg));

    imgStat = new ClickableLabel(client);
    place(imgStat, u"imgStat"_s, 2400, 840, 435, 435);
    imgStat->setAlignment(Qt::AlignCenter);

    cboTimer->setFocusPolicy(Qt::StrongFocus);
    txtPvnMsg->setFocusPolicy(Qt::StrongFocus);
    cmdManual->setFocusPolicy(Qt::StrongFocus);
    setTabOrder(cboTimer, txtPvnMsg);
    setTabOrder(txtPvnMsg, cmdManual);

    // Every selection, the opening's included, runs the selection handler.
    connect(cboTimer, &QComboBox::currentIndexChanged, this, &frmControl::cboTimer_Click);
    connect(imgStat, &ClickableLabel::clicked, this, &frmControl::imgStat_Click);
    connect(cmdManual, &QPushButton::clicked, this, &frmControl::cmdManual_Click);
    connect(qApp, &QApplication::focusChanged, this, &frmControl::focusMoved);
}

void frmControl::BoxSink::show(const QString &text, const QString &title, int style) {
    // An open box counts as a running check: ticks meanwhile start none.
    const BusyGuard busy(w_);
    w_->messageSink().show(text, title, style);
}

MessageSink &frmControl::messageSink() {
    if (sink_)
        return *sink_;
    if (!defaultSink_) {
        // Modal over the main window, which outlives this one.
        QWidget *owner = window() != this ? window() : nullptr;
        defaultSink_ = std::make_unique<QtMessageSink>(owner);
    }
    return *defaultSink_;
}

void frmControl::Form_Load() {
    {
        // Filling the list must not count as a selection.
        const QSignalBlocker block(cboTimer);
        cboTimer->clear();
        cboTimer->addItems({u"停止"_s, u"1分"_s, u"10分"_s, u"30分"_s, u"60分"_s});
        cboTimer->setCurrentIndex(-1);
    }
    const SettingsRecord &rec = store_.record();
    // A hand-edited value outside the list selects nothing.
    if (rec.intTimer >= 0 && rec.intTimer < cboTimer->count())
        cboTimer->setCurrentIndex(rec.intTimer);

    setWindowTitle(rec.intChkAuto == 1 ? u"ｺﾝﾄﾛｰﾗ (Auto)"_s : u"ｺﾝﾄﾛｰﾗ (Manual)"_s);
}

void frmControl::openingCheck() {
    const BusyGuard busy(this);
    if (!headless::settingsProblem(store_.record()).isEmpty()) {
        // Nothing can be checked or fetched yet: the remembered state stands, and a box says what
        // to fill in.
        session_->ReadIpData();
        refuseWithoutSettings();
        return;
    }
    const QPointer<frmControl> self(this);
    CheckWanIp();
    if (!self)
        return;
    DownloadIpData();
    if (!self)
        return;
    PublishIfChanged();
}

void frmControl::cboTimer_Click() {
    // Setting the interval restarts the one-minute period.
    if (cboTimer->currentIndex() == 0) {
        tmrChk->stop();
        tmrChk->setInterval(0);
    } else {
        tmrChk->start(tickMs_);
    }
    intMinuteCount = 1;
}

void frmControl::tmrChk_Timer() {
    const int index = cboTimer->currentIndex();
    if (index == 1) {
        runCheck();
        return;
    }
    const int t = threshold(index);
    if (t == 0)
        return;
    // Every tick counts, also while an earlier check waits in one of its boxes or on the network.
    if (intMinuteCount < t) {
        ++intMinuteCount;
        return;
    }
    intMinuteCount = 1;
    runCheck();
}

void frmControl::runCheck() {
    // A check that falls due while an earlier one still waits in a box or on the network is skipped, so
    // checks never overlap and boxes never pile up.
    if (isCheckRunning() || !headless::settingsProblem(store_.record()).isEmpty())
        return;
    const BusyGuard busy(this);
    const QPointer<frmControl> self(this);
    CheckWanIp();
    if (self)
        PublishIfChanged();
}

bool frmControl::refuseWithoutSettings() {
    const QString problem = headless::settingsProblem(store_.record());
    if (problem.isEmpty())
        return false;
    boxSink_->show(problem, u"Zentrow"_s, MessageSink::Information);
    return true;
}

void frmControl::CheckWanIp() {
    session_->CheckWanIp();
}

void frmControl::SaveControllerState() {
    SettingsRecord &rec = store_.record();
    rec.strWanIp = lblWanIp->text();
    rec.intTimer = static_cast<qint16>(cboTimer->currentIndex());
    rec.strPvnIp = lblPvnIp->text();
    rec.strPvnMsg = txtPvnMsg->text();
}

void frmControl::saveState() {
    SaveControllerState();
    // The window is going: no further tick, reply or step of a check waiting in a box or on the network
    // may act, and a transfer under way is dropped.
    tmrChk->stop();
    session_->cancel();
    // The check unwinds first (at once, cancelled); the window goes once it has.
    if (isCheckRunning()) {
        setAttribute(Qt::WA_DeleteOnClose, false);
        closed_ = true;
    }
}

void frmControl::showBusy(bool busy) {
    imgStat->setEnabled(!busy);
    cmdManual->setEnabled(!busy && manualDue_);
    if (busy) {
        setCursor(Qt::WaitCursor);
        return;
    }
    unsetCursor();
    if (closed_)
        deleteLater();
    else if (messageWaits_)
        QMetaObject::invokeMethod(this, &frmControl::judgeWaitingMessage, Qt::QueuedConnection);
}
