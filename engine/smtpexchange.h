#pragma once

#include "engine/wancheck.h"

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
    int replyTimeout() const;
    // Replaces the local host name sent with EHLO (an empty name sends the address literal).
    void setLocalHostName(std::optional<QString> name) { localHostName_ = std::move(name); }

    // Drops an exchange still open and connects afresh to "host" or "host:port".
    void start(const QString &strIpAdd);
    // Ends the exchange at once, quietly.
    void stop();
    // Ends it once what is queued (a QUIT) has gone out, waiting a moment at the most.
    void close();
    bool isRunning() const;
    // While held (a check waits on the network, the thread's events handled meanwhile), what the server
    // sends or does waits; released, the exchange goes on with a fresh period for its reply, as it did when
    // such a wait blocked the thread. Holds nest.
    void hold(bool on);

    QTcpSocket *Ws = nullptr;

public slots:
    void Ws_DataArrival();

signals:
    // The address the server echoed between the brackets of its EHLO reply.
    void addressTaken(const QString &address);
    // The EHLO reply was judged, with or without an address; QUIT is on its way.
    void judged(bool address);
    // The exchange is over; `judged` tells whether a reply came.
    void finished(bool judged);

private:
    void send(const QByteArray &bytes);
    void end();
    void ended();
    void resume();
    QString localHostName() const;

    MessageSink *sink_ = nullptr;
    quint16 port_ = kPort;
    std::optional<QString> localHostName_;
    QTimer *timeout_ = nullptr;
    bool running_ = false;
    bool judged_ = false;
    int held_ = 0;
    bool missedData_ = false, missedEnd_ = false, missedTimer_ = false;
    wancheck::SmtpDialogue dialogue_;
};
