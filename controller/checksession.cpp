#include "controller/checksession.h"

#include "controller/ipdata.h"
#include "controller/messagebox.h"
#include "controller/smtpexchange.h"
#include "settings/codepage.h"

#include <QPointer>

using namespace Qt::Literals::StringLiterals;

namespace {

// Brackets a blocking network call with the session's hook.
class Blocking {
public:
    explicit Blocking(const std::function<void(bool)> &hook) : hook_(hook) {
        if (hook_)
            hook_(true);
    }
    ~Blocking() {
        if (hook_)
            hook_(false);
    }
    Blocking(const Blocking &) = delete;
    Blocking &operator=(const Blocking &) = delete;

private:
    std::function<void(bool)> hook_;
};

} // namespace

CheckSession::CheckSession(SettingsStore &store, QObject *parent) : QObject(parent), store_(store) {
    smtp_ = new SmtpExchange(this);
    connect(smtp_, &SmtpExchange::addressTaken, this, &CheckSession::setWanIp);
}

CheckSession::~CheckSession() = default;

void CheckSession::setMessageSink(MessageSink *sink) {
    sink_ = sink;
    smtp_->setMessageSink(&messageSink());
}

MessageSink &CheckSession::messageSink() {
    if (sink_)
        return *sink_;
    if (!defaultSink_)
        defaultSink_ = std::make_unique<StreamMessageSink>();
    return *defaultSink_;
}

FtpClient &CheckSession::ftp() {
    if (ftp_)
        return *ftp_;
    if (!defaultFtp_)
        defaultFtp_ = std::make_unique<CurlFtpClient>(messageSink());
    return *defaultFtp_;
}

wancheck::HttpFetcher &CheckSession::fetcher() {
    if (fetcher_)
        return *fetcher_;
    if (!defaultFetcher_)
        defaultFetcher_ = std::make_unique<wancheck::CurlHttpFetcher>();
    return *defaultFetcher_;
}

void CheckSession::setWanIp(const QString &address) {
    store_.record().strWanIp = address;
    emit wanIpDetected(address);
}

void CheckSession::cancel() {
    cancelled_ = true;
    smtp_->stop();
}

void CheckSession::CheckWanIp() {
    if (cancelled_)
        return;
    const SettingsRecord &rec = store_.record();
    if (rec.intIpChk == 1) {
        smtp_->setMessageSink(&messageSink());
        smtp_->start(rec.strIpAdd);
        return;
    }
    std::optional<QByteArray> body;
    {
        const Blocking wait(blockingHook_);
        body = fetcher().fetch(rec.strIpAdd);
    }
    if (!body)
        return;
    if (const std::optional<QString> address = wancheck::addressFromCgiBody(codepage::fromAnsi(*body)))
        setWanIp(*address);
}

bool CheckSession::FTPGet() {
    const Blocking wait(blockingHook_);
    return ftp().FTPGet(strXferSvr, strXferUser, strXferPass, strXferRemote, strXferLocal);
}

bool CheckSession::FtpPut() {
    const Blocking wait(blockingHook_);
    return ftp().FtpPut(strXferSvr, strXferUser, strXferPass, strXferRemote, strXferLocal);
}

void CheckSession::ReadIpData() {
    SettingsRecord &rec = store_.record();
    const ipdata::ReadResult file = ipdata::read(strXferLocal);
    // No working copy (the first download failed, or the server has none yet): the last
    // known state stands in for it.
    varIpData = ipdata::padded(file.status == ipdata::ReadStatus::Ok
                                   ? file.fields
                                   : QStringList{rec.strPvnSt, rec.strPvnIp, rec.strPvnMsg});
    rec.strPvnSt = varIpData[0];
    rec.strPvnIp = varIpData[1];
    rec.strPvnMsg = varIpData[2];
    emit ipDataRead();
}

void CheckSession::DownloadIpData() {
    if (cancelled_)
        return;
    const SettingsRecord &rec = store_.record();
    strXferSvr = rec.strFtpSv;
    strXferUser = rec.strFtpUser;
    strXferPass = rec.strFtpPass;
    strXferRemote = rec.strFtpPath;
    strXferLocal = store_.ipDataPath();
    const QPointer<CheckSession> self(this);
    // Never replaces the working copy: only the first download of a run fetches the file.
    FTPGet();
    if (alive(self))
        ReadIpData();
}

bool CheckSession::publishSequence() {
    if (cancelled_)
        return false;
    const QPointer<CheckSession> self(this);
    bool uploaded = false;
    if (ipdata::write(strXferLocal, varIpData)) {
        uploaded = FtpPut();
    } else {
        // Nothing half-written is uploaded; the display falls back to the file as it is.
        messageSink().show(u"ipdata.txt を書き込めませんでした。アップロードしません。\r\n"_s + strXferLocal,
                           u"Zentrow"_s, MessageSink::Exclamation);
    }
    if (!alive(self))
        return false;
    DownloadIpData();
    return uploaded;
}

void CheckSession::PublishIfChanged() {
    SettingsRecord &rec = store_.record();
    if (cancelled_ || rec.strWanIp == rec.strLastWanIp)
        return;
    // Nothing detected yet (an SMTP reply comes later): there is nothing to publish.
    if (!SettingsRecord::isDetected(rec.strWanIp))
        return;
    if (rec.intChkAuto == 1) {
        varIpData[1] = rec.strWanIp;
        const QString published = rec.strWanIp;
        // A failed upload leaves the address unpublished, so the next check tries again.
        const QPointer<CheckSession> self(this);
        if (publishSequence() && self)
            rec.strLastWanIp = published;
        return;
    }
    const QPointer<CheckSession> self(this);
    messageSink().show(u"WAN IP が変更されています。\r\n手動で ipdata ファイルをアップロードして下さい。"_s,
                       u"WAN IP 変更"_s, MessageSink::Information);
    if (alive(self))
        emit manualUploadDue();
}

bool CheckSession::publishState(bool open) {
    varIpData[0] = open ? kOn : kOff;
    return publishSequence();
}

void CheckSession::messageEdited(const QString &text) {
    SettingsRecord &rec = store_.record();
    if (cancelled_ || text == rec.strPvnMsg)
        return;
    varIpData[2] = text;
    if (rec.intChkAuto == 1) {
        publishSequence();
        return;
    }
    const QPointer<CheckSession> self(this);
    messageSink().show(u"リンク停止メッセージが変更されました。\r\n手動でアップロードして下さい。"_s,
                       u"メッセージ変更"_s, MessageSink::Information);
    if (alive(self))
        emit manualUploadDue();
}

bool CheckSession::manualUpload() {
    SettingsRecord &rec = store_.record();
    const QPointer<CheckSession> self(this);
    const QString address = rec.strWanIp;
    // Nothing detected yet: the file keeps the address it has (a message edit still goes out).
    const bool detected = SettingsRecord::isDetected(address);
    if (detected)
        varIpData[1] = address;
    // Only a file the server took clears the pending upload; after a failure it stays due.
    if (!publishSequence() || !self)
        return false;
    if (detected)
        rec.strLastWanIp = address;
    return true;
}
