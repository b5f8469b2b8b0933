#pragma once

#include <QProcess>
#include <QStringList>

#include <optional>

// A real FTP server (Debian's pyftpdlib) on 127.0.0.1 at a free port, serving `root`. Started by
// the constructor, stopped by the destructor; it also exits when this process goes away.
class FtpServer {
public:
    struct Options {
        QString user = QStringLiteral("zentrow");
        QString password = QStringLiteral("secret");
        QString loginDir = QStringLiteral("/");    // where a log-in starts, as the client sees it
        QString encoding = QStringLiteral("utf8"); // how the server decodes paths
        std::optional<int> breakAfter;             // break every data transfer after this many bytes
        bool readOnly = false;                     // the user may not store files
    };

    explicit FtpServer(const QString &root) : FtpServer(root, Options()) {}
    FtpServer(const QString &root, const Options &options);
    ~FtpServer();
    FtpServer(const FtpServer &) = delete;
    FtpServer &operator=(const FtpServer &) = delete;

    bool isRunning() const { return port_ != 0; }
    QString errorString() const { return error_; }
    quint16 port() const { return port_; }
    QString hostPort() const { return QStringLiteral("127.0.0.1:%1").arg(port_); } // as the settings hold it
    const Options &options() const { return options_; }

    // The commands received so far, "VERB argument" (the password masked), oldest first; or their verbs.
    QStringList commands();
    QStringList verbs();

    // Found through ZENTROW_SOURCE_DIR or the source folder this was built from.
    static QString scriptPath();

private:
    Options options_;
    QProcess process_;
    QByteArray buffer_;
    QStringList commands_;
    quint16 port_ = 0;
    QString error_;
};

// A TCP port on 127.0.0.1 that nothing listens on (bound, then released).
quint16 unusedLocalPort();
