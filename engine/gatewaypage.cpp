#include "engine/gatewaypage.h"

#include "engine/wancheck.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

namespace gatewaypage {

namespace {

// Digits without their leading zeros, as the page writes IPv4 octets and ports; other text as it is.
QString withoutLeadingZeros(const QString &text) {
    static const QRegularExpression digits(u"^\\d{1,5}$"_s);
    return digits.match(text).hasMatch() ? QString::number(text.toInt()) : text;
}

// The address field as the page's link writes its host and port.
QString linkHost(const QString &address) {
    if (!address.startsWith(u'[') && QHostAddress(address).protocol() == QAbstractSocket::IPv6Protocol)
        return u'[' + address + u']';
    QString host = address, port;
    const qsizetype colon = address.lastIndexOf(u':');
    if (colon > 0 && (address.startsWith(u'[') ? address[colon - 1] == u']' : address.count(u':') == 1)) {
        host = address.left(colon);
        port = withoutLeadingZeros(address.mid(colon + 1));
    }
    static const QRegularExpression ipv4(u"^\\d+\\.\\d+\\.\\d+\\.\\d+$"_s);
    if (ipv4.match(host).hasMatch()) {
        QStringList octets = host.split(u'.');
        for (QString &octet : octets)
            octet = withoutLeadingZeros(octet);
        host = octets.join(u'.');
    }
    return port.isNull() ? host : host + u':' + port;
}

} // namespace

QString expectedAnswer(const QString &state, const QString &address) {
    // An open gateway without an address shows the closed text.
    if (state != u"on"_s || address.isEmpty())
        return u"off"_s;
    return u"on,"_s + linkHost(address);
}

QString stateUrl(const QString &pageUrl) {
    QUrl url(pageUrl.trimmed());
    url.setQuery(u"state"_s);
    return url.toString(QUrl::FullyEncoded);
}

QString Confirmation::logText() const {
    switch (kind) {
    case Confirmed:
        return u", confirmed"_s;
    case Shows:
        return u", page shows "_s + seen;
    case NoAnswer:
        return u", page gave no state answer"_s;
    case Answered:
        return u", page answered "_s + seen;
    case Unreachable:
        break;
    }
    return u", page not reachable: "_s + seen;
}

QString Confirmation::message() const {
    QString text = u"ipdata.txt はサーバに置きましたが、ゲートウェイのページ (「公開ﾍﾟｰｼﾞ」) は"
                   u"それを表示していません。\r\n"_s;
    switch (kind) {
    case Confirmed:
        return {};
    case Shows:
        return text + u"ページの表示: %1 (公開したもの: %2)\r\n"_s.arg(seen, due) +
               u"「ｱｯﾌﾟﾛｰﾄﾞ先ﾌｧｲﾙ（ﾌﾙﾊﾟｽ）」が Porvane.cgi と同じフォルダの ipdata.txt か"
               u" (FTP のログイン先と Web の公開フォルダは違うことがあります)、"
               u"Web サーバが ipdata.txt を読めるか (644)、ページの前にキャッシュがないかを確かめて下さい。"_s;
    case NoAnswer:
        return text + u"ページが状態を答えません (Porvane.cgi でないか、古い Porvane.cgi です)。\r\n"
                      u"「公開ﾍﾟｰｼﾞ」が Porvane.cgi を指しているか確かめ、Porvane.cgi を新しいものに"
                      u"置き換えて下さい。"_s;
    case Answered:
        return text + u"ページが HTTP %1 を返しました。\r\n"_s.arg(seen) +
               u"「公開ﾍﾟｰｼﾞ」の URL と、Porvane.cgi (755)・.htaccess (644)・フォルダ (755) の"
               u"パーミッションを確かめて下さい。"_s;
    case Unreachable:
        break;
    }
    return text + u"ページに届きません (%1)。\r\n"_s.arg(seen) +
           u"「公開ﾍﾟｰｼﾞ」の URL と、このコンピュータのネットワーク接続を確かめて下さい。"_s;
}

Confirmation confirm(const QString &pageUrl, const QStringList &fields, std::function<bool()> stop) {
    Confirmation c;
    c.due = expectedAnswer(fields.value(0), fields.value(1));
    wancheck::CurlHttpFetcher fetcher;
    fetcher.setStop(std::move(stop));
    const std::optional<QByteArray> body = fetcher.fetch(stateUrl(pageUrl), wancheck::IpVersion::V4);
    if (!body) {
        const long status = fetcher.lastStatus();
        const bool refused = status != 0 && (status < 200 || status > 299);
        c.kind = refused ? Confirmation::Answered : Confirmation::Unreachable;
        c.seen = refused ? QString::number(status) : fetcher.lastError();
        return c;
    }
    // One short line of printable ASCII: it goes into the log as it is.
    const QString answer = QString::fromLatin1(*body).trimmed();
    static const QRegularExpression form(u"^(off|on,[!-~]{1,300})$"_s);
    if (!form.match(answer).hasMatch())
        c.kind = Confirmation::NoAnswer;
    else if (answer != c.due) {
        c.kind = Confirmation::Shows;
        c.seen = answer;
    }
    return c;
}

} // namespace gatewaypage
