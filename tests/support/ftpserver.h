#pragma once

#include <QProcess>
#include <QStringList>

// The project's FTP server (tools/ftpserver.py, Debian's pyftpdlib) on 127.0.0.1, serving `root`, from the
// constructor to the destructor; it also ends when this process dies.
class FtpServer {
public:
    struct Options {
        QString user = QStringLiteral("zentrow"), password = QStringLiteral("secret");
        QString loginDir = QStringLiteral("/");    // where a log-in starts, as the client sees it
        QString encoding = QStringLiteral("utf8"); // how the server decodes paths
        QString umask{}, perm{}; // octal, for the files it stores; pyftpdlib's permissions (empty: all)
        QString tls{}, port{};   // FTPS: "trusted", "untrusted" or "other-name"; empty port: a free one
        QString fault{};         // what a real server does wrong: ftpserver.py's --fault
    };

    explicit FtpServer(const QString &root) : FtpServer(root, Options()) {}
    FtpServer(const QString &root, const Options &options);
    ~FtpServer();

    bool isRunning() const { return port_ != 0; }
    QString errorString() const { return error_; }
    QString hostPort() const { return QStringLiteral("127.0.0.1:%1").arg(port_); } // as the settings hold it
    const Options &options() const { return options_; }
    QString trustFile() const { return trust_; } // with Options::tls, the certificate a client should trust
    QStringList verbs();                         // of the commands received so far, oldest first

private:
    Options options_;
    QString trust_, error_;
    QProcess process_;
    QStringList verbs_;
    quint16 port_ = 0;
};

// A TCP port on 127.0.0.1 that nothing listens on (bound, then released).
quint16 unusedLocalPort();
