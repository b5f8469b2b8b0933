#pragma once

#include <QString>

#include <chrono>
#include <functional>

class MessageSink;

// Moves one file between the local disk and an FTP server. Every call is a session of its own:
// log-in, one transfer, log-out; nothing is kept between calls. Failures are shown to the user
// by the call itself, the code on the first line and what to do on the second, so callers only
// look at the result when they need to.
class FtpClient {
public:
    virtual ~FtpClient() = default;

    // What a download found. FTPGet's flag is false only for Failed.
    enum class GetStatus {
        Fetched,      // the server's file is now the local file
        LocalExists,  // a local file was there already and was kept
        NoRemoteFile, // the server said the file (or its folder) is not there
        Broken,       // logged in, but the transfer failed: the message has been shown
        Failed,       // no session or no log-in: the message has been shown
    };
    // Downloads strRemoteFile to strLocalFile. An existing local file is never replaced and a
    // broken download never leaves a file behind. Broken and Failed show a message.
    virtual GetStatus download(const QString &strFtpSvr, const QString &strUserID, const QString &strPassword,
                               const QString &strRemoteFile, const QString &strLocalFile) = 0;

    // download() with a refused download (local file present, remote file missing, and the like)
    // counted as done: false only when the session or the log-in failed.
    bool FTPGet(const QString &strFtpSvr, const QString &strUserID, const QString &strPassword,
                const QString &strRemoteFile, const QString &strLocalFile) {
        return download(strFtpSvr, strUserID, strPassword, strRemoteFile, strLocalFile) != GetStatus::Failed;
    }

    // Uploads strLocalFile to strRemoteFile, replacing the server's file. Returns true only when
    // the server confirmed the whole file.
    virtual bool FtpPut(const QString &strFtpSvr, const QString &strUserID, const QString &strPassword,
                        const QString &strRemoteFile, const QString &strLocalFile) = 0;
};

// Bounds of one call, whose steps run one after the other. Tests shorten them; a home line needs
// the defaults. Whole seconds for the last two: libcurl counts a reply's wait in seconds.
struct FtpLimits {
    std::chrono::milliseconds connectTimeout{15000};  // name lookup, TCP connect and log-in
    std::chrono::milliseconds transferTimeout{60000}; // the transfer, its replies included
    qint64 maxDownloadBytes = 1 << 20;                // a larger remote file is not fetched
    std::chrono::milliseconds chmodTimeout{5000};     // SITE CHMOD after an upload
    std::chrono::milliseconds quitTimeout{3000};      // the reply to QUIT; then the connection is dropped
};

// The codes shown in the messages are libcurl's CURLcode numbers. The ones this program sets
// itself, without libcurl having said so:
namespace ftpcode {
inline constexpr int FailedInit = 2;       // libcurl could not be initialised (run-time error)
inline constexpr int BadServer = 3;        // the server text is not host or host:port
inline constexpr int OutOfMemory = 27;     // run-time error: memory exhausted
inline constexpr int BadLogin = 43;        // user or password holds CR, LF or NUL: never sent
inline constexpr int LocalUnreadable = 37; // the local file to upload cannot be opened
inline constexpr int LocalReadError = 26;  // reading the local file failed during the upload
inline constexpr int LocalUnwritable = 23; // the downloaded file cannot be written locally
inline constexpr int TooLarge = 63;        // the remote file is over maxDownloadBytes

// libcurl's own text for a code, used after "<n>" in run-time error messages.
QString description(int code);
} // namespace ftpcode

// FTP on libcurl: passive data connections (EPSV, then PASV), binary transfers, the remote path
// sent as given (absolute or relative to the log-in directory), server as host or host:port
// (port 21 by default), user, password and path in CP932, no proxy.
class CurlFtpClient final : public FtpClient {
public:
    explicit CurlFtpClient(MessageSink &sink, FtpLimits limits = {});

    // FTPS (explicit, AUTH TLS) for the calls that follow: the log-in and both connections only
    // over TLS, the server's certificate and name verified against the system's store or the file
    // SSL_CERT_FILE names. A server without TLS or with a certificate that fails is left before
    // the log-in, with the code in the connect message. Off by default; the setting FtpTls.
    void setTls(bool on) { tls_ = on; }
    // Asked while a call waits on the network, the thread's events handled meanwhile: once true, the call
    // drops its connection at once, without a goodbye, and returns false without a message.
    void setStop(std::function<bool()> stop) { stop_ = std::move(stop); }

    GetStatus download(const QString &strFtpSvr, const QString &strUserID, const QString &strPassword,
                       const QString &strRemoteFile, const QString &strLocalFile) override;
    bool FtpPut(const QString &strFtpSvr, const QString &strUserID, const QString &strPassword,
                const QString &strRemoteFile, const QString &strLocalFile) override;

private:
    enum class Direction { Get, Put };
    // False after a message; `got` (downloads) receives what the transfer found.
    bool run(Direction dir, const QString &server, const QString &user, const QString &password,
             const QString &remote, const QString &local, GetStatus *got = nullptr);
    void report(Direction dir, const QString &text, const QString &explanation);

    MessageSink &sink_;
    FtpLimits limits_;
    bool tls_ = false;
    std::function<bool()> stop_;
};
