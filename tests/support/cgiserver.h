#pragma once

#include <QProcess>
#include <QTemporaryDir>

namespace testsupport {

// The demo's web server (tools/webserver.sh: lighttpd on 127.0.0.1 or ::1, *.cgi through perl)
// serving the folder it is given; a script may be rewritten between requests.
class EchoCgiServer {
public:
    explicit EchoCgiServer(QString folder, QString address = QStringLiteral("127.0.0.1"))
        : folder_(std::move(folder)), address_(std::move(address)) {}
    ~EchoCgiServer() { stop(); }
    bool serve();             // returns once the server accepts; false with errorText()
    QString baseUrl() const { // with "/"
        return QStringLiteral("http://%1:%2/")
            .arg(address_.contains(u':') ? u'[' + address_ + u']' : address_)
            .arg(port_);
    }
    const QString &errorText() const { return error_; }

private:
    void stop() { process_.kill(), process_.waitForFinished(); }

    QString folder_, address_, error_;
    QTemporaryDir state_; // its configuration and log
    QProcess process_;
    quint16 port_ = 0;
};

} // namespace testsupport
