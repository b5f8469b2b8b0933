#include "tests/support/ftpserver.h"

#include <QTcpServer>

#include <csignal>
#include <sys/prctl.h>

using namespace Qt::Literals::StringLiterals;

FtpServer::FtpServer(const QString &root, const Options &options)
    : options_(options), trust_(options.tls.isEmpty() ? QString() : root + u"-trust.pem"_s) {
    const Options &o = options_;
    QStringList args{QStringLiteral(ZENTROW_TOOLS_DIR "/ftpserver.py"), root, o.user, o.password};
    args << (o.port.isEmpty() ? u"0"_s : o.port) << u"--debug"_s << u"--login-dir"_s << o.loginDir
         << u"--encoding"_s << o.encoding << u"--umask"_s << o.umask << u"--perm"_s << o.perm << u"--tls"_s
         << o.tls << u"--trust"_s << trust_ << u"--fault"_s << o.fault;
    process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process_.start(u"/usr/bin/python3"_s, args);
    // The first line is the port, once it listens; then its log on standard error has every command.
    while (!process_.canReadLine() && process_.waitForReadyRead(15000)) {
    }
    port_ = process_.readLine().trimmed().toUShort();
    process_.setReadChannel(QProcess::StandardError);
    if (port_ == 0)
        error_ = u"the FTP server did not start: "_s + process_.errorString() + u' ' +
                 QString::fromUtf8(process_.readAll());
}

FtpServer::~FtpServer() {
    process_.terminate();
    if (!process_.waitForFinished(5000))
        process_.kill();
    process_.waitForFinished(5000);
}

QStringList FtpServer::verbs() {
    // A command is logged before it is answered: what a finished call sent is in the pipe already.
    while (process_.waitForReadyRead(50)) {
    }
    while (process_.canReadLine())
        if (const QByteArray line = process_.readLine(); line.contains(" <- "))
            verbs_
                << QString::fromUtf8(line.mid(line.indexOf(" <- ") + 4)).split(u' ').constFirst().trimmed();
    return verbs_;
}

quint16 unusedLocalPort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}
