#include "controller/wancheck.h"
#include "tests/support/cgiserver.h"
#include "tests/support/ftpserver.h"
#include "tests/support/testsupport.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace wancheck;

class tst_wancheck : public QObject {
    Q_OBJECT
private slots:
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
        QTest::newRow("commas in the frame") << u",,,,,,,,192.0.2.7,,,,,,,,"_s << u"192.0.2.7"_s;
    }
    void cgiBody() {
        QFETCH(QString, body);
        QFETCH(QString, address);
        QCOMPARE(addressFromCgiBody(body).value_or(u"-"_s), address);
    }

    // A real web server: the body of a 2xx answer within the size bound, else none; none either from an
    // address refused before the fetch or one where nothing listens.
    void fetch_data() {
        QTest::addColumn<QString>("url");     // empty: the CGI x.cgi; WEB: the web server's host and port
        QTest::addColumn<QByteArray>("head"); // the CGI's header lines, escaped for perl
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("ok");
        const QByteArray ok = "Status: 200 OK"_ba, redirect = "Status: 302 Found\\r\\nLocation: "_ba;
        QTest::newRow("299") << QString() << "Status: 299 Odd"_ba << 16 << true;
        QTest::newRow("404 page") << QString() << "Status: 404 Not Found"_ba << 16 << false;
        QTest::newRow("at the size bound") << QString() << ok << 65536 << true;
        QTest::newRow("past the size bound") << QString() << ok << 65537 << false;
        QTest::newRow("redirect loop") << QString() << redirect + "/x.cgi" << 16 << false;
        QTest::newRow("redirect to a file") << QString() << redirect + "file:///etc/hostname" << 16 << false;
        QTest::newRow("no scheme") << u"WEB/x.cgi"_s << ok << 16 << false;
        QTest::newRow("file") << u"file:///etc/hostname"_s << ok << 16 << false;
        QTest::newRow("nobody listening")
            << u"http://127.0.0.1:%1/"_s.arg(unusedLocalPort()) << ok << 16 << false;
    }
    void fetch() {
        QFETCH(QString, url);
        QFETCH(QByteArray, head);
        QFETCH(int, size);
        QFETCH(bool, ok);
        QTemporaryDir dir;
        const QByteArray script =
            "print \"" + head + "\\r\\n\\r\\n\", \"a\" x " + QByteArray::number(size) + ";\n";
        QVERIFY(testsupport::writeAll(dir.filePath(u"x.cgi"_s), script));
        testsupport::EchoCgiServer web(dir.path());
        QVERIFY2(web.serve(), qPrintable(web.errorText()));
        url = url.isEmpty() ? web.baseUrl() + u"x.cgi"_s
                            : url.replace(u"WEB"_s, web.baseUrl().mid(7).chopped(1));
        QCOMPARE(CurlHttpFetcher().fetch(url).value_or("-"), ok ? QByteArray(size, 'a') : "-"_ba);
    }
};

QTEST_GUILESS_MAIN(tst_wancheck)
#include "tst_wancheck.moc"
