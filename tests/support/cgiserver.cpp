#include "tests/support/cgiserver.h"

#include "tests/support/ftpserver.h"
#include "tests/support/testsupport.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

using namespace Qt::Literals::StringLiterals;

namespace testsupport {

bool EchoCgiServer::serve() {
    // The free port is let go before lighttpd binds it: another process may take it first.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (startOn(unusedLocalPort()))
            return true;
    }
    return false;
}

bool EchoCgiServer::startOn(quint16 port) {
    stop();
    port_ = port;
    const QString conf = folder_ + u"/lighttpd.conf"_s, log = folder_ + u"/lighttpd-error.log"_s;
    const QString text =
        u"server.document-root = \"%1\"\nserver.bind = \"127.0.0.1\"\nserver.port = %2\n"
        "server.errorlog = \"%3\"\nserver.modules = (\"mod_cgi\")\n"
        "cgi.assign = (\".cgi\" => \"/usr/bin/perl\")\n"_s.arg(folder_, QString::number(port), log);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    if (writeAll(conf, text.toUtf8()))
        process_.start(u"/usr/sbin/lighttpd"_s, {u"-D"_s, u"-f"_s, conf});
    // Up once it says so and accepts; a port taken meanwhile makes it exit instead.
    const QDeadlineTimer deadline(10000);
    while (process_.waitForStarted(5000) && !deadline.hasExpired() && process_.state() == QProcess::Running) {
        QTcpSocket probe;
        if (readAll(log).contains("server started")) {
            probe.connectToHost(QHostAddress::LocalHost, port_);
            if (probe.waitForConnected(500))
                return true;
        }
        process_.waitForFinished(50);
    }
    error_ = u"lighttpd (tools/setup.sh installs it) did not come up: "_s + process_.errorString() + u' ' +
             QString::fromLocal8Bit(process_.readAll() + readAll(log));
    stop();
    return false;
}

void EchoCgiServer::stop() {
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

} // namespace testsupport
