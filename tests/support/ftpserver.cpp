#include "tests/support/ftpserver.h"

#include <QDeadlineTimer>
#include <QTcpServer>

using namespace Qt::Literals::StringLiterals;

FtpServer::FtpServer(const QString &root, const Options &options)
    : options_(options), trust_(options.tls.isEmpty() ? QString() : root + u"-trust.pem"_s) {
    QStringList args{QStringLiteral(ZENTROW_TEST_SUPPORT_DIR "/ftpserver.py"), options_.user,
                     options_.password, root};
    args << u"--login-dir"_s << options_.loginDir << u"--encoding"_s << options_.encoding;
    for (const auto &[flag, value] : {std::pair{u"--umask"_s, options_.umask},
                                      {u"--perm"_s, options_.perm},
                                      {u"--tls"_s, options_.tls},
                                      {u"--trust"_s, trust_},
                                      {u"--port"_s, options_.port}})
        if (!value.isEmpty())
            args << flag << value;
    process_.start(u"/usr/bin/python3"_s, args);
    // The first line is "PORT <n>" once it listens.
    const QDeadlineTimer deadline(15000);
    while (!buffer_.contains('\n') && process_.waitForReadyRead(int(deadline.remainingTime())))
        buffer_ += process_.readAllStandardOutput();
    const qsizetype nl = buffer_.indexOf('\n');
    if (nl > 0 && buffer_.startsWith("PORT "))
        port_ = quint16(buffer_.mid(5, nl - 5).trimmed().toUInt());
    buffer_.remove(0, nl + 1);
    if (port_ == 0) {
        error_ = u"the FTP server did not start: "_s + process_.errorString() + u' ' +
                 QString::fromUtf8(process_.readAllStandardError());
        process_.kill();
        process_.waitForFinished(5000);
    }
}

FtpServer::~FtpServer() {
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.closeWriteChannel(); // the script exits when its input closes
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

QStringList FtpServer::verbs() {
    // The server prints a command before it answers it, so everything a finished client call
    // sent is already in the pipe: the wait only ends the loop.
    while (process_.state() == QProcess::Running && process_.waitForReadyRead(50))
        buffer_ += process_.readAllStandardOutput();
    buffer_ += process_.readAllStandardOutput();
    for (qsizetype nl; (nl = buffer_.indexOf('\n')) >= 0; buffer_.remove(0, nl + 1)) {
        if (buffer_.startsWith("CMD "))
            verbs_ << QString::fromUtf8(buffer_.mid(4, nl - 4)).section(u' ', 0, 0);
    }
    return verbs_;
}

quint16 unusedLocalPort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}
