// The controller window's half that shows the gateway data file and takes the three user actions
// on the gateway frame; the session does the work.
#include "windows/frmcontrol.h"

#include "windows/statuspictures.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

void frmControl::showState(bool open) {
    // Each picture is drawn when first shown: the open one loads a bold font of its own.
    QPixmap &picture = open ? imgLstOpen_ : imgLstClosed_;
    if (picture.isNull())
        picture = open ? statuspictures::open() : statuspictures::closed();
    imgStat->setPixmap(picture);
}

void frmControl::showIpData() {
    const QStringList &fields = session_->varIpData;
    const bool open = fields[0] == CheckSession::kOn;
    imgStat->setToolTip(open ? u"Porvane 公開中"_s : u"Porvane 閉鎖中"_s);
    showState(open);
    lblPvnIp->setText(fields[1]);
    // A message being typed, or left unjudged, stays as typed: it is judged when the box loses the focus.
    if (!txtPvnMsg->isModified())
        txtPvnMsg->setText(fields[2]);
}

void frmControl::ReadIpData() {
    session_->ReadIpData();
}

void frmControl::DownloadIpData() {
    session_->DownloadIpData();
}

void frmControl::PublishIfChanged() {
    const BusyGuard busy(this);
    session_->PublishIfChanged();
}

void frmControl::imgStat_Click() {
    if (isCheckRunning() || refuseWithoutSettings())
        return;
    const BusyGuard busy(this);
    const bool open = session_->varIpData[0] != CheckSession::kOn;
    // The picture changes at once, painted before the upload begins; the tooltip follows when the
    // file is read back.
    showState(open);
    imgStat->repaint();
    session_->publishState(open);
}

void frmControl::txtPvnMsg_LostFocus() {
    if (inLostFocus_ || session_->isCancelled())
        return;
    // Never two at once: judged once the check or action under way has ended.
    if (isCheckRunning()) {
        messageWaits_ = true;
        return;
    }
    const BusyGuard busy(this);
    inLostFocus_ = true;
    const QPointer<frmControl> self(this);
    // An edit goes nowhere without the settings; it stays in the box.
    if (txtPvnMsg->text() == store_.record().strPvnMsg || !refuseWithoutSettings()) {
        txtPvnMsg->setModified(false);
        session_->messageEdited(txtPvnMsg->text());
    }
    if (self)
        inLostFocus_ = false;
}

void frmControl::judgeWaitingMessage() {
    // Back in the box meanwhile: judged when it loses the focus again.
    if (std::exchange(messageWaits_, false) && QApplication::focusWidget() != txtPvnMsg)
        txtPvnMsg_LostFocus();
}

void frmControl::cmdManual_Click() {
    if (isCheckRunning() || refuseWithoutSettings())
        return;
    const BusyGuard busy(this);
    const QPointer<frmControl> self(this);
    if (session_->manualUpload() && self)
        manualDue_ = false;
}

void frmControl::focusMoved(QWidget *old, QWidget *now) {
    // Judged once the focus has settled: a sub-window hands the focus on to a child of its own
    // within the change that gave it the focus.
    if (old == txtPvnMsg || (messageLeft_ && now != txtPvnMsg))
        QMetaObject::invokeMethod(this, &frmControl::settleMessageFocus, Qt::QueuedConnection);
}

void frmControl::settleMessageFocus() {
    QWidget *now = QApplication::focusWidget();
    if (now == txtPvnMsg) {
        messageLeft_ = false;
        return;
    }
    // Only a move to another control of this window is an edit left behind. A press on the title
    // bar or the close button, a box, another program or the window closing is none, yet.
    messageLeft_ = !(now && widget() && widget()->isAncestorOf(now));
    if (!messageLeft_)
        txtPvnMsg_LostFocus();
}
