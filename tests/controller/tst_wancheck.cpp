#include "controller/wancheck.h"
#include "tests/support/cgiserver.h"
#include "tests/support/httpserver.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace wancheck;
using testsupport::ScriptedHttpServer;

Q_DECLARE_METATYPE(wancheck::SmtpAction)
Q_DECLARE_METATYPE(testsupport::ScriptedHttpServer::Reply)

namespace {
const QString kFrame8 = u"<body>##"_s;
const QString kTail8 = u"##</body"_s;
const QString kTail9 = u"##</body>"_s;

ScriptedHttpServer::Reply reply(int status, const QByteArray &body, const QByteArray &headers = {}, bool hang = false,
                                bool truncate = false) {
    return {status, body, headers, hang, truncate};
}

quint16 closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}
} // namespace

class tst_wancheck : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // The fetches go to 127.0.0.1 directly, whatever the machine's proxy settings say.
        for (const char *name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            qunsetenv(name);
    }

    void cgiBody_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("address");
        QTest::newRow("empty body") << QString() << false << QString();
        QTest::newRow("15 characters") << QString(15, u'x') << false << QString();
        QTest::newRow("16 characters: empty address") << kFrame8 + kTail8 << true << QString();
        QTest::newRow("8 + address + 8") << kFrame8 + u"192.0.2.7"_s + kTail8 << true << u"192.0.2.7"_s;
        QTest::newRow("8 + address + 9: one extra character")
            << kFrame8 + u"192.0.2.7"_s + kTail9 << true << u"192.0.2.7#"_s;
        QTest::newRow("host name taken unchanged") << kFrame8 + u"gw.example"_s + kTail8 << true << u"gw.example"_s;
        QTest::newRow("32767 characters") << kFrame8 + QString(32751, u'a') + kTail8 << true << QString(32751, u'a');
        QTest::newRow("32768 characters") << kFrame8 + QString(32752, u'a') + kTail8 << false << QString();
        QTest::newRow("comma") << kFrame8 + u"192.0.2.7,x"_s + kTail8 << false << QString();
        QTest::newRow("CR LF") << kFrame8 + u"192.0.2.7\r\n"_s + kTail8 << false << QString();
        QTest::newRow("LF alone") << kFrame8 + u"192.0\n.2.7"_s + kTail8 << false << QString();
        QTest::newRow("tab") << kFrame8 + u"192.0.2.7\t"_s + kTail8 << false << QString();
        QTest::newRow("NUL") << kFrame8 + u"192.0.2.7"_s + QChar(0) + kTail8 << false << QString();
        QTest::newRow("DEL") << kFrame8 + u"192.0.2.7"_s + QChar(0x7f) + kTail8 << false << QString();
        QTest::newRow("C1 control") << kFrame8 + u"192.0.2.7"_s + QChar(0x85) + kTail8 << false << QString();
        QTest::newRow("comma in the frame is fine") << u"<b>,,,,,"_s + u"192.0.2.7"_s + u",,,,</b>"_s << true
                                                    << u"192.0.2.7"_s;
    }
    void cgiBody() {
        QFETCH(QString, body);
        QFETCH(bool, found);
        QFETCH(QString, address);
        const std::optional<QString> got = addressFromCgiBody(body);
        QCOMPARE(got.has_value(), found);
        if (found)
            QCOMPARE(*got, address);
    }

    void smtpReply_data() {
        QTest::addColumn<QString>("data");
        QTest::addColumn<SmtpAction>("action");
        QTest::addColumn<QString>("address");
        QTest::newRow("greeting, multi-line") << u"220-mx.example\r\n220 ready\r\n"_s << SmtpAction::SendEhlo
                                              << QString();
        QTest::newRow("first pair wins") << u"250 [192.0.2.1] [192.0.2.2]\r\n"_s << SmtpAction::TakeAddress
                                         << u"192.0.2.1"_s;
        QTest::newRow("] before [ is not a pair") << u"250 x] y [192.0.2.9]\r\n"_s << SmtpAction::TakeAddress
                                                  << u"192.0.2.9"_s;
        QTest::newRow("] only before [") << u"250 a] b [c\r\n"_s << SmtpAction::NoAddress << QString();
        QTest::newRow("pair across lines") << u"250-a [192.0.2.7\r\n250 b]\r\n"_s << SmtpAction::NoAddress
                                           << QString();
        QTest::newRow("221") << u"221 bye\r\n"_s << SmtpAction::Close << QString();
        QTest::newRow("two characters") << u"25"_s << SmtpAction::Close << QString();
        QTest::newRow("code not at the start") << u" 250 [192.0.2.7]"_s << SmtpAction::Close << QString();
    }
    void smtpReply() {
        QFETCH(QString, data);
        QFETCH(SmtpAction, action);
        QFETCH(QString, address);
        const SmtpDecision d = judgeSmtpReply(data);
        QCOMPARE(d.action, action);
        QCOMPARE(d.address, address);
    }

    void smtpTarget_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("plain host") << u"mx.example"_s << u"mx.example"_s << 25;
        QTest::newRow("host:port") << u"mx.example:587"_s << u"mx.example"_s << 587;
        QTest::newRow("address:port") << u"127.0.0.1:2525"_s << u"127.0.0.1"_s << 2525;
        QTest::newRow("blanks around") << u"  mx.example:587 "_s << u"mx.example"_s << 587;
        QTest::newRow("port 0") << u"mx:0"_s << u"mx:0"_s << 25;
        QTest::newRow("port too large") << u"mx:65536"_s << u"mx:65536"_s << 25;
        QTest::newRow("port not a number") << u"mx:smtp"_s << u"mx:smtp"_s << 25;
        QTest::newRow("empty port") << u"mx:"_s << u"mx:"_s << 25;
        QTest::newRow("IPv6 without port") << u"::1"_s << u"::1"_s << 25;
        QTest::newRow("IPv6 in brackets") << u"[::1]"_s << u"::1"_s << 25;
        QTest::newRow("IPv6 in brackets with port") << u"[::1]:587"_s << u"::1"_s << 587;
        QTest::newRow("empty") << QString() << QString() << 25;
    }
    void smtpTarget() {
        QFETCH(QString, text);
        QFETCH(QString, host);
        QFETCH(int, port);
        QCOMPARE(parseSmtpTarget(text, 25), (SmtpTarget{host, static_cast<quint16>(port)}));
    }

    void ehlo_data() {
        QTest::addColumn<QString>("hostName");
        QTest::addColumn<QString>("localAddress");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("host name") << u"pc01"_s << u"192.0.2.1"_s << QByteArray("EHLO pc01\r\n");
        QTest::newRow("no host name") << QString() << u"192.0.2.1"_s << QByteArray("EHLO [192.0.2.1]\r\n");
        QTest::newRow("IPv6") << QString() << u"::1"_s << QByteArray("EHLO [IPv6:::1]\r\n");
        QTest::newRow("IPv4 mapped") << QString() << u"::ffff:127.0.0.1"_s << QByteArray("EHLO [127.0.0.1]\r\n");
        QTest::newRow("host name with a line break")
            << u"pc\r\nRCPT"_s << u"192.0.2.1"_s << QByteArray("EHLO [192.0.2.1]\r\n");
    }
    void ehlo() {
        QFETCH(QString, hostName);
        QFETCH(QString, localAddress);
        QFETCH(QByteArray, line);
        QCOMPARE(ehloLine(hostName, localAddress), line);
    }

    void fetch_data() {
        QTest::addColumn<ScriptedHttpServer::Reply>("answer");
        QTest::addColumn<bool>("ok");
        const QByteArray body = "<body>##192.0.2.7##</body";
        QTest::newRow("200") << reply(200, body) << true;
        QTest::newRow("204 empty") << reply(204, QByteArray()) << true;
        QTest::newRow("299") << reply(299, body) << true;
        QTest::newRow("404 page") << reply(404, body) << false;
        QTest::newRow("500 page") << reply(500, body) << false;
        QTest::newRow("redirect to the CGI")
            << reply(302, QByteArray(), "Location: /cgi\r\n") << true;
        QTest::newRow("redirect loop") << reply(302, QByteArray(), "Location: /x\r\n") << false;
        QTest::newRow("redirect to a file")
            << reply(302, QByteArray(), "Location: file:///etc/hostname\r\n") << false;
        QTest::newRow("body at the size bound") << reply(200, QByteArray(65536, 'a')) << true;
        QTest::newRow("body past the size bound")
            << reply(200, QByteArray(65537, 'a')) << false;
        QTest::newRow("connection closed early")
            << reply(200, body, QByteArray(), false, true) << false;
    }
    void fetch() {
        QFETCH(ScriptedHttpServer::Reply, answer);
        QFETCH(bool, ok);
        ScriptedHttpServer server;
        server.setReply("/x", answer);
        server.setReply("/cgi", reply(200, "<body>##192.0.2.7##</body"));
        CurlHttpFetcher fetcher;
        const std::optional<QByteArray> got = fetcher.fetch(server.url(u"/x"_s));
        QCOMPARE(got.has_value(), ok);
        if (ok)
            QCOMPARE(*got, answer.status == 302 ? QByteArray("<body>##192.0.2.7##</body") : answer.body);
        QVERIFY(server.requestCount() >= 1);
    }

    void fetchRefusedUrl_data() {
        QTest::addColumn<QString>("url");
        QTest::newRow("empty") << QString();
        QTest::newRow("no scheme") << u"127.0.0.1/nomrel.cgi"_s;
        QTest::newRow("file") << u"file:///etc/hostname"_s;
        QTest::newRow("ftp") << u"ftp://127.0.0.1/"_s;
        QTest::newRow("garbage") << u"http://"_s;
        QTest::newRow("nobody listening") << u"http://127.0.0.1:%1/nomrel.cgi"_s.arg(closedPort());
    }
    void fetchRefusedUrl() {
        QFETCH(QString, url);
        CurlHttpFetcher fetcher;
        QVERIFY(!fetcher.fetch(url).has_value());
    }

    // A server that takes the request and never answers costs the whole-fetch bound, then fails.
    void fetchSilentServer() {
        ScriptedHttpServer server;
        server.setReply("/x", reply(200, QByteArray(), QByteArray(), true));
        CurlHttpFetcher fetcher({3000, 3000, 65536});
        QVERIFY(!fetcher.fetch(server.url(u"/x"_s)).has_value());
        QCOMPARE(server.requestCount(), 1);
    }

    void defaultBounds() {
        const CurlHttpFetcher fetcher;
        QCOMPARE(fetcher.limits().connectMs, 5000);
        QCOMPARE(fetcher.limits().totalMs, 10000);
    }

    void realEchoCgi() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        testsupport::EchoCgiServer cgi(dir.path());
        QVERIFY2(cgi.start(), qPrintable(cgi.errorText()));
        CurlHttpFetcher fetcher;
        const std::optional<QByteArray> body = fetcher.fetch(cgi.url());
        QVERIFY(body.has_value());
        QCOMPARE(addressFromCgiBody(QString::fromLatin1(*body)), std::optional<QString>(u"127.0.0.1"_s));
    }
};


QTEST_GUILESS_MAIN(tst_wancheck)
#include "tst_wancheck.moc"
