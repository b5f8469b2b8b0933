#include "tests/support/ftpserver.h"

#include <QTcpServer>

#include <csignal>
#include <sys/prctl.h>

using namespace Qt::Literals::StringLiterals;

FtpServer::FtpServer(const QString &root, const Options &options)
    : options_(options), trust_(options.tls.isEmpty() ? QString() : root + u"-trust.pem"_s) {
    QStringList args{QStringLiteral(ZENTROW_FTP_SERVER),
                     root,
                     options_.user,
                     options_.password,
                     options_.port.isEmpty() ? u"0"_s : options_.port,
                     u"--debug"_s};
    for (const auto &[flag, value] : {std::pair{u"--login-dir"_s, options_.loginDir},
                                      {u"--encoding"_s, options_.encoding},
                                      {u"--umask"_s, options_.umask},
                                      {u"--perm"_s, options_.perm},
                                      {u"--tls"_s, options_.tls},
                                      {u"--trust"_s, trust_}})
        if (!value.isEmpty())
            args << flag << value;
    process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process_.start(u"/usr/bin/python3"_s, args);
    // Its first line is the port, once it listens; then it logs each command before answering it.
    while (!process_.canReadLine() && process_.waitForReadyRead(15000)) {
    }
    port_ = process_.readLine().trimmed().toUShort();
    process_.setReadChannel(QProcess::StandardError);
    if (port_ == 0) {
        error_ = u"the FTP server did not start: "_s + process_.errorString() + u' ' +
                 QString::fromUtf8(process_.readAllStandardError());
    }
}

FtpServer::~FtpServer() {
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

QStringList FtpServer::verbs() {
    while (process_.waitForReadyRead(50)) {
    }
    while (process_.canReadLine()) {
        const QByteArray line = process_.readLine();
        if (const qsizetype at = line.indexOf(" <- "); at >= 0)
            verbs_ << QString::fromUtf8(line.mid(at + 4)).split(u' ').constFirst().trimmed();
    }
    return verbs_;
}

quint16 unusedLocalPort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}
