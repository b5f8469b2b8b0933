#pragma once

#include <QProcess>
#include <QString>

namespace testsupport {

// A real web server (lighttpd) on 127.0.0.1 at a free port, running the CGI scripts (perl) in the
// folder it is given; a script may be rewritten between requests.
class EchoCgiServer {
public:
    explicit EchoCgiServer(QString folder) : folder_(std::move(folder)) {}
    ~EchoCgiServer() { stop(); }

    // Returns once the server accepts; false with errorText().
    bool serve();
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1/").arg(port_); } // with "/"
    const QString &errorText() const { return error_; }

private:
    bool startOn(quint16 port);
    void stop();

    QString folder_;
    QProcess process_;
    quint16 port_ = 0;
    QString error_;
};

} // namespace testsupport
