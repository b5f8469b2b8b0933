#include "engine/checksession.h"

#include "engine/checklog.h"
#include "engine/codepage.h"
#include "engine/ipdata.h"
#include "engine/smtpexchange.h"

#include <QEventLoop>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

// Brackets a call that waits on the network with the session's hook. The thread's events are handled
// meanwhile; the mail server's exchange waits for the end of the call, as when such a call blocked.
class Blocking {
public:
    Blocking(const std::function<void(bool)> &hook, SmtpExchange &smtp) : hook_(hook), smtp_(&smtp) {
        smtp_->hold(true);
        if (hook_)
            hook_(true);
    }
    ~Blocking() {
        if (hook_)
            hook_(false);
        if (smtp_)
            smtp_->hold(false);
    }
    Blocking(const Blocking &) = delete;
    Blocking &operator=(const Blocking &) = delete;

private:
    std::function<void(bool)> hook_;
    QPointer<SmtpExchange> smtp_; // gone with the session, when the run ended meanwhile
};

// A failure's text on one line, for the log.
QString oneLine(const QString &text) {
    return QString(text).replace(u"\r\n"_s, u" — "_s);
}

} // namespace

void CheckSession::Boxes::show(const QString &text, const QString &title, int style) {
    if (style == Exclamation) {
        s_.lastFailure_ = text;
        // The same failure met again in one check or action (a download tried again before a
        // publication) is told once.
        if (s_.shown_.contains(text))
            return;
        s_.shown_ << text;
    }
    MessageSink *target = s_.sink_;
    if (!target) {
        if (!s_.defaultSink_)
            s_.defaultSink_ = std::make_unique<StreamMessageSink>();
        target = s_.defaultSink_.get();
    }
    target->show(text, title, style);
}

CheckSession::CheckSession(SettingsStore &store, QObject *parent) : QObject(parent), store_(store) {
    smtp_ = new SmtpExchange(this);
    smtp_->setMessageSink(&boxes_);
    connect(smtp_, &SmtpExchange::addressTaken, this, &CheckSession::setWanIp);
    connect(smtp_, &SmtpExchange::judged, this, [this](bool address) {
        static const QString help = u"メールサーバの EHLO の答えにアドレスがありません。"
                                    u"「設定(&S)」で「nomrel.cgi を使用（推奨）」に切り替えて下さい。"_s;
        if (!address)
            noAddress(u"the mail server's reply holds no address"_s, help);
    });
    connect(smtp_, &SmtpExchange::finished, this, [this](bool judged) {
        static const QString help = u"メールサーバに接続できないか、時間内 (30 秒) に答えがありません。"
                                    u"「ｱﾄﾞﾚｽ」のサーバ名とポートを確かめるか、nomrel.cgi を使って下さい。"_s;
        if (!judged)
            noAddress(u"the mail server did not answer"_s, help);
    });
}

CheckSession::~CheckSession() = default;

FtpClient &CheckSession::ftp() {
    if (ftp_)
        return *ftp_;
    if (!defaultFtp_) {
        defaultFtp_ = std::make_unique<CurlFtpClient>(boxes_);
        defaultFtp_->setStop([this] { return cancelled_; });
    }
    defaultFtp_->setTls(store_.record().intFtpTls != 0);
    return *defaultFtp_;
}

wancheck::HttpFetcher &CheckSession::fetcher() {
    if (fetcher_)
        return *fetcher_;
    if (!defaultFetcher_) {
        auto fetcher = std::make_unique<wancheck::CurlHttpFetcher>();
        fetcher->setStop([this] { return cancelled_; });
        defaultFetcher_ = std::move(fetcher);
    }
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

void CheckSession::beginTelling() {
    shown_.clear();
    readFailure_.clear();
}

void CheckSession::noAddress(const QString &why, const QString &help) {
    noAddressWhy_ = why;
    noAddressHelp_ = help;
}

void CheckSession::CheckWanIp() {
    if (cancelled_)
        return;
    const SettingsRecord &rec = store_.record();
    const wancheck::IpVersion version = rec.ipVersion();
    beginTelling();
    noAddress({}, {});
    if (rec.intIpChk == 1) {
        // IPv4 only: settings that pair it with IPv6 mode stop a check before it starts.
        smtp_->start(rec.strIpAdd);
        return;
    }
    std::optional<QByteArray> body;
    {
        const Blocking wait(blockingHook_, *smtp_);
        body = fetcher().fetch(rec.strIpAdd, version);
    }
    if (!body) {
        noAddress(fetcher().lastError(), fetcher().lastHelp());
        return;
    }
    if (const auto address = wancheck::addressFromCgiBody(codepage::fromAnsi(*body), version)) {
        setWanIp(*address);
    } else if (version == wancheck::IpVersion::V4) {
        noAddress(u"the answer is not an address"_s,
                  u"nomrel.cgi の答えがアドレスではありません (8 文字、アドレス、8 文字の形ではない)。"
                  u"「ｱﾄﾞﾚｽ」が nomrel.cgi を指しているか確かめて下さい。"_s);
    } else {
        // Reached over IPv6, yet no address the world can reach: a setting to fix, not a passing fault.
        const QString help =
            u"Web サーバーに IPv6 (AAAA レコード) で届くか、ｱﾄﾞﾚｽの URL を確かめて下さい。"_s;
        noAddress(u"the answer is not a global IPv6 address"_s, help);
        boxes_.show(u"nomrel.cgi が IPv6 のグローバルアドレスを返していません。\r\n"_s + help,
                    u"WAN IP 情報"_s, MessageSink::Information);
    }
}

void CheckSession::waitForDetection() {
    if (!smtp_->isRunning())
        return;
    QEventLoop loop;
    connect(smtp_, &SmtpExchange::judged, &loop, &QEventLoop::quit);
    connect(smtp_, &SmtpExchange::finished, &loop, &QEventLoop::quit);
    // However the server trickles its replies, the wait is bounded as one reply is.
    QTimer::singleShot(smtp_->replyTimeout(), &loop, &QEventLoop::quit);
    loop.exec();
    smtp_->close();
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
    FtpClient::GetStatus status;
    {
        // Never replaces the working copy: only the first download of a run fetches the file.
        const Blocking wait(blockingHook_, *smtp_);
        status = ftp().download(strXferSvr, strXferUser, strXferPass, strXferRemote, strXferLocal);
    }
    if (!alive(self))
        return;
    if (status == FtpClient::GetStatus::Broken || status == FtpClient::GetStatus::Failed) {
        readFailure_ = lastFailure_;
    } else {
        serverKnown_ = true;
        if (status != FtpClient::GetStatus::LocalExists)
            readFailure_.clear();
    }
    ReadIpData();
}

bool CheckSession::FtpPut() {
    const Blocking wait(blockingHook_, *smtp_);
    return ftp().FtpPut(strXferSvr, strXferUser, strXferPass, strXferRemote, strXferLocal);
}

bool CheckSession::publish(const std::function<void(QStringList &)> &change) {
    page_.reset();
    if (cancelled_)
        return false;
    const QPointer<CheckSession> self(this);
    if (!serverKnown_) {
        // A publication starts from the server's state, never from the record's memory of it: the
        // server may hold another state and message. Unreached, it is left as it is.
        const SettingsRecord &rec = store_.record();
        const QStringList before = varIpData, remembered{rec.strPvnSt, rec.strPvnIp, rec.strPvnMsg};
        // Tried again unless this very check has just failed to read it.
        if (readFailure_.isEmpty())
            DownloadIpData();
        if (!alive(self))
            return false;
        if (!serverKnown_) {
            lastFailure_ = readFailure_;
            varIpData = before;
            emit ipDataRead();
            return false;
        }
        // What was edited meanwhile (a message waiting for the manual upload) goes on top of it.
        for (int i = 0; i < ipdata::kFieldCount; ++i)
            if (before.value(i) != remembered[i])
                varIpData[i] = before.value(i);
    }
    change(varIpData);
    const QStringList written = varIpData;
    bool uploaded = false;
    if (ipdata::write(strXferLocal, varIpData)) {
        uploaded = FtpPut();
    } else {
        // Nothing half-written is uploaded; the display falls back to the file as it is.
        boxes_.show(u"ipdata.txt を書き込めませんでした。アップロードしません。\r\n"_s + strXferLocal +
                        u"\r\nプログラムフォルダの権限と空き容量を確かめて下さい。"_s,
                    u"Zentrow"_s, MessageSink::Exclamation);
    }
    if (!alive(self))
        return false;
    // The log names what stopped the upload, not what the read-back met.
    const QString failure = lastFailure_;
    DownloadIpData();
    lastFailure_ = failure;
    if (uploaded && alive(self))
        confirmPage(written);
    return uploaded;
}

void CheckSession::confirmPage(const QStringList &published) {
    const QString url = store_.record().strPvnUrl.trimmed();
    if (url.isEmpty())
        return;
    {
        const Blocking wait(blockingHook_, *smtp_);
        page_ = gatewaypage::confirm(url, published, [this] { return cancelled_; });
    }
    // Nothing is shown once the run has ended meanwhile.
    if (!page_->confirmed() && !cancelled_)
        boxes_.show(page_->message(), gatewaypage::kTitle, MessageSink::Exclamation);
}

CheckSession::Outcome CheckSession::report(Outcome outcome) {
    const SettingsRecord &rec = store_.record();
    const bool smtp = rec.intIpChk == 1;
    QString text = (smtp ? u"smtp "_s : u"cgi "_s) +
                   (rec.isPublishable(rec.strWanIp) ? rec.addressField(rec.strWanIp) : u"-"_s);
    // The server's file could not be read in this check: said even when nothing was to be published.
    const QString unread =
        readFailure_.isEmpty() ? QString() : u"; gateway file not read: "_s + oneLine(readFailure_);
    // A page that shows no link is no surprise when the line says so.
    const QString closed = serverKnown_ && readFailure_.isEmpty() && varIpData.value(0) != kOn
                               ? u" (gateway closed)"_s
                               : QString();
    switch (outcome) {
    case Outcome::Unchanged:
        text += u" unchanged"_s + (unread.isEmpty() ? closed : unread);
        break;
    case Outcome::NoAddress: {
        if (noAddressWhy_.isEmpty() && smtp && smtp_->isRunning())
            noAddress(u"the mail server's reply comes later"_s,
                      u"メールサーバの答えは後から届きます。そのアドレスは次のチェックで公開します。"_s);
        const QString help = noAddressHelp_.isEmpty() ? QString() : u" — "_s + noAddressHelp_;
        text += u" no address"_s + (noAddressWhy_.isEmpty() ? QString() : u": "_s + noAddressWhy_ + help) +
                unread;
        break;
    }
    case Outcome::Published:
        text += u" published"_s + closed + (page_ ? page_->logText() : QString());
        break;
    case Outcome::UploadFailed:
        text += u" upload failed"_s + (lastFailure_.isEmpty() ? QString() : u": "_s + oneLine(lastFailure_));
        break;
    case Outcome::Manual:
        text += u" not uploaded: manual mode"_s + (unread.isEmpty() ? closed : unread);
        break;
    case Outcome::Cancelled:
        return outcome;
    }
    lastReport_ = text;
    checklog::append(store_.programFolder(), text);
    return outcome;
}

CheckSession::Outcome CheckSession::PublishIfChanged() {
    if (cancelled_)
        return Outcome::Cancelled;
    SettingsRecord &rec = store_.record();
    lastFailure_.clear();
    // Nothing detected yet (an SMTP reply comes later): there is nothing to publish.
    if (!rec.isPublishable(rec.strWanIp))
        return report(Outcome::NoAddress);
    // The address with the link port, as published: a new port is a change too.
    const QString field = rec.addressField(rec.strWanIp);
    if (field == rec.strLastWanIp)
        return report(Outcome::Unchanged);
    const QPointer<CheckSession> self(this);
    if (rec.intChkAuto == 1) {
        const bool published = publish([&field](QStringList &fields) { fields[1] = field; });
        if (!alive(self))
            return Outcome::Cancelled;
        // A failed upload leaves the address unpublished, so the next check tries again.
        if (!published)
            return report(Outcome::UploadFailed);
        rec.strLastWanIp = field;
        return report(Outcome::Published);
    }
    boxes_.show(u"WAN IP が変更されています。\r\n手動で ipdata ファイルをアップロードして下さい。"_s,
                u"WAN IP 変更"_s, MessageSink::Information);
    if (!alive(self))
        return Outcome::Cancelled;
    emit manualUploadDue();
    return report(Outcome::Manual);
}

bool CheckSession::changeGateway(const GatewayChange &change) {
    beginTelling();
    lastFailure_.clear();
    const QPointer<CheckSession> self(this);
    const bool uploaded = publish([&change](QStringList &fields) {
        if (change.open)
            fields[0] = *change.open ? kOn : kOff;
        // The new message replaces the whole old one, fields carried beyond it included.
        if (change.message)
            fields = fields.mid(0, ipdata::kFieldCount - 1) << ipdata::messageText(*change.message);
    });
    if (!alive(self))
        return false;
    QStringList what;
    if (change.open)
        what << (*change.open ? u"gateway %1opened"_s : u"gateway %1closed"_s)
                    .arg(uploaded ? u""_s : u"not "_s);
    if (change.message)
        what << (uploaded ? u"message changed"_s : u"message not changed"_s);
    lastReport_ = what.join(u", "_s) + (uploaded && page_ ? page_->logText() : QString());
    if (!uploaded)
        lastReport_ +=
            u": upload failed"_s + (lastFailure_.isEmpty() ? QString() : u": "_s + oneLine(lastFailure_));
    checklog::append(store_.programFolder(), lastReport_);
    return uploaded;
}

void CheckSession::messageEdited(const QString &text) {
    SettingsRecord &rec = store_.record();
    if (cancelled_ || text == rec.strPvnMsg)
        return;
    varIpData[2] = text;
    if (rec.intChkAuto == 1) {
        changeGateway({{}, text});
        return;
    }
    const QPointer<CheckSession> self(this);
    boxes_.show(u"リンク停止メッセージが変更されました。\r\n手動でアップロードして下さい。"_s,
                u"メッセージ変更"_s, MessageSink::Information);
    if (alive(self))
        emit manualUploadDue();
}

bool CheckSession::manualUpload() {
    beginTelling();
    SettingsRecord &rec = store_.record();
    const QPointer<CheckSession> self(this);
    // Nothing detected yet: the file keeps the address it has (a message edit still goes out).
    const bool detected = rec.isPublishable(rec.strWanIp);
    const QString field = rec.addressField(rec.strWanIp);
    const bool published = publish([&](QStringList &fields) {
        if (detected)
            fields[1] = field;
    });
    // Only a file the server took clears the pending upload; after a failure it stays due.
    if (!published || !alive(self))
        return false;
    if (detected)
        rec.strLastWanIp = field;
    return true;
}
