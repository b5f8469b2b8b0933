#pragma once

#include <QProcess>
#include <QTemporaryDir>

namespace testsupport {

// The demo's web server (tools/webserver.sh: lighttpd on 127.0.0.1, *.cgi through perl) serving
// the folder it is given; a script may be rewritten between requests.
class EchoCgiServer {
public:
    explicit EchoCgiServer(QString folder) : folder_(std::move(folder)) {}
    ~EchoCgiServer() { stop(); }
    bool serve(); // returns once the server accepts; false with errorText()
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1/").arg(port_); } // with "/"
    const QString &errorText() const { return error_; }

private:
    void stop() { process_.kill(), process_.waitForFinished(); }

    QString folder_, error_;
    QTemporaryDir state_; // its configuration and log
    QProcess process_;
    quint16 port_ = 0;
};

} // namespace testsupport
