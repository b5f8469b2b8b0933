#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// Finding the home connection's public address: the rules that judge what the address-echo
// CGI and a mail server send back, and the HTTP fetch of the CGI.
namespace wancheck {

// Which address is published: the IPv4 one (the default), or this computer's IPv6 one.
enum class IpVersion { V4, V6 };

// The address must fit into one field of the one-line gateway file: a comma, CR, LF or any
// other control character would shift or split its fields. An IPv6 address is not the one
// published. Everything else is taken as is.
bool isUsableAddress(const QString &text);

// A global unicast IPv6 address (2000::/3, the documentation ranges excepted) in its canonical
// compressed form; none for anything else, a scope or blanks included.
std::optional<QString> globalIpv6(const QString &text);

// The CGI body is 8 framing characters, the address and 8 more. A body shorter than 16 or
// longer than 32767 characters, or an unusable address, gives none.
inline constexpr int kCgiFrame = 8;
inline constexpr int kCgiBodyMax = 32767;
std::optional<QString> addressFromCgiBody(const QString &body, IpVersion version = IpVersion::V4);

// "1" to "65535", digits only (leading zeros allowed); anything else none.
std::optional<quint16> parsePort(QStringView text);

// What the mail server's data asks for.
enum class SmtpAction {
    Wait,        // the greeting or the reply is not complete yet
    SendEhlo,    // "220": greet
    TakeAddress, // "250" with a usable text in brackets: take it, then QUIT
    NoAddress,   // "250" without one: tell the user, then QUIT
    Close,       // anything else
};
struct SmtpDecision {
    SmtpAction action;
    QString address; // with TakeAddress only
};
// A whole reply, judged by its first three characters and its first bracket pair.
SmtpDecision judgeSmtpReply(const QString &reply);

// One connection's dialogue, fed the pieces of data as they arrive. The greeting is answered once,
// when its last line has come (a line whose code is followed by a space, not "-"), and the reply
// to EHLO is judged once, when it is complete; anything after that closes the connection. A last
// line counts as come at the end of the piece that holds its start; the rest of it is dropped.
class SmtpDialogue {
public:
    SmtpDecision feed(const QString &piece);

private:
    enum class Phase { Greeting, Reply, Done };
    Phase phase_ = Phase::Greeting;
    QString lines_;         // the greeting or reply so far
    bool skipTail_ = false; // the rest of a last line still to come
};

// "host" or "host:port" ("[v6]:port" too); a missing or invalid port gives `defaultPort`.
struct SmtpTarget {
    QString host;
    quint16 port;
    bool operator==(const SmtpTarget &) const = default;
};
SmtpTarget parseSmtpTarget(const QString &strIpAdd, quint16 defaultPort);

// "EHLO name" CR LF; without a host name the local address as an address literal.
QByteArray ehloLine(const QString &hostName, const QString &localAddress);

inline constexpr char kQuit[] = "QUIT\r\n";

// Fetches a URL's body; the caller waits for it. Tests put their own behind the controller window.
class HttpFetcher {
public:
    virtual ~HttpFetcher() = default;
    // The body of a 2xx answer, reached over `version` only, or nothing.
    virtual std::optional<QByteArray> fetch(const QString &url, IpVersion version) = 0;
    // Why the last fetch gave nothing, in a few words.
    virtual QString lastError() const { return {}; }
    // And what to do, in the user's words.
    virtual QString lastHelp() const { return {}; }
    // The HTTP status of the last answer, 0 when none came.
    virtual long lastStatus() const { return 0; }
};

// The default fetcher, on libcurl, the thread's events handled while it waits. Every bound holds for one
// fetch: a peer that accepts and then stays silent, or sends without end, costs at most `totalMs`. Over IPv6
// it asks the system for the stable public source address, not a temporary privacy one. Caches on the way
// are asked for a fresh answer: a stored one would be a past address or page.
class CurlHttpFetcher final : public HttpFetcher {
public:
    struct Limits {
        int connectMs = 5000;
        int totalMs = 10000;
        qint64 maxBytes = 65536; // 32767 CP932 characters take at most twice as many bytes
    };
    CurlHttpFetcher();
    explicit CurlHttpFetcher(Limits limits);
    std::optional<QByteArray> fetch(const QString &url, IpVersion version) override;
    QString lastError() const override { return error_; }
    QString lastHelp() const override { return help_; }
    long lastStatus() const override { return status_; }
    // Asked while the fetch waits, the thread's events handled meanwhile: once true, it is dropped at once.
    void setStop(std::function<bool()> stop) { stop_ = std::move(stop); }

    const Limits &limits() const { return limits_; }

private:
    Limits limits_;
    std::function<bool()> stop_;
    QString error_, help_;
    long status_ = 0;
};

// What to do when the address-echo fetch failed with libcurl's `code`, or with HTTP `status`.
QString fetchHelp(int code, long status);

} // namespace wancheck
