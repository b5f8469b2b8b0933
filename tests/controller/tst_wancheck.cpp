#include "controller/wancheck.h"
#include "tests/support/ftpserver.h"

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

    // Only http and https: never a local file, never another protocol; where nothing listens, nothing comes.
    void refused() {
        const QString port = QString::number(unusedLocalPort());
        for (const QString &url :
             {u"file:///etc/hostname"_s, u"ftp://127.0.0.1:"_s + port, u"http://127.0.0.1:"_s + port})
            QVERIFY2(!CurlHttpFetcher().fetch(url), qPrintable(url));
    }
};

QTEST_GUILESS_MAIN(tst_wancheck)
#include "tst_wancheck.moc"
