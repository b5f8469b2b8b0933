#include "engine/smtpexchange.h"

#include "engine/codepage.h"
#include "engine/messagesink.h"
#include "engine/wancheck.h"

#include <QHostInfo>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

SmtpExchange::SmtpExchange(QObject *parent) : QObject(parent) {
    Ws = new QTcpSocket(this);
    Ws->setObjectName(u"Ws"_s);
    connect(Ws, &QTcpSocket::readyRead, this, &SmtpExchange::Ws_DataArrival);
    // A failed connection or a server that hangs up ends the exchange quietly.
    connect(Ws, &QTcpSocket::errorOccurred, this, &SmtpExchange::ended);
    connect(Ws, &QTcpSocket::disconnected, this, &SmtpExchange::ended);

    timeout_ = new QTimer(this);
    timeout_->setSingleShot(true);
    timeout_->setInterval(kReplyTimeoutMs);
    connect(timeout_, &QTimer::timeout, this, &SmtpExchange::ended);
}

SmtpExchange::~SmtpExchange() {
    // The socket's last signals, raised as it is deleted with the children, must not reach an
    // object that is half taken apart.
    Ws->disconnect(this);
}

void SmtpExchange::setReplyTimeout(int ms) {
    timeout_->setInterval(ms);
}

int SmtpExchange::replyTimeout() const {
    return timeout_->interval();
}

bool SmtpExchange::isRunning() const {
    return running_;
}

void SmtpExchange::start(const QString &strIpAdd) {
    timeout_->stop();
    Ws->abort();
    running_ = false;
    judged_ = false;
    missedData_ = missedEnd_ = missedTimer_ = false;
    const wancheck::SmtpTarget target = wancheck::parseSmtpTarget(strIpAdd, port_);
    if (target.host.isEmpty()) {
        emit finished(false);
        return;
    }
    running_ = true;
    dialogue_ = wancheck::SmtpDialogue();
    timeout_->start();
    // The address published is an IPv4 one: the server must see us over IPv4.
    Ws->connectToHost(target.host, target.port, QIODevice::ReadWrite, QAbstractSocket::IPv4Protocol);
}

void SmtpExchange::stop() {
    timeout_->stop();
    if (Ws->state() != QAbstractSocket::UnconnectedState)
        Ws->abort();
    running_ = false;
}

void SmtpExchange::close() {
    timeout_->stop();
    if (Ws->state() == QAbstractSocket::ConnectedState) {
        Ws->disconnectFromHost();
        if (Ws->state() != QAbstractSocket::UnconnectedState)
            Ws->waitForDisconnected(1000);
    }
    end();
}

void SmtpExchange::hold(bool on) {
    held_ += on ? 1 : -1;
    if (on && held_ == 1 && timeout_->isActive()) {
        timeout_->stop();
        missedTimer_ = true;
    }
    if (held_ > 0)
        return;
    if (std::exchange(missedTimer_, false) && running_)
        timeout_->start();
    if (missedData_ || missedEnd_)
        QMetaObject::invokeMethod(this, &SmtpExchange::resume, Qt::QueuedConnection);
}

void SmtpExchange::resume() {
    if (held_ > 0)
        return;
    const QPointer<SmtpExchange> self(this);
    if (std::exchange(missedData_, false))
        Ws_DataArrival();
    if (self && std::exchange(missedEnd_, false))
        end();
}

void SmtpExchange::ended() {
    if (held_ > 0)
        missedEnd_ = true;
    else
        end();
}

void SmtpExchange::end() {
    const bool wasRunning = running_;
    stop();
    if (wasRunning)
        emit finished(judged_);
}

void SmtpExchange::send(const QByteArray &bytes) {
    if (Ws->state() == QAbstractSocket::ConnectedState)
        Ws->write(bytes);
}

QString SmtpExchange::localHostName() const {
    return localHostName_ ? *localHostName_ : QHostInfo::localHostName();
}

void SmtpExchange::Ws_DataArrival() {
    if (held_ > 0) {
        missedData_ = true;
        return;
    }
    if (Ws->bytesAvailable() <= 0)
        return;
    const QString reply = codepage::fromAnsi(Ws->readAll());
    // Every reply gives the server a fresh period to answer the next line.
    timeout_->start();
    const wancheck::SmtpDecision decision = dialogue_.feed(reply);
    switch (decision.action) {
    case wancheck::SmtpAction::Wait:
        break;
    case wancheck::SmtpAction::SendEhlo:
        send(wancheck::ehloLine(localHostName(), Ws->localAddress().toString()));
        break;
    case wancheck::SmtpAction::TakeAddress: {
        judged_ = true;
        const QPointer<SmtpExchange> self(this);
        emit addressTaken(decision.address);
        if (!self)
            return;
        send(wancheck::kQuit);
        emit judged(true);
        break;
    }
    case wancheck::SmtpAction::NoAddress: {
        const QPointer<SmtpExchange> self(this);
        if (sink_)
            sink_->show(u"SMTPがIPを返していません。\r\nnomrel.cgiの使用をお勧めします。"_s, u"WAN IP 情報"_s,
                        MessageSink::Information);
        if (!self)
            return;
        judged_ = true;
        send(wancheck::kQuit);
        emit judged(false);
        break;
    }
    case wancheck::SmtpAction::Close:
        // Whatever is still queued (a QUIT after a box) goes out before the connection ends.
        timeout_->stop();
        Ws->disconnectFromHost();
        break;
    }
    // Data that came while a box was open raises no event of its own.
    if (Ws->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &SmtpExchange::Ws_DataArrival, Qt::QueuedConnection);
}
