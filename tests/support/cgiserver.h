#pragma once

#include <QProcess>
#include <QString>

namespace testsupport {

// A real web server (lighttpd) on 127.0.0.1 that runs an address-echo CGI: the body is
// kPrefix, the caller's address and kSuffix. Its files live in the folder it is given.
class EchoCgiServer {
public:
    static constexpr char kPrefix[] = "IPADDR=[";
    static constexpr char kSuffix[] = "]=IPADDR";

    explicit EchoCgiServer(QString folder);
    ~EchoCgiServer();
    EchoCgiServer(const EchoCgiServer &) = delete;
    EchoCgiServer &operator=(const EchoCgiServer &) = delete;

    // Writes the echo script, starts the server and waits until it accepts connections; false
    // with errorText() set.
    bool start();
    // Starts the server on the folder as it is, for scripts the caller has put there.
    bool serve();
    QString url() const;
    // "http://127.0.0.1:<port>/"
    QString baseUrl() const;
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
