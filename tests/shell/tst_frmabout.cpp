#include "shell/frmabout.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

// Catches the browser requests instead of starting a browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};

class TestFrmAbout : public QObject {
    Q_OBJECT
private slots:
    void versionLine_data() {
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        QTest::addColumn<int>("revision");
        QTest::addColumn<QString>("line");
        QTest::newRow("this release") << 1 << 0 << 0 << u"Version 1.0.0"_s;
        QTest::newRow("no leading zeros") << 2 << 10 << 3 << u"Version 2.10.3"_s;
    }
    void versionLine() {
        QFETCH(int, major);
        QFETCH(int, minor);
        QFETCH(int, revision);
        QFETCH(QString, line);
        QCOMPARE(frmAbout::versionLine(major, minor, revision), line);
    }

    void textsAtLoad() {
        frmAbout w;
        QCOMPARE(w.lblApp->text(), u"tst_frmabout"_s); // the running program's name
        QCOMPARE(w.lblVer->text(), u"Version 1.0.0"_s);
        const QStringList lines = w.lblEtc2->text().split(u"\r\n"_s);
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines.first().startsWith(u"Porvane.cgi"_s));
        QCOMPARE(lines.last(), u"不具合・損害等は一切責任を負いません。"_s);
        QCOMPARE(w.windowTitle(), u"バージョン情報"_s);
    }

    void okHasFocusAndCloses() {
        QPointer<frmAbout> w = new frmAbout;
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QCOMPARE(QApplication::focusWidget(), w->cmdOk);
        w->cmdOk->click();
        QTRY_VERIFY(w.isNull()); // closed and destroyed
    }

    void homeButtonOpensANewWindowEachTime() {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(u"https"_s, &catcher, "open");
        frmAbout w;
        w.cmdHome->click();
        w.cmdHome->click();
        QDesktopServices::unsetUrlHandler(u"https"_s);
        QCOMPARE(catcher.urls.size(), 2);
        QCOMPARE(catcher.urls.first(), QUrl(frmAbout::kHomePage));
        QVERIFY(catcher.urls.first().isValid());
    }
};

QTEST_MAIN(TestFrmAbout)
#include "tst_frmabout.moc"
