// The controller window's half that owns the gateway data file: reading and showing it,
// deciding when to publish it, and the three user actions on the gateway frame.
#include "controller/frmcontrol.h"

#include "controller/ipdata.h"
#include "controller/statuspictures.h"
#include "controller/waitcursor.h"

#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

namespace {
const QString kOn = u"on"_s;
const QString kOff = u"off"_s;
} // namespace

FtpClient &frmControl::ftp() {
    if (ftp_)
        return *ftp_;
    if (!defaultFtp_)
        defaultFtp_ = std::make_unique<CurlFtpClient>(messageSink());
    return *defaultFtp_;
}

bool frmControl::FTPGet(const QString &strFtpSvr, const QString &strUserID, const QString &strPassword,
                        const QString &strRemoteFile, const QString &strLocalFile) {
    const WaitCursor wait;
    return ftp().FTPGet(strFtpSvr, strUserID, strPassword, strRemoteFile, strLocalFile);
}

bool frmControl::FtpPut(const QString &strFtpSvr, const QString &strUserID, const QString &strPassword,
                        const QString &strRemoteFile, const QString &strLocalFile) {
    const WaitCursor wait;
    return ftp().FtpPut(strFtpSvr, strUserID, strPassword, strRemoteFile, strLocalFile);
}

void frmControl::showState(bool open) {
    if (imgLstOpen_.isNull()) {
        imgLstClosed_ = statuspictures::closed();
        imgLstOpen_ = statuspictures::open();
    }
    imgStat->setPixmap(open ? imgLstOpen_ : imgLstClosed_);
}

void frmControl::ReadIpData() {
    SettingsRecord &rec = store_.record();
    const ipdata::ReadResult file = ipdata::read(strXferLocal);
    // No working copy (the first download failed, or the server has none yet): the last
    // known state stands in for it.
    varIpData = ipdata::padded(file.status == ipdata::ReadStatus::Ok
                                   ? file.fields
                                   : QStringList{rec.strPvnSt, rec.strPvnIp, rec.strPvnMsg});
    const bool open = varIpData[0] == kOn;
    imgStat->setToolTip(open ? u"Porvane 公開中"_s : u"Porvane 閉鎖中"_s);
    showState(open);
    rec.strPvnSt = varIpData[0];
    rec.strPvnIp = varIpData[1];
    rec.strPvnMsg = varIpData[2];
    lblPvnIp->setText(varIpData[1]);
    txtPvnMsg->setText(varIpData[2]);
}

void frmControl::DownloadIpData() {
    const SettingsRecord &rec = store_.record();
    strXferSvr = rec.strFtpSv;
    strXferUser = rec.strFtpUser;
    strXferPass = rec.strFtpPass;
    strXferRemote = rec.strFtpPath;
    strXferLocal = store_.ipDataPath();
    const QPointer<frmControl> self(this);
    // Never replaces the working copy: only the first download of a run fetches the file.
    FTPGet(strXferSvr, strXferUser, strXferPass, strXferRemote, strXferLocal);
    if (self)
        ReadIpData();
}

bool frmControl::publishSequence() {
    const QPointer<frmControl> self(this);
    bool uploaded = false;
    if (ipdata::write(strXferLocal, varIpData)) {
        uploaded = FtpPut(strXferSvr, strXferUser, strXferPass, strXferRemote, strXferLocal);
    } else {
        // Nothing half-written is uploaded; the display falls back to the file as it is.
        messageSink().show(u"ipdata.txt を書き込めませんでした。アップロードしません。\r\n"_s + strXferLocal,
                           u"Zentrow"_s, MessageSink::Exclamation);
    }
    if (self)
        DownloadIpData();
    return uploaded;
}

void frmControl::PublishIfChanged() {
    SettingsRecord &rec = store_.record();
    if (rec.strWanIp == rec.strLastWanIp)
        return;
    // Nothing detected yet (an SMTP reply comes later): there is nothing to publish.
    if (rec.strWanIp.isEmpty() || rec.strWanIp == kNoAddress)
        return;
    const BusyGuard busy(this);
    if (rec.intChkAuto == 1) {
        varIpData[1] = rec.strWanIp;
        const QString published = rec.strWanIp;
        // A failed upload leaves the address unpublished, so the next check tries again.
        if (publishSequence())
            rec.strLastWanIp = published;
        return;
    }
    const QPointer<frmControl> self(this);
    messageSink().show(u"WAN IP が変更されています。\r\n手動で ipdata ファイルをアップロードして下さい。"_s,
                       u"WAN IP 変更"_s, MessageSink::Information);
    if (self)
        cmdManual->setEnabled(true);
}

void frmControl::imgStat_Click() {
    const BusyGuard busy(this);
    const bool open = varIpData[0] != kOn;
    varIpData[0] = open ? kOn : kOff;
    // The picture changes at once; the tooltip follows when the file is read back.
    showState(open);
    publishSequence();
}

void frmControl::txtPvnMsg_LostFocus() {
    SettingsRecord &rec = store_.record();
    if (inLostFocus_ || txtPvnMsg->text() == rec.strPvnMsg)
        return;
    const BusyGuard busy(this);
    inLostFocus_ = true;
    const QPointer<frmControl> self(this);
    varIpData[2] = txtPvnMsg->text();
    if (rec.intChkAuto == 1) {
        publishSequence();
    } else {
        messageSink().show(u"リンク停止メッセージが変更されました。\r\n手動でアップロードして下さい。"_s,
                           u"メッセージ変更"_s, MessageSink::Information);
        if (self)
            cmdManual->setEnabled(true);
    }
    if (self)
        inLostFocus_ = false;
}

void frmControl::cmdManual_Click() {
    SettingsRecord &rec = store_.record();
    const BusyGuard busy(this);
    const QPointer<frmControl> self(this);
    const QString address = rec.strWanIp;
    // Nothing detected yet: the file keeps the address it has (a message edit still goes out).
    const bool detected = !address.isEmpty() && address != kNoAddress;
    if (detected)
        varIpData[1] = address;
    // Only a file the server took clears the pending upload; after a failure the button stays.
    if (!publishSequence() || !self)
        return;
    if (detected)
        rec.strLastWanIp = address;
    cmdManual->setEnabled(false);
}

bool frmControl::eventFilter(QObject *watched, QEvent *event) {
    if (watched == txtPvnMsg && event->type() == QEvent::FocusOut) {
        // Leaving the box, not the window: a box or another program taking the focus is no edit.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            QMetaObject::invokeMethod(this, &frmControl::txtPvnMsg_LostFocus, Qt::QueuedConnection);
    }
    return MdiChild::eventFilter(watched, event);
}
