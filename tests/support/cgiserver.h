#pragma once

#include <QProcess>
#include <QString>

namespace testsupport {

// A real web server (lighttpd) on 127.0.0.1 running the CGI scripts (perl) in the folder it is
// given; start() adds an address echo whose body is kPrefix, the caller's address and kSuffix.
class EchoCgiServer {
public:
    static constexpr char kPrefix[] = "IPADDR=[";
    static constexpr char kSuffix[] = "]=IPADDR";

    explicit EchoCgiServer(QString folder) : folder_(std::move(folder)) {}
    ~EchoCgiServer() { stop(); }
    EchoCgiServer(const EchoCgiServer &) = delete;
    EchoCgiServer &operator=(const EchoCgiServer &) = delete;

    // Writes the echo script, then serve(). Both wait until the server accepts; false with errorText().
    bool start();
    bool serve();
    QString url() const { return baseUrl() + QStringLiteral("nomrel.cgi"); }
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
