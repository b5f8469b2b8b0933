#include "tests/support/cgiserver.h"

#include "tests/support/testsupport.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>

using namespace Qt::Literals::StringLiterals;

namespace testsupport {

namespace {

const QString kLighttpd = u"/usr/sbin/lighttpd"_s;

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

EchoCgiServer::EchoCgiServer(QString folder) : folder_(std::move(folder)) {}

EchoCgiServer::~EchoCgiServer() { stop(); }

QString EchoCgiServer::url() const { return baseUrl() + u"nomrel.cgi"_s; }

QString EchoCgiServer::baseUrl() const { return u"http://127.0.0.1:%1/"_s.arg(port_); }

bool EchoCgiServer::start() {
    const QByteArray script = QByteArray("print \"Content-Type: text/plain\\r\\n\\r\\n\";\n") + "print \"" +
                              kPrefix + "\" . $ENV{REMOTE_ADDR} . \"" + kSuffix + "\";\n";
    if (!writeAll(folder_ + u"/nomrel.cgi"_s, script)) {
        error_ = u"cannot write the CGI script"_s;
        return false;
    }
    return serve();
}

bool EchoCgiServer::serve() {
    if (!QFileInfo(kLighttpd).isExecutable()) {
        error_ = kLighttpd + u" is missing (tools/setup.sh installs it)"_s;
        return false;
    }
    // The free port is found by a probe that lets it go again: another process may take it
    // first, so a start that fails is tried again on a new port.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (startOn(freePort()))
            return true;
    }
    return false;
}

bool EchoCgiServer::startOn(quint16 port) {
    stop();
    port_ = port;
    const QString conf = folder_ + u"/lighttpd.conf"_s;
    const QString text = uR"(server.document-root = "%1"
server.bind = "127.0.0.1"
server.port = %2
server.errorlog = "%1/lighttpd-error.log"
server.modules = ("mod_cgi")
cgi.assign = (".cgi" => "/usr/bin/perl")
)"_s.arg(folder_)
                             .arg(port);
    if (!writeAll(conf, text.toUtf8())) {
        error_ = u"cannot write the server configuration"_s;
        return false;
    }
    process_.setProgram(kLighttpd);
    process_.setArguments({u"-D"_s, u"-f"_s, conf});
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start();
    if (!process_.waitForStarted(5000)) {
        error_ = process_.errorString();
        return false;
    }
    // Up once it has bound its port and says so; a port taken meanwhile makes it exit instead.
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && process_.state() == QProcess::Running) {
        if (!readAll(folder_ + u"/lighttpd-error.log"_s).contains("server started")) {
            process_.waitForFinished(50);
            continue;
        }
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port_);
        if (probe.waitForConnected(500))
            return true;
        process_.waitForFinished(100);
    }
    error_ = u"lighttpd did not come up: "_s + QString::fromLocal8Bit(process_.readAll()) +
             QString::fromLocal8Bit(readAll(folder_ + u"/lighttpd-error.log"_s));
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
