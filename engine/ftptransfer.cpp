#include "engine/ftptransfer.h"

#include "engine/codepage.h"
#include "engine/curlglobal.h"
#include "engine/messagesink.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <curl/curl.h>

using namespace Qt::Literals::StringLiterals;

namespace {

struct EasyCleanup {
    void operator()(CURL *h) const { curl_easy_cleanup(h); }
};
using Easy = std::unique_ptr<CURL, EasyCleanup>;
struct MultiCleanup {
    void operator()(CURLM *m) const { curl_multi_cleanup(m); }
};
// Holds the connection between the log-in and the transfer of one call, and closes it at the end.
using Multi = std::unique_ptr<CURLM, MultiCleanup>;
struct ListCleanup {
    void operator()(curl_slist *l) const { curl_slist_free_all(l); }
};
using List = std::unique_ptr<curl_slist, ListCleanup>;

using GetStatus = FtpClient::GetStatus;

// Where a call stopped, and with which code; what a download found.
struct Outcome {
    enum Kind { Done, Runtime, Session, Connect, Upload } kind = Done;
    int code = 0;
    GetStatus got = GetStatus::Fetched;
};

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
    const long responseSeconds = long((limits.transferTimeout.count() + 999) / 1000);
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
    set(curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, responseSeconds > 0 ? responseSeconds : 1L));
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

// The local side of a download: a temporary file next to the destination.
class PartFile {
public:
    explicit PartFile(const QByteArray &finalPath) {
        const qsizetype slash = finalPath.lastIndexOf('/');
        const QByteArray dir = slash < 0 ? QByteArray(".") : finalPath.left(slash);
        const QByteArray name = slash < 0 ? finalPath : finalPath.mid(slash + 1);
        path_ = dir + "/." + name + ".part-XXXXXX";
        fd_ = mkostemp(path_.data(), O_CLOEXEC);
        if (fd_ < 0)
            path_.clear();
    }
    ~PartFile() {
        if (fd_ >= 0)
            ::close(fd_);
        if (!path_.isEmpty())
            ::unlink(path_.constData());
    }
    PartFile(const PartFile &) = delete;
    PartFile &operator=(const PartFile &) = delete;

    bool isOpen() const { return fd_ >= 0; }
    const QByteArray &path() const { return path_; }

    // Called by libcurl; false stops the transfer.
    bool append(const char *data, size_t size) {
        if (written_ + qint64(size) > limit_)
            return false;
        while (size > 0) {
            const ssize_t n = ::write(fd_, data, size);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            data += n;
            size -= size_t(n);
            written_ += n;
        }
        return true;
    }
    void setLimit(qint64 limit) { limit_ = limit; }

    // The mode a plain new file would get, closed. Not forced to disk: the working copy is scratch,
    // and one left by a run that crashed is deleted before the next run's first download.
    bool finish() {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        bool ok = ::fchmod(fd_, 0666 & ~mask) == 0;
        ok = ::close(fd_) == 0 && ok;
        fd_ = -1;
        return ok;
    }

private:
    QByteArray path_;
    int fd_ = -1;
    qint64 written_ = 0;
    qint64 limit_ = 0;
};

size_t writeToPart(char *data, size_t size, size_t count, void *part) {
    const size_t n = size * count;
    return static_cast<PartFile *>(part)->append(data, n) ? n : 0;
}

struct UploadSource {
    int fd = -1;
    bool failed = false;
};

size_t readFromSource(char *buffer, size_t size, size_t count, void *source) {
    auto *s = static_cast<UploadSource *>(source);
    for (;;) {
        const ssize_t n = ::read(s->fd, buffer, size * count);
        if (n >= 0)
            return size_t(n);
        if (errno != EINTR) {
            s->failed = true;
            return CURL_READFUNC_ABORT;
        }
    }
}

// curl_easy_perform sleeps until one of libcurl's sockets or timers wakes it. Right after the
// passive reply libcurl has neither: it opens the data connection only when called again, so the
// upload or download waited for a leftover timer (200 ms) or the poll's 1 s cap. A moment with
// nothing to watch is waited out in 1 ms here instead.
CURLcode perform(CURLM *m, CURL *h, const QByteArray &url) {
    if (const CURLcode rc = curl_easy_setopt(h, CURLOPT_URL, url.constData()); rc != CURLE_OK)
        return rc;
    if (const CURLMcode mc = curl_multi_add_handle(m, h); mc != CURLM_OK)
        return mc == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT;
    int running = 1;
    CURLMcode mc;
    while ((mc = curl_multi_perform(m, &running)) == CURLM_OK && running) {
        fd_set r, w, e;
        FD_ZERO(&r);
        FD_ZERO(&w);
        FD_ZERO(&e);
        int maxFd = -1;
        if ((mc = curl_multi_fdset(m, &r, &w, &e, &maxFd)) != CURLM_OK ||
            (mc = curl_multi_poll(m, nullptr, 0, maxFd < 0 ? 1 : 1000, nullptr)) != CURLM_OK)
            break;
    }
    CURLcode rc = mc == CURLM_OK              ? CURLE_OK
                  : mc == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY
                                              : CURLE_FAILED_INIT;
    int queued = 0;
    while (const CURLMsg *msg = curl_multi_info_read(m, &queued))
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == h && mc == CURLM_OK)
            rc = msg->data.result;
    curl_multi_remove_handle(m, h);
    return rc;
}

// Refusals stay silent, as a download onto an existing file is refused silently.
GetStatus fetch(CURLM *m, CURL *h, const QByteArray &url, const QByteArray &remote, const QString &local,
                qint64 maxBytes) {
    if (remote.isEmpty() || remote.endsWith('/'))
        return GetStatus::Broken; // a directory: libcurl would fetch its listing
    const QByteArray finalPath = QFile::encodeName(local);
    if (finalPath.isEmpty())
        return GetStatus::Broken;
    struct stat st;
    if (::lstat(finalPath.constData(), &st) == 0)
        return GetStatus::LocalExists; // never replaced
    PartFile part(finalPath);
    if (!part.isOpen())
        return GetStatus::Broken;
    part.setLimit(maxBytes);
    curl_easy_setopt(h, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, writeToPart);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &part);
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(maxBytes));
    // 550 to RETR: with no CWD, a missing folder reads the same as a missing file.
    if (const CURLcode rc = perform(m, h, url); rc != CURLE_OK)
        return rc == CURLE_REMOTE_FILE_NOT_FOUND ? GetStatus::NoRemoteFile : GetStatus::Broken;
    if (!part.finish())
        return GetStatus::Broken;
    if (::link(part.path().constData(), finalPath.constData()) == 0)
        return GetStatus::Fetched;
    if (errno == EEXIST)
        return GetStatus::LocalExists; // a file appeared meanwhile; it stays as it is
    // A file system without hard links: a rename that refuses to replace serves as well.
    const char *from = part.path().constData();
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, finalPath.constData(), RENAME_NOREPLACE) == 0)
        return GetStatus::Fetched;
    return errno == EEXIST ? GetStatus::LocalExists : GetStatus::Broken;
}

int upload(CURLM *m, CURL *h, const QByteArray &url, const QByteArray &remote, const QString &local) {
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
    // A server that stores uploads as 0600 (vsftpd's default umask) hides the file from the web
    // server. "*": a server that refuses the mode change still has the file.
    // Runs only after a stored file; libcurl refuses a path with control characters before that.
    const List chmod(curl_slist_append(nullptr, ("*SITE CHMOD 644 " + remote).constData()));
    if (!chmod)
        return CURLE_OUT_OF_MEMORY;
    curl_easy_setopt(h, CURLOPT_POSTQUOTE, chmod.get());
    const CURLcode rc = perform(m, h, url);
    if (source.failed)
        return ftpcode::LocalReadError;
    return rc;
}

Outcome attempt(bool isGet, const FtpLimits &limits, bool tls, const QString &server, const QString &user,
                const QString &password, const QString &remote, const QString &local) {
    if (curlGlobalInit() != CURLE_OK)
        return {Outcome::Runtime, ftpcode::FailedInit};
    Multi m(curl_multi_init());
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
    curl_easy_setopt(h.get(), CURLOPT_USERNAME, userBytes.constData());
    curl_easy_setopt(h.get(), CURLOPT_PASSWORD, passBytes.constData());
    curl_easy_setopt(h.get(), CURLOPT_NOBODY, 1L);
    if (const CURLcode rc = perform(m.get(), h.get(), base); rc != CURLE_OK)
        return {Outcome::Connect, rc};

    // The transfer reuses the logged-in connection, kept by the multi handle.
    const QByteArray remoteBytes = codepage::toAnsi(remote);
    const QByteArray url = base + escapedPath(remoteBytes);
    if (isGet)
        return {Outcome::Done, 0, fetch(m.get(), h.get(), url, remoteBytes, local, limits.maxDownloadBytes)};
    if (const int rc = upload(m.get(), h.get(), url, remoteBytes, local); rc != CURLE_OK)
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
        out = attempt(dir == Direction::Get, limits_, tls_, server, user, password, remote, local);
    } catch (const std::bad_alloc &) {
        out = {Outcome::Runtime, ftpcode::OutOfMemory};
    } catch (...) {
        out = {Outcome::Runtime, ftpcode::FailedInit};
    }
    const QString code = QString::number(out.code);
    switch (out.kind) {
    case Outcome::Done:
        if (got)
            *got = out.got;
        return true;
    case Outcome::Runtime:
        report(dir, u'<' + code + u'>' + ftpcode::description(out.code));
        break;
    case Outcome::Session:
        report(dir, u"InternetOpen:GetLastError="_s + code);
        break;
    case Outcome::Connect:
        report(dir, u"InternetConnect:GetLastError="_s + code);
        break;
    case Outcome::Upload:
        report(dir, u"FtpPutFile:GetLastError="_s + code);
        break;
    }
    return false;
}

void CurlFtpClient::report(Direction dir, const QString &text) {
    sink_.show(text, dir == Direction::Get ? u"Zentrow<FtpGet>"_s : u"Zentrow<FtpPut>"_s,
               MessageSink::Exclamation);
}
