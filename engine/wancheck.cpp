#include "engine/wancheck.h"

#include "engine/curlglobal.h"
#include "engine/curlwait.h"

#include "engine/codepage.h"

#include <QHostAddress>
#include <QUrl>

#include <curl/curl.h>

#ifdef __linux__
#include <netinet/in.h>
// After <netinet/in.h>, which leaves the kernel header only what the C library lacks.
#include <linux/in6.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace wancheck {

bool isUsableAddress(const QString &text) {
    for (const QChar c : text) {
        if (c == u',' || c.category() == QChar::Other_Control)
            return false;
    }
    // The address published is the IPv4 one; an IPv6 address (or its mail literal) is none.
    return QHostAddress(text).protocol() != QAbstractSocket::IPv6Protocol &&
           !text.startsWith(u"IPv6:"_s, Qt::CaseInsensitive);
}

std::optional<QString> globalIpv6(const QString &text) {
    // Hex digits, colons and dots only: the parser would forgive blanks, and a scope is no use outside.
    for (const QChar c : text) {
        if (!QStringView(u"0123456789abcdefABCDEF:.").contains(c))
            return std::nullopt;
    }
    const QHostAddress address(text);
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return std::nullopt;
    const Q_IPV6ADDR a = address.toIPv6Address();
    // Loopback, link-local, unique-local, multicast and IPv4-mapped addresses all lie outside 2000::/3.
    if ((a[0] & 0xE0) != 0x20)
        return std::nullopt;
    // 2001:db8::/32 and 3fff::/20 are for documentation only.
    if ((a[0] == 0x20 && a[1] == 0x01 && a[2] == 0x0D && a[3] == 0xB8) ||
        (a[0] == 0x3F && a[1] == 0xFF && (a[2] & 0xF0) == 0))
        return std::nullopt;
    return address.toString(); // lower case, the longest run of zero groups as "::"
}

std::optional<QString> addressFromCgiBody(const QString &body, IpVersion version) {
    if (body.size() < 2 * kCgiFrame || body.size() > kCgiBodyMax)
        return std::nullopt;
    QString address = body.mid(kCgiFrame, body.size() - 2 * kCgiFrame);
    if (version == IpVersion::V6)
        return globalIpv6(address);
    if (!isUsableAddress(address))
        return std::nullopt;
    return address;
}

SmtpDecision judgeSmtpReply(const QString &data) {
    const QStringView code = QStringView(data).left(3);
    if (code == u"220")
        return {SmtpAction::SendEhlo, {}};
    if (code != u"250")
        return {SmtpAction::Close, {}};
    const qsizetype open = data.indexOf(u'[');
    if (open < 0)
        return {SmtpAction::NoAddress, {}};
    // Only a "]" after the "[" closes the pair.
    const qsizetype close = data.indexOf(u']', open + 1);
    if (close < 0)
        return {SmtpAction::NoAddress, {}};
    QString address = data.mid(open + 1, close - open - 1);
    if (!isUsableAddress(address))
        return {SmtpAction::NoAddress, {}};
    return {SmtpAction::TakeAddress, address};
}

namespace {
// A greeting or reply longer than this is no mail server's.
constexpr qsizetype kMaxReply = 65536;
} // namespace

SmtpDecision SmtpDialogue::feed(const QString &piece) {
    const SmtpDecision wait{SmtpAction::Wait, {}}, close{SmtpAction::Close, {}};
    QString data = piece;
    if (skipTail_) {
        const qsizetype nl = data.indexOf(u'\n');
        if (nl < 0)
            return wait;
        skipTail_ = false;
        data.remove(0, nl + 1);
        if (data.isEmpty())
            return wait;
    }
    if (phase_ == Phase::Done)
        return close;
    const qsizetype start = lines_.size();
    lines_ += data;
    bool refused = false;
    // Lines already seen were continued ones; the scan starts at the line this piece goes on with.
    for (qsizetype line = start == 0 ? 0 : lines_.lastIndexOf(u'\n', start - 1) + 1; line < lines_.size();) {
        const qsizetype nl = lines_.indexOf(u'\n', line);
        const bool complete = nl >= 0;
        QStringView text = QStringView(lines_).mid(line, (complete ? nl : lines_.size()) - line);
        if (complete && text.endsWith(u'\r'))
            text.chop(1);
        if (text.size() < 3 || (text.size() == 3 && !complete)) {
            refused = complete; // no code: not a mail server
            break;
        }
        if (phase_ == Phase::Greeting && text.left(3) != u"220") {
            refused = true;
            break;
        }
        if (text.size() > 3 && text[3] == u'-') {
            if (!complete)
                break;
            line = nl + 1;
            continue;
        }
        // The last line: at the end of the piece that holds its start, whatever of it follows is dropped.
        skipTail_ = !complete;
        const QString whole = lines_.left(complete ? nl : lines_.size());
        lines_.clear();
        if (phase_ == Phase::Greeting) {
            phase_ = Phase::Reply;
            return {SmtpAction::SendEhlo, {}};
        }
        phase_ = Phase::Done;
        const SmtpDecision reply = judgeSmtpReply(whole);
        // A second greeting is no answer to EHLO.
        return reply.action == SmtpAction::SendEhlo ? close : reply;
    }
    if (refused || lines_.size() > kMaxReply) {
        phase_ = Phase::Done;
        return close;
    }
    return wait;
}

std::optional<quint16> parsePort(QStringView text) {
    if (text.isEmpty() || text.size() > 5)
        return std::nullopt;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    const int port = text.toInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    return static_cast<quint16>(port);
}

namespace {

bool isPlainHostName(const QString &name) {
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

} // namespace

SmtpTarget parseSmtpTarget(const QString &strIpAdd, quint16 defaultPort) {
    const QString text = strIpAdd.trimmed();
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close > 0) {
            const QString host = text.mid(1, close - 1);
            const QStringView rest = QStringView(text).mid(close + 1);
            if (rest.isEmpty())
                return {host, defaultPort};
            if (rest.startsWith(u':')) {
                if (const auto port = parsePort(rest.mid(1)))
                    return {host, *port};
            }
        }
        return {text, defaultPort};
    }
    // More than one colon is an IPv6 address without a port.
    if (text.count(u':') == 1) {
        const qsizetype colon = text.indexOf(u':');
        if (const auto port = parsePort(QStringView(text).mid(colon + 1)))
            return {text.left(colon), *port};
    }
    return {text, defaultPort};
}

QByteArray ehloLine(const QString &hostName, const QString &localAddress) {
    QByteArray identity;
    if (isPlainHostName(hostName)) {
        identity = codepage::toAnsi(hostName);
    } else {
        const QHostAddress address(localAddress);
        bool mapped = false;
        const quint32 v4 = address.toIPv4Address(&mapped);
        if (mapped)
            identity = '[' + QHostAddress(v4).toString().toLatin1() + ']';
        else if (address.protocol() == QAbstractSocket::IPv6Protocol)
            identity = "[IPv6:" + address.toString().toLatin1() + ']';
        else
            identity = '[' + localAddress.toLatin1() + ']';
    }
    return "EHLO " + identity + "\r\n";
}

namespace {

struct Sink {
    QByteArray body;
    qint64 maxBytes;
};

size_t collect(char *data, size_t size, size_t count, void *user) {
    auto *sink = static_cast<Sink *>(user);
    const size_t n = size * count;
    if (sink->body.size() + static_cast<qint64>(n) > sink->maxBytes)
        return 0; // too long: libcurl ends the fetch with a write error
    sink->body.append(data, static_cast<qsizetype>(n));
    return n;
}

// The echo must see the address the home server is reached at: the stable one, not a temporary
// privacy address that changes by the day. Where the system cannot be asked, it picks as it will.
int preferPublicSource(void *, curl_socket_t fd, curlsocktype purpose) {
#if defined(IPV6_ADDR_PREFERENCES) && defined(IPV6_PREFER_SRC_PUBLIC)
    if (purpose == CURLSOCKTYPE_IPCXN) {
        const int prefer = IPV6_PREFER_SRC_PUBLIC;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_ADDR_PREFERENCES, &prefer, sizeof prefer);
    }
#else
    (void)fd, (void)purpose;
#endif
    return CURL_SOCKOPT_OK;
}

} // namespace

CurlHttpFetcher::CurlHttpFetcher() : CurlHttpFetcher(Limits{}) {}

CurlHttpFetcher::CurlHttpFetcher(Limits limits) : limits_(limits) {
    curlGlobalInit();
}

std::optional<QByteArray> CurlHttpFetcher::fetch(const QString &url, IpVersion version) {
    error_ = u"not an http or https address"_s;
    help_ = fetchHelp(CURLE_UNSUPPORTED_PROTOCOL, 0);
    status_ = 0;
    const QUrl parsed(url.trimmed());
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || parsed.host().isEmpty() || (scheme != u"http"_s && scheme != u"https"_s))
        return std::nullopt;
    const QByteArray encoded = parsed.toEncoded();

    curlwait::Multi multi(stop_);
    CURL *curl = curl_easy_init();
    if (!curl || !multi) {
        curl_easy_cleanup(curl);
        return std::nullopt;
    }
    Sink sink{{}, limits_.maxBytes};
    curl_easy_setopt(curl, CURLOPT_URL, encoded.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // Only over the version asked for: a fall-back would echo the other address, or flip between the
    // two from check to check.
    const bool v6 = version == IpVersion::V6;
    curl_easy_setopt(curl, CURLOPT_IPRESOLVE, long(v6 ? CURL_IPRESOLVE_V6 : CURL_IPRESOLVE_V4));
    if (v6)
        curl_easy_setopt(curl, CURLOPT_SOCKOPTFUNCTION, preferPublicSource);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits_.connectMs));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limits_.totalMs));
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits_.maxBytes));
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Zentrow");
    curl_slist *fresh = curl_slist_append(nullptr, "Cache-Control: no-cache");
    if (curl_slist *more = curl_slist_append(fresh, "Pragma: no-cache")) // caches of HTTP/1.0
        fresh = more;
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, fresh);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    const CURLcode rc = multi.perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    curl_slist_free_all(fresh);
    status_ = status;

    // An error page must never pass for an address.
    if (rc != CURLE_OK) {
        error_ = QString::fromUtf8(curl_easy_strerror(rc));
        help_ = fetchHelp(rc, 0);
        return std::nullopt;
    }
    if (status < 200 || status > 299) {
        error_ = u"HTTP %1"_s.arg(status);
        help_ = fetchHelp(CURLE_OK, status);
        return std::nullopt;
    }
    error_.clear();
    help_.clear();
    return sink.body;
}

QString fetchHelp(int code, long status) {
    const QString check = u"「設定(&S)」の「ｱﾄﾞﾚｽ」が nomrel.cgi の URL か確かめて下さい。"_s;
    switch (code) {
    case CURLE_OK:
        return u"Web サーバが nomrel.cgi の答えでなくエラー (HTTP %1) を返しました。"_s.arg(status) + check;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return u"「ｱﾄﾞﾚｽ」が http:// か https:// で始まる URL ではありません。"_s + check;
    case CURLE_COULDNT_RESOLVE_HOST:
        return u"nomrel.cgi のホスト名が見つかりません。綴りと、このコンピュータのネットワーク接続を確かめて下さい。"_s;
    case CURLE_COULDNT_CONNECT:
        return u"nomrel.cgi の Web サーバに接続できません。URL のホストとポート、ネットワーク接続を確かめて下さい。"_s;
    case CURLE_OPERATION_TIMEDOUT:
        return u"nomrel.cgi が時間内 (接続 5 秒、全体 10 秒) に答えませんでした。次のチェックでやり直します。"_s;
    case CURLE_WRITE_ERROR:
    case CURLE_FILESIZE_EXCEEDED:
        return u"nomrel.cgi の答えが 64 KiB を超えていて、アドレスではありません。"_s + check;
    }
    return u"nomrel.cgi から答えを受け取れませんでした。"_s + check;
}

} // namespace wancheck
