#include "tests/support/cgiserver.h"

#include "tests/support/testsupport.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

#include <csignal>
#include <sys/prctl.h>

using namespace Qt::Literals::StringLiterals;

bool testsupport::EchoCgiServer::serve() {
    const QString log = state_.filePath(u"error.log"_s);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    // lighttpd (the script execs it) ends with the test, even a crashed one.
    process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    // The script lets its free port go before lighttpd binds it: another process may take it first.
    for (int attempt = 0; attempt < 5; ++attempt) {
        stop();
        process_.start(QStringLiteral(ZENTROW_TOOLS_DIR "/webserver.sh"), {folder_, state_.path(), address_});
        process_.waitForReadyRead(10000);
        port_ = process_.readLine().trimmed().toUShort();
        // Up once lighttpd says so and accepts; a port taken meanwhile makes it exit instead.
        for (const QDeadlineTimer deadline(10000);
             process_.state() == QProcess::Running && !deadline.hasExpired(); process_.waitForFinished(50)) {
            QTcpSocket probe;
            probe.connectToHost(address_, port_);
            if (readAll(log).contains("server started") && probe.waitForConnected(500))
                return true;
        }
    }
    error_ = u"tools/webserver.sh (lighttpd: tools/setup.sh installs it) did not come up: "_s +
             process_.errorString() + u' ' + QString::fromLocal8Bit(process_.readAll() + readAll(log));
    stop();
    return false;
}
