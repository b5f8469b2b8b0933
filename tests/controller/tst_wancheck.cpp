#include "controller/wancheck.h"
#include "tests/support/cgiserver.h"
#include "tests/support/ftpserver.h"
#include "tests/support/tcpscript.h"
#include "tests/support/testsupport.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace wancheck;

class tst_wancheck : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // The fetches go to 127.0.0.1 directly, whatever the machine's proxy settings say.
        for (const char *name : {"http_proxy", "all_proxy", "ALL_PROXY"})
            qunsetenv(name);
    }

    void cgiBody_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("address"); // "-": none
        const QString head = u"<body>##"_s, tail = u"##</body"_s;
        QTest::newRow("15 characters") << QString(15, u'x') << u"-"_s;
        QTest::newRow("16: empty address") << head + tail << QString();
        QTest::newRow("8 + address + 8") << head + u"192.0.2.7"_s + tail << u"192.0.2.7"_s;
        QTest::newRow("8 + address + 9") << head + u"192.0.2.7"_s + tail + u">"_s << u"192.0.2.7#"_s;
        QTest::newRow("32767 characters") << head + QString(32751, u'a') + tail << QString(32751, u'a');
        QTest::newRow("32768 characters") << head + QString(32752, u'a') + tail << u"-"_s;
        QTest::newRow("comma") << head + u"192.0.2.7,on"_s + tail << u"-"_s;
        QTest::newRow("CR LF") << head + u"192.0.2.7\r\n"_s + tail << u"-"_s;
        QTest::newRow("NUL") << head + u"192.0.2.7"_s + QChar(0) + tail << u"-"_s;
        QTest::newRow("C1 control") << head + u"192.0.2.7\u0085"_s + tail << u"-"_s;
        QTest::newRow("commas in the frame") << u",,,,,,,,192.0.2.7,,,,,,,,"_s << u"192.0.2.7"_s;
    }
    void cgiBody() {
        QFETCH(QString, body);
        QFETCH(QString, address);
        QCOMPARE(addressFromCgiBody(body).value_or(u"-"_s), address);
    }

    void smtpReply_data() {
        QTest::addColumn<QString>("data");
        QTest::addColumn<SmtpAction>("action");
        QTest::addColumn<QString>("address");
        QTest::newRow("first pair wins") << u"250 [192.0.2.1] [192.0.2.2]\r\n"_s << SmtpAction::TakeAddress
                                         << u"192.0.2.1"_s;
        QTest::newRow("] before [ closes nothing") << u"250 x] y [192.0.2.9]\r\n"_s << SmtpAction::TakeAddress
                                                   << u"192.0.2.9"_s;
        QTest::newRow("] only before [") << u"250 a] b [c\r\n"_s << SmtpAction::NoAddress << QString();
        QTest::newRow("comma") << u"250 [192.0.2.7,on]\r\n"_s << SmtpAction::NoAddress << QString();
        QTest::newRow("control character") << u"250 [192.0.2.7\x01]\r\n"_s << SmtpAction::NoAddress << QString();
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
        QTest::newRow("host:port, blanks around") << u" mx.example:587 "_s << u"mx.example"_s << 587;
        QTest::newRow("port 0") << u"mx:0"_s << u"mx:0"_s << 25;
        QTest::newRow("port not a number") << u"mx:smtp"_s << u"mx:smtp"_s << 25;
        QTest::newRow("IPv6") << u"::1"_s << u"::1"_s << 25;
        QTest::newRow("IPv6 with port") << u"[::1]:587"_s << u"::1"_s << 587;
    }
    void smtpTarget() {
        QFETCH(QString, text);
        QFETCH(QString, host);
        QFETCH(int, port);
        QCOMPARE(parseSmtpTarget(text, 25), (SmtpTarget{host, quint16(port)}));
    }

    void ehlo_data() {
        QTest::addColumn<QString>("hostName");
        QTest::addColumn<QString>("localAddress");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("host name") << u"pc01"_s << u"192.0.2.1"_s << "EHLO pc01\r\n"_ba;
        QTest::newRow("no host name") << QString() << u"192.0.2.1"_s << "EHLO [192.0.2.1]\r\n"_ba;
        QTest::newRow("line break in the name") << u"pc\r\nRCPT"_s << u"192.0.2.1"_s << "EHLO [192.0.2.1]\r\n"_ba;
        QTest::newRow("IPv6") << QString() << u"::1"_s << "EHLO [IPv6:::1]\r\n"_ba;
        QTest::newRow("IPv4 mapped") << QString() << u"::ffff:127.0.0.1"_s << "EHLO [127.0.0.1]\r\n"_ba;
    }
    void ehlo() {
        QFETCH(QString, hostName);
        QFETCH(QString, localAddress);
        QFETCH(QByteArray, line);
        QCOMPARE(ehloLine(hostName, localAddress), line);
    }

    // A real web server: the body of a 2xx answer within the size bound, else none.
    void fetch_data() {
        QTest::addColumn<QByteArray>("head"); // the CGI's header lines, escaped for perl
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("ok");
        QTest::newRow("200") << "Status: 200 OK"_ba << 16 << true;
        QTest::newRow("299") << "Status: 299 Odd"_ba << 16 << true;
        QTest::newRow("404 page") << "Status: 404 Not Found"_ba << 16 << false;
        QTest::newRow("500 page") << "Status: 500 Oops"_ba << 16 << false;
        QTest::newRow("at the size bound") << "Status: 200 OK"_ba << 65536 << true;
        QTest::newRow("past the size bound") << "Status: 200 OK"_ba << 65537 << false;
        QTest::newRow("redirect to a 200") << "Status: 302 Found\\r\\nLocation: /ok.cgi"_ba << 16 << true;
        QTest::newRow("redirect loop") << "Status: 302 Found\\r\\nLocation: /x.cgi"_ba << 16 << false;
        QTest::newRow("redirect to a file") << "Status: 302 Found\\r\\nLocation: file:///etc/hostname"_ba << 16
                                            << false;
    }
    void fetch() {
        QFETCH(QByteArray, head);
        QFETCH(int, size);
        QFETCH(bool, ok);
        QTemporaryDir dir;
        const auto cgi = [&dir](const QString &name, const QByteArray &head, int size) {
            return testsupport::writeAll(dir.filePath(name), "print \"" + head + "\\r\\n\\r\\n\", \"a\" x " +
                                                                 QByteArray::number(size) + ";\n");
        };
        QVERIFY(cgi(u"x.cgi"_s, head, size) && cgi(u"ok.cgi"_s, "Status: 200 OK", 16));
        testsupport::EchoCgiServer web(dir.path());
        QVERIFY2(web.serve(), qPrintable(web.errorText()));
        CurlHttpFetcher fetcher;
        QCOMPARE(fetcher.fetch(web.baseUrl() + u"x.cgi"_s).value_or("-"), ok ? QByteArray(size, 'a') : "-"_ba);
    }

    // No body and no hang: addresses refused before a fetch, and peers that misbehave.
    void fetchFails_data() {
        QTest::addColumn<QString>("url");      // PORT: the scripted server's
        QTest::addColumn<QByteArray>("answer"); // sent to a complete request, then it hangs up
        QTest::newRow("no scheme") << u"127.0.0.1:PORT/nomrel.cgi"_s << QByteArray();
        QTest::newRow("file") << u"file:///etc/hostname"_s << QByteArray();
        QTest::newRow("ftp") << u"ftp://127.0.0.1:PORT/"_s << QByteArray();
        QTest::newRow("nobody listening") << u"http://127.0.0.1:%1/"_s.arg(unusedLocalPort()) << QByteArray();
        QTest::newRow("silence") << u"http://127.0.0.1:PORT/nomrel.cgi"_s << QByteArray();
        QTest::newRow("closed early") << u"http://127.0.0.1:PORT/nomrel.cgi"_s
                                      << "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n<body>##1.2.3.4##</body"_ba;
    }
    void fetchFails() {
        QFETCH(QString, url);
        QFETCH(QByteArray, answer);
        testsupport::ScriptedTcpServer server;
        QVERIFY(server.listen());
        CurlHttpFetcher fetcher({3000, 3000, 65536});
        url.replace(u"PORT"_s, QString::number(server.port()));
        const auto got = testsupport::runAside([&] { return fetcher.fetch(url); }, [&] {
            if (!answer.isEmpty() && server.received().endsWith("\r\n\r\n")) {
                server.send(std::exchange(answer, {}));
                server.closeClient();
            }
        });
        QVERIFY(!got);
    }
};

QTEST_GUILESS_MAIN(tst_wancheck)
#include "tst_wancheck.moc"
