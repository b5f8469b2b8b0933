#include "tests/support/httpserver.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

using namespace Qt::Literals::StringLiterals;

namespace testsupport {

ScriptedHttpServer::ScriptedHttpServer() {
    start();
    listening_.acquire();
}

ScriptedHttpServer::~ScriptedHttpServer() {
    quit();
    wait();
}

void ScriptedHttpServer::setReply(const QByteArray &path, const Reply &reply) {
    const QMutexLocker lock(&mutex_);
    replies_.insert(path, reply);
}

QString ScriptedHttpServer::url(const QString &path) const {
    return u"http://127.0.0.1:%1%2"_s.arg(port()).arg(path);
}

QByteArray ScriptedHttpServer::answer(const QByteArray &request, bool *hang) const {
    // "GET /path HTTP/1.1"
    const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
    const QByteArray path = line.size() >= 2 ? line.at(1) : QByteArray();
    Reply reply;
    {
        const QMutexLocker lock(&mutex_);
        reply = replies_.value(path, Reply{404, "not found", {}, false, false});
    }
    *hang = reply.hang;
    if (reply.hang)
        return {};
    const qsizetype announced = reply.body.size() + (reply.truncate ? 100 : 0);
    return "HTTP/1.1 " + QByteArray::number(reply.status) + " Scripted\r\nContent-Length: " +
           QByteArray::number(announced) + "\r\nConnection: close\r\n" + reply.headers + "\r\n" + reply.body;
}

void ScriptedHttpServer::run() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    port_ = server.serverPort();
    QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
        while (QTcpSocket *s = server.nextPendingConnection()) {
            QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
                QByteArray request = s->property("request").toByteArray() + s->readAll();
                s->setProperty("request", request);
                if (!request.contains("\r\n\r\n") || s->property("answered").toBool())
                    return;
                s->setProperty("answered", true);
                ++requests_;
                bool hang = false;
                const QByteArray bytes = answer(request, &hang);
                if (hang)
                    return;
                s->write(bytes);
                s->disconnectFromHost();
            });
        }
    });
    listening_.release();
    exec();
}

} // namespace testsupport
