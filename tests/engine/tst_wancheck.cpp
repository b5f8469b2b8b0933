#include "engine/wancheck.h"
#include "tests/support/cgiserver.h"
#include "tests/support/ftpserver.h"
#include "tests/support/scriptedserver.h"
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
        QTest::newRow("IPv6 address") << head + u"2001:db8::7"_s + tail << u"-"_s;
        QTest::newRow("commas in the frame") << u",,,,,,,,192.0.2.7,,,,,,,,"_s << u"192.0.2.7"_s;
    }
    void cgiBody() {
        QFETCH(QString, body);
        QFETCH(QString, address);
        QCOMPARE(addressFromCgiBody(body).value_or(u"-"_s), address);
    }

    // IPv6 mode: a global unicast address only, in its canonical form (a single zero group stays).
    void ipv6Body() {
        const QString rows =
            u"2400:4050:A:B:0:0:0:7|2400:4050:a:b::7; 2400:0:1:2:3:4:5:6|2400:0:1:2:3:4:5:6;"
            u" 3fff:1000::1|3fff:1000::1; 2001:db8::7|-; 3fff:fff::1|-; ::1|-; fe80::1|-; fd00::1|-;"
            u" ff0e::1|-; 4000::1|-; ::ffff:203.0.113.7|-; 203.0.113.7|-; 2400::7%eth0|-; 2400::7 |-"_s;
        for (const QString &row : rows.split(u"; "_s))
            QVERIFY2(addressFromCgiBody(u"IPADDR=[%1]=IPADDR"_s.arg(row.section(u'|', 0, 0)), IpVersion::V6)
                             .value_or(u"-"_s) == row.section(u'|', 1),
                     qPrintable(row));
    }

    // A real web server: the body of a 2xx answer within the size bound, else none.
    // The mail server setting: a port after the last colon only when it is one (1 to 65535, digits only).
    void smtpTarget() {
        const QString rows =
            u" mx:2525 |mx|2525; mx:1|mx|1; mx:65535|mx|65535; mx:0|mx:0|25; mx:65536|mx:65536|25;"
            u" mx:+25|mx:+25|25; mx:|mx:|25; [::1]:2525|::1|2525; [::1]|::1|25; [::1]:x|[::1]:x|25;"
            u" ::1|::1|25"_s;
        for (const QString &row : rows.split(u"; "_s)) {
            const QStringList r = row.split(u'|');
            QVERIFY2(parseSmtpTarget(r[0], 25) == (SmtpTarget{r[1], quint16(r[2].toInt())}), qPrintable(row));
        }
    }
    void fetch_data() {
        QTest::addColumn<QByteArray>("head"); // the CGI's header lines, escaped for perl
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("ok");
        QTest::newRow("299") << "Status: 299 Odd"_ba << 16 << true;
        QTest::newRow("404 page") << "Status: 404 Not Found"_ba << 16 << false;
        QTest::newRow("at the size bound") << "Status: 200 OK"_ba << 65536 << true;
        QTest::newRow("past the size bound") << "Status: 200 OK"_ba << 65537 << false;
        QTest::newRow("redirect loop") << "Status: 302 Found\\r\\nLocation: /x.cgi"_ba << 16 << false;
        QTest::newRow("redirect to a file")
            << "Status: 302 Found\\r\\nLocation: file:///etc/hostname"_ba << 16 << false;
    }
    void fetch() {
        QFETCH(QByteArray, head);
        QFETCH(int, size);
        QFETCH(bool, ok);
        QTemporaryDir dir;
        const QByteArray script =
            "print \"" + head + "\\r\\n\\r\\n\", \"a\" x " + QByteArray::number(size) + ";\n";
        QVERIFY(testsupport::writeAll(dir.filePath(u"x.cgi"_s), script));
        testsupport::EchoCgiServer web(dir.path());
        QVERIFY2(web.serve(), qPrintable(web.errorText()));
        QCOMPARE(CurlHttpFetcher().fetch(web.baseUrl() + u"x.cgi"_s, IpVersion::V4).value_or("-"),
                 ok ? QByteArray(size, 'a') : "-"_ba);
    }

    // No body and no hang: addresses refused before a fetch, and peers that misbehave.
    void fetchFails_data() {
        QTest::addColumn<QString>("url");       // PORT: the scripted server's
        QTest::addColumn<QByteArray>("answer"); // sent to a whole request, then it hangs up; none: silence
        QTest::newRow("no scheme") << u"127.0.0.1:PORT/nomrel.cgi"_s << QByteArray();
        QTest::newRow("file") << u"file:///etc/hostname"_s << QByteArray();
        QTest::newRow("nobody listening") << u"http://127.0.0.1:%1/"_s.arg(unusedLocalPort()) << QByteArray();
        QTest::newRow("silence") << u"http://127.0.0.1:PORT/nomrel.cgi"_s << QByteArray();
        QTest::newRow("closed early")
            << u"http://127.0.0.1:PORT/nomrel.cgi"_s
            << "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n<body>##1.2.3.4##</body"_ba;
    }
    void fetchFails() {
        QFETCH(QString, url);
        QFETCH(QByteArray, answer);
        ScriptedServer server([&answer](ScriptedServer &, ScriptedServer::Socket &c) {
            if (answer.isEmpty()) {
                c.readAll();
                return;
            }
            for (auto line = c.readLine(); line && !line->isEmpty(); line = c.readLine()) {
            }
            c.send(answer);
        });
        QVERIFY(server.isRunning());
        url.replace(u"PORT"_s, QString::number(server.port()));
        QVERIFY(!CurlHttpFetcher({3000, 3000, 65536}).fetch(url, IpVersion::V4));
    }
};

QTEST_GUILESS_MAIN(tst_wancheck)
#include "tst_wancheck.moc"
