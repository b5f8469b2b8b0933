#include "tests/support/ftpserver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QTcpServer>

using namespace Qt::Literals::StringLiterals;

namespace {
constexpr int kStartMs = 15000;
constexpr int kStopMs = 5000;
} // namespace

FtpServer::FtpServer(const QString &root) : FtpServer(root, Options()) {}

FtpServer::FtpServer(const QString &root, const Options &options) : options_(options) {
    QStringList args{scriptPath(), options_.user, options_.password, root, u"--login-dir"_s, options_.loginDir,
                     u"--encoding"_s, options_.encoding};
    if (options_.breakAfter)
        args << u"--break-after"_s << QString::number(*options_.breakAfter);
    if (options_.readOnly)
        args << u"--read-only"_s;
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start(u"/usr/bin/python3"_s, args);
    if (!process_.waitForStarted(kStartMs)) {
        error_ = u"cannot start /usr/bin/python3: "_s + process_.errorString();
        return;
    }
    const QDeadlineTimer deadline(kStartMs);
    while (!deadline.hasExpired()) {
        if (!process_.waitForReadyRead(int(deadline.remainingTime())))
            break;
        buffer_ += process_.readAllStandardOutput();
        const qsizetype nl = buffer_.indexOf('\n');
        if (nl < 0)
            continue;
        const QByteArray line = buffer_.left(nl).trimmed();
        buffer_.remove(0, nl + 1);
        if (line.startsWith("PORT ")) {
            port_ = quint16(line.mid(5).toUInt());
            if (port_ != 0)
                return;
        }
        break;
    }
    error_ = u"the FTP server did not start: "_s + QString::fromUtf8(process_.readAllStandardError());
    process_.kill();
    process_.waitForFinished(kStopMs);
}

FtpServer::~FtpServer() {
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.closeWriteChannel(); // the script exits when its input closes
    if (!process_.waitForFinished(kStopMs)) {
        process_.kill();
        process_.waitForFinished(kStopMs);
    }
}

QString FtpServer::hostPort() const { return u"127.0.0.1:"_s + QString::number(port_); }

void FtpServer::drain(int waitMs) {
    if (process_.state() != QProcess::Running)
        return;
    // The server prints a command before it answers it, so everything a finished client call
    // sent is already in the pipe: the wait only ends the loop.
    while (process_.waitForReadyRead(waitMs))
        buffer_ += process_.readAllStandardOutput();
    buffer_ += process_.readAllStandardOutput();
    qsizetype nl;
    while ((nl = buffer_.indexOf('\n')) >= 0) {
        const QByteArray line = buffer_.left(nl);
        buffer_.remove(0, nl + 1);
        if (line.startsWith("CMD "))
            commands_ << QString::fromUtf8(line.mid(4)).trimmed();
    }
}

QStringList FtpServer::commands() {
    drain(50);
    return commands_;
}

QStringList FtpServer::verbs() {
    QStringList out;
    for (const QString &c : commands())
        out << c.section(u' ', 0, 0);
    return out;
}

QString FtpServer::scriptPath() {
    const QString fromEnv = qEnvironmentVariable("ZENTROW_SOURCE_DIR");
    if (!fromEnv.isEmpty()) {
        const QString p = QDir(fromEnv).filePath(u"tests/support/ftpserver.py"_s);
        if (QFileInfo::exists(p))
            return p;
    }
    return QStringLiteral(ZENTROW_TEST_SUPPORT_DIR "/ftpserver.py");
}

quint16 unusedLocalPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}
