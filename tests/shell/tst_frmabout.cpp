#include "shell/frmabout.h"

#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

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

    // "作者のHP" opens the installed manual. Where there is none, or no browser starts (the offscreen
    // platform starts none), a box says so, and where the manual is.
    void homePageWithoutBrowser_data() {
        QTest::addColumn<bool>("manual");
        QTest::addColumn<QString>("box");
        QTest::newRow("installed manual, no browser") << true << u"ブラウザを起動できません"_s;
        QTest::newRow("no manual") << false << u"説明書"_s;
    }
    void homePageWithoutBrowser() {
        QFETCH(bool, manual);
        QFETCH(QString, box);
        QTemporaryDir data;
        const QString readme = data.filePath(u"doc/zentrow/README.md"_s);
        QVERIFY(!manual ||
                (QDir().mkpath(QFileInfo(readme).path()) && QFile(readme).open(QIODevice::WriteOnly)));
        qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
        qputenv("XDG_DATA_DIRS", data.path().toLocal8Bit());
        frmAbout w;
        w.show();
        QTest::mouseClick(w.cmdHome, Qt::LeftButton);
        const QList<QMessageBox *> shown = w.findChildren<QMessageBox *>();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0]->icon() == QMessageBox::Information && shown[0]->text().contains(box));
        QCOMPARE(shown[0]->text().contains(QFileInfo(data.path()).canonicalFilePath()), manual);
    }
};

QTEST_MAIN(TestFrmAbout)
#include "tst_frmabout.moc"
