#include "engine/ftptransfer.h"

#include "engine/codepage.h"
#include "engine/curlglobal.h"
#include "engine/curlwait.h"
#include "engine/ftplocal.h"
#include "engine/ftpmessages.h"
#include "engine/messagesink.h"

#include <QFile>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include <curl/curl.h>

using namespace Qt::Literals::StringLiterals;

namespace {

struct EasyCleanup {
    void operator()(CURL *h) const { curl_easy_cleanup(h); }
};
using Easy = std::unique_ptr<CURL, EasyCleanup>;
// Holds the connection between the log-in and the transfer of one call, and closes it at the end.
using Multi = curlwait::Multi;
struct ListCleanup {
    void operator()(curl_slist *l) const { curl_slist_free_all(l); }
};
using List = std::unique_ptr<curl_slist, ListCleanup>;

using GetStatus = FtpClient::GetStatus;

// Where a call stopped, and with which code; what a download found. For a refused log-in, the
// server's reply code and whether its text asked for TLS.
struct Outcome {
    enum Kind { Done, Runtime, Session, Connect, Upload, Download } kind = Done;
    int code = 0;
    GetStatus got = GetStatus::Fetched;
    int reply = 0;
    bool asksTls = false;
};

// The server's last whole reply, as libcurl hands its lines to the header callback. Replies hold
// no password (commands are never seen here); only a refused log-in's is looked at.
struct Reply {
    QByteArray lines, last;
};

size_t keepReply(char *data, size_t size, size_t count, void *reply) {
    auto *r = static_cast<Reply *>(reply);
    const QByteArray line(data, qsizetype(size * count));
    if (r->lines.size() < 4096)
        r->lines += line;
    // A reply's last line: three digits and a blank.
    if (line.size() >= 4 && line[3] == ' ' && std::isdigit(uchar(line[0])) && std::isdigit(uchar(line[1])) &&
        std::isdigit(uchar(line[2])))
        r->last = std::exchange(r->lines, {});
    return size * count;
}

bool asksForTls(const QByteArray &reply) {
    for (const char *word : {"TLS", "SSL", "ENCRYPT"})
        if (reply.toUpper().contains(word))
            return true;
    return false;
}

size_t discard(char *, size_t size, size_t count, void *) {
    return size * count;
}

curl_socket_t noNewSocket(void *, curlsocktype, curl_sockaddr *) {
    return CURL_SOCKET_BAD;
}

long wholeSeconds(std::chrono::milliseconds ms) {
    return std::max(1L, long((ms.count() + 999) / 1000));
}

bool isHostChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '.' || c == '_';
}

bool isV6Char(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
}

// "host", "host:port", "[v6]" or "[v6]:port" to "ftp://host:port/"; empty when it is none of these.
QByteArray baseUrl(const QString &server) {
    const QByteArray s = server.trimmed().toUtf8();
    QByteArray host;
    QByteArray port;
    bool v6 = false;
    if (s.startsWith('[')) {
        const qsizetype close = s.indexOf(']');
        if (close < 0)
            return {};
        host = s.mid(1, close - 1);
        const QByteArray rest = s.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(':'))
                return {};
            port = rest.mid(1);
        }
        v6 = true;
    } else if (s.count(':') > 1) {
        host = s; // a bare IPv6 address
        v6 = true;
    } else {
        const qsizetype colon = s.indexOf(':');
        host = colon < 0 ? s : s.left(colon);
        if (colon >= 0)
            port = s.mid(colon + 1);
    }
    if (host.isEmpty())
        return {};
    for (const char c : host)
        if (!(v6 ? isV6Char(c) : isHostChar(c)))
            return {};
    int portNumber = 21;
    if (!port.isNull()) {
        if (port.isEmpty() || port.size() > 5)
            return {};
        for (const char c : port)
            if (c < '0' || c > '9')
                return {};
        portNumber = port.toInt();
        if (portNumber < 1 || portNumber > 65535)
            return {};
    }
    return "ftp://" + (v6 ? '[' + host + ']' : host) + ':' + QByteArray::number(portNumber) + '/';
}

// Every byte but the unreserved letters is escaped, "/" and "." included: with no CWD and the
// path taken as is, libcurl then hands the server exactly these bytes.
QByteArray escapedPath(const QByteArray &path) {
    return path.toPercentEncoding(QByteArray(), QByteArrayLiteral("."));
}

// CR, LF or NUL would end or split an FTP command line.
bool breaksCommand(const QByteArray &b) {
    return b.contains('\r') || b.contains('\n') || b.contains('\0');
}

CURLcode configureSession(CURL *h, const FtpLimits &limits, bool tls) {
    CURLcode rc = CURLE_OK;
    auto set = [&rc](CURLcode r) {
        if (rc == CURLE_OK)
            rc = r;
    };
    set(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp"));
    set(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L));
    set(curl_easy_setopt(h, CURLOPT_PROXY, "")); // FTP through an HTTP proxy has no real log-in
    set(curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(limits.connectTimeout.count())));
    set(curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, long(limits.transferTimeout.count())));
    set(curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, wholeSeconds(limits.transferTimeout)));
    set(curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD)));
    set(curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L));
    set(curl_easy_setopt(h, CURLOPT_FTP_USE_EPSV, 1L));
    set(curl_easy_setopt(h, CURLOPT_FTP_SKIP_PASV_IP, 1L)); // behind NAT the PASV address is often wrong
    set(curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 0L));
    if (!tls)
        return rc;
    // AUTH TLS before USER: a server without TLS is left before the password is sent.
    set(curl_easy_setopt(h, CURLOPT_USE_SSL, long(CURLUSESSL_ALL)));
    set(curl_easy_setopt(h, CURLOPT_FTPSSLAUTH, long(CURLFTPAUTH_TLS)));
    set(curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L));
    set(curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L));
    // libcurl reads its own bundle path, not OpenSSL's variable: a self-signed host's certificate
    // is given this way (a systemd service sets it with Environment=).
    if (const QByteArray ca = qgetenv("SSL_CERT_FILE"); !ca.isEmpty())
        set(curl_easy_setopt(h, CURLOPT_CAINFO, ca.constData()));
    return rc;
}

CURLcode perform(Multi &m, CURL *h, const QByteArray &url) {
    if (const CURLcode rc = curl_easy_setopt(h, CURLOPT_URL, url.constData()); rc != CURLE_OK)
        return rc;
    return m.perform(h);
}

struct Fetched {
    GetStatus status;
    int code = 0; // why it broke
};

// A missing remote file stays silent, as a download onto an existing file is refused silently.
Fetched fetch(Multi &m, CURL *h, const QByteArray &url, const QByteArray &remote, const QString &local,
              qint64 maxBytes) {
    if (remote.isEmpty() || remote.endsWith('/'))
        return {GetStatus::Broken, CURLE_URL_MALFORMAT}; // a directory: libcurl would fetch its listing
    const QByteArray finalPath = QFile::encodeName(local);
    const Fetched unwritable{GetStatus::Broken, ftpcode::LocalUnwritable};
    if (finalPath.isEmpty())
        return unwritable;
    // A working copy there already was kept before the log-in (attempt()); one that appears meanwhile
    // is kept by the link below.
    PartFile part(finalPath);
    if (!part.isOpen())
        return unwritable;
    part.setLimit(maxBytes);
    curl_easy_setopt(h, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, writeToPart);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &part);
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(maxBytes));
    const CURLcode rc = perform(m, h, url);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, discard);
    // 550 to RETR: with no CWD, a missing folder reads the same as a missing file.
    if (rc == CURLE_REMOTE_FILE_NOT_FOUND)
        return {GetStatus::NoRemoteFile};
    if (rc == CURLE_WRITE_ERROR)
        return part.overLimit() ? Fetched{GetStatus::Broken, ftpcode::TooLarge} : unwritable;
    if (rc != CURLE_OK)
        return {GetStatus::Broken, rc};
    if (!part.finish())
        return unwritable;
    if (::link(part.path().constData(), finalPath.constData()) == 0)
        return {GetStatus::Fetched};
    if (errno == EEXIST)
        return {GetStatus::LocalExists}; // a file appeared meanwhile; it stays as it is
    // A file system without hard links: a rename that refuses to replace serves as well.
    const char *from = part.path().constData();
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, finalPath.constData(), RENAME_NOREPLACE) == 0)
        return {GetStatus::Fetched};
    return errno == EEXIST ? Fetched{GetStatus::LocalExists} : unwritable;
}

// A server that stores uploads as 0600 (vsftpd's default umask) hides the file from the web server.
// A step of its own with a short bound: a refusal ("*") or silence leaves the stored file as it is.
void changeMode(Multi &m, CURL *h, const QByteArray &base, const QByteArray &remote,
                std::chrono::milliseconds bound) {
    const List chmod(curl_slist_append(nullptr, ("*SITE CHMOD 644 " + remote).constData()));
    if (!chmod)
        return;
    curl_easy_setopt(h, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(h, CURLOPT_QUOTE, chmod.get());
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, wholeSeconds(bound));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, long(bound.count()));
    perform(m, h, base);
    curl_easy_setopt(h, CURLOPT_QUOTE, nullptr);
}

int upload(Multi &m, CURL *h, const QByteArray &base, const QByteArray &remote, const QString &local,
           const FtpLimits &limits) {
    UploadSource source;
    source.fd = ::open(QFile::encodeName(local).constData(), O_RDONLY | O_CLOEXEC);
    if (source.fd < 0)
        return ftpcode::LocalUnreadable;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{source.fd};
    struct stat st;
    if (::fstat(source.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return ftpcode::LocalUnreadable;
    curl_easy_setopt(h, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, readFromSource);
    curl_easy_setopt(h, CURLOPT_READDATA, &source);
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(st.st_size));
    const CURLcode rc = perform(m, h, base + escapedPath(remote));
    if (source.failed)
        return ftpcode::LocalReadError;
    // libcurl refuses a path with control characters before it stores, so SITE gets none.
    if (rc == CURLE_OK)
        changeMode(m, h, base, remote, limits.chmodTimeout);
    return rc;
}

// libcurl says QUIT as the connection leaves its cache and waits for the reply as long as the
// handle's response time-out allows, the transfer's. A step of its own closes it with the short
// bound instead; it reuses the open connection and never opens one.
class Closing {
public:
    Closing(Multi &m, CURL *h, const QByteArray &base, std::chrono::milliseconds bound)
        : m_(m), h_(h), base_(base), bound_(bound) {}
    ~Closing() {
        curl_easy_setopt(h_, CURLOPT_UPLOAD, 0L);
        curl_easy_setopt(h_, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(h_, CURLOPT_WRITEFUNCTION, discard);
        curl_easy_setopt(h_, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(h_, CURLOPT_OPENSOCKETFUNCTION, noNewSocket);
        curl_easy_setopt(h_, CURLOPT_SERVER_RESPONSE_TIMEOUT, wholeSeconds(bound_));
        curl_easy_setopt(h_, CURLOPT_TIMEOUT_MS, long(bound_.count()));
        perform(m_, h_, base_);
    }
    Closing(const Closing &) = delete;
    Closing &operator=(const Closing &) = delete;

private:
    Multi &m_;
    CURL *h_;
    const QByteArray &base_;
    std::chrono::milliseconds bound_;
};

Outcome attempt(bool isGet, const FtpLimits &limits, bool tls, const curlwait::Stop &stop,
                const QString &server, const QString &user, const QString &password, const QString &remote,
                const QString &local) {
    // A download never replaces the working copy: with one there, the server is not even asked (a
    // publication's read-back after its upload costs no log-in).
    struct stat st;
    if (isGet && ::lstat(QFile::encodeName(local).constData(), &st) == 0)
        return {Outcome::Done, 0, GetStatus::LocalExists};
    if (curlGlobalInit() != CURLE_OK)
        return {Outcome::Runtime, ftpcode::FailedInit};
    Multi m(stop);
    Easy h(curl_easy_init());
    if (!m || !h)
        return {Outcome::Session, ftpcode::FailedInit};
    if (const CURLcode rc = configureSession(h.get(), limits, tls); rc != CURLE_OK)
        return {Outcome::Session, rc};

    // The connect step is a real log-in: USER and PASS are checked before any transfer.
    const QByteArray base = baseUrl(server);
    if (base.isEmpty())
        return {Outcome::Connect, ftpcode::BadServer};
    const QByteArray userBytes = codepage::toAnsi(user);
    const QByteArray passBytes = codepage::toAnsi(password);
    if (breaksCommand(userBytes) || breaksCommand(passBytes))
        return {Outcome::Connect, ftpcode::BadLogin};
    Reply reply;
    curl_easy_setopt(h.get(), CURLOPT_HEADERFUNCTION, keepReply);
    curl_easy_setopt(h.get(), CURLOPT_HEADERDATA, &reply);
    curl_easy_setopt(h.get(), CURLOPT_USERNAME, userBytes.constData());
    curl_easy_setopt(h.get(), CURLOPT_PASSWORD, passBytes.constData());
    curl_easy_setopt(h.get(), CURLOPT_NOBODY, 1L);
    if (const CURLcode rc = perform(m, h.get(), base); rc != CURLE_OK) {
        long code = 0;
        curl_easy_getinfo(h.get(), CURLINFO_RESPONSE_CODE, &code);
        // libcurl takes every 421 for a time-out; at the log-in it is the server's refusal, as a 530 is.
        const bool refused = code == 421 || code == 530;
        return {Outcome::Connect,
                refused ? int(CURLE_LOGIN_DENIED) : int(rc),
                {},
                int(code),
                asksForTls(reply.last)};
    }

    // The transfer reuses the logged-in connection, kept by the multi handle until it is closed.
    const Closing closing(m, h.get(), base, limits.quitTimeout);
    const QByteArray remoteBytes = codepage::toAnsi(remote);
    if (isGet) {
        const Fetched got =
            fetch(m, h.get(), base + escapedPath(remoteBytes), remoteBytes, local, limits.maxDownloadBytes);
        return {got.code ? Outcome::Download : Outcome::Done, got.code, got.status};
    }
    if (const int rc = upload(m, h.get(), base, remoteBytes, local, limits); rc != CURLE_OK)
        return {Outcome::Upload, rc};
    return {};
}

} // namespace

QString ftpcode::description(int code) {
    return QString::fromUtf8(curl_easy_strerror(CURLcode(code)));
}

CurlFtpClient::CurlFtpClient(MessageSink &sink, FtpLimits limits) : sink_(sink), limits_(limits) {}

FtpClient::GetStatus CurlFtpClient::download(const QString &strFtpSvr, const QString &strUserID,
                                             const QString &strPassword, const QString &strRemoteFile,
                                             const QString &strLocalFile) {
    GetStatus got = GetStatus::Failed;
    run(Direction::Get, strFtpSvr, strUserID, strPassword, strRemoteFile, strLocalFile, &got);
    return got;
}

bool CurlFtpClient::FtpPut(const QString &strFtpSvr, const QString &strUserID, const QString &strPassword,
                           const QString &strRemoteFile, const QString &strLocalFile) {
    return run(Direction::Put, strFtpSvr, strUserID, strPassword, strRemoteFile, strLocalFile);
}

bool CurlFtpClient::run(Direction dir, const QString &server, const QString &user, const QString &password,
                        const QString &remote, const QString &local, GetStatus *got) {
    // The handle is gone before any message shows: a box may stay open for hours.
    Outcome out;
    try {
        out = attempt(dir == Direction::Get, limits_, tls_, stop_, server, user, password, remote, local);
    } catch (const std::bad_alloc &) {
        out = {Outcome::Runtime, ftpcode::OutOfMemory};
    } catch (...) {
        out = {Outcome::Runtime, ftpcode::FailedInit};
    }
    // The run is ending: whatever the call met stays untold.
    if (stop_ && stop_())
        return false;
    using ftpmessage::Stage;
    const QString code = QString::number(out.code);
    switch (out.kind) {
    case Outcome::Done:
        if (got)
            *got = out.got;
        return true;
    case Outcome::Runtime:
        report(dir, u'<' + code + u'>' + ftpcode::description(out.code),
               ftpmessage::explain(Stage::Runtime, out.code));
        break;
    case Outcome::Session:
        report(dir, u"InternetOpen:GetLastError="_s + code, ftpmessage::explain(Stage::Session, out.code));
        break;
    case Outcome::Connect:
        report(dir, u"InternetConnect:GetLastError="_s + code,
               ftpmessage::explain(Stage::Connect, out.code, out.reply, out.asksTls));
        break;
    case Outcome::Upload:
        report(dir, u"FtpPutFile:GetLastError="_s + code, ftpmessage::explain(Stage::Put, out.code));
        break;
    case Outcome::Download:
        if (got)
            *got = GetStatus::Broken;
        report(dir, u"FtpGetFile:GetLastError="_s + code, ftpmessage::explain(Stage::Get, out.code));
        break;
    }
    return false;
}

void CurlFtpClient::report(Direction dir, const QString &text, const QString &explanation) {
    sink_.show(text + u"\r\n"_s + explanation,
               dir == Direction::Get ? u"Zentrow<FtpGet>"_s : u"Zentrow<FtpPut>"_s, MessageSink::Exclamation);
}
