#pragma once

#include "controller/wancheck.h"

#include <QObject>
#include <QString>

#include <optional>

class MessageSink;
class QTcpSocket;
class QTimer;

// The mail server method of finding the address: one greeting exchange on TCP, driven by the
// socket's events. Widget-free, so the window and the command line share it.
class SmtpExchange : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 kPort = 25;
    static constexpr int kReplyTimeoutMs = 30000;

    explicit SmtpExchange(QObject *parent = nullptr);
    ~SmtpExchange() override;

    // Seams; the sink is not owned and must be set before the first exchange.
    void setMessageSink(MessageSink *sink) { sink_ = sink; }
    void setDefaultPort(quint16 port) { port_ = port; }
    void setReplyTimeout(int ms);
    // Replaces the local host name sent with EHLO (an empty name sends the address literal).
    void setLocalHostName(std::optional<QString> name) { localHostName_ = std::move(name); }

    // Drops an exchange still open and connects afresh to "host" or "host:port".
    void start(const QString &strIpAdd);
    // Ends the exchange at once, quietly.
    void stop();
    bool isRunning() const;

    QTcpSocket *Ws = nullptr;

public slots:
    void Ws_DataArrival();

signals:
    // The address the server echoed between the brackets of its EHLO reply.
    void addressTaken(const QString &address);
    // The exchange is over, with or without an address.
    void finished();

private:
    void send(const QByteArray &bytes);
    void end();
    QString localHostName() const;

    MessageSink *sink_ = nullptr;
    quint16 port_ = kPort;
    std::optional<QString> localHostName_;
    QTimer *timeout_ = nullptr;
    bool running_ = false;
    wancheck::SmtpDialogue dialogue_;
};
