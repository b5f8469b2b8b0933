#include "tests/support/testsupport.h"
#include "windows/frmabout.h"
#include "windows/frmmain.h"

#include <QElapsedTimer>
#include <QMdiSubWindow>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace Qt::Literals::StringLiterals;
using namespace testsupport;

namespace {
// A copy of the program in `dir`, so that its program folder is `dir`.
QString copyProgram(const QTemporaryDir &dir) {
    const QString exe = dir.filePath(u"zentrow"_s);
    QFile::copy(QStringLiteral(ZENTROW_EXE), exe);
    QFile::setPermissions(exe, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return exe;
}
} // namespace

class TestFrmMain : public QObject {
    Q_OBJECT
private slots:
    // A child window opened on a minimized main window shows it; the child's border is fixed (a drag
    // on the corner changes nothing) and its title bar shows the program's icon. A minimized main
    // window stays so while the run ends, which keeps the address last published.
    void childWindow() {
        QTemporaryDir dir;
        QVERIFY(writeAll(dir.filePath(u"zent.ini"_s), "[ConData]\r\nWanIp=198.51.100.1\r\n"));
        SettingsStore store(dir.path());
        frmMain w(store);
        w.showMinimized();
        w.mnuSet->trigger();
        QVERIFY(!w.isMinimized() && QTest::qWaitForWindowExposed(&w));
        QMdiSubWindow *child = w.setupWindow();
        const QSize size = child->size();
        const QPoint corner(child->width() - 2, child->height() - 2), to = corner + QPoint(60, 40);
        QTest::mouseMove(child, corner - QPoint(1, 1));
        QTest::mouseMove(child, corner);
        QTest::mousePress(child, Qt::LeftButton, {}, corner);
        QTest::mouseMove(child, to);
        QTest::mouseRelease(child, Qt::LeftButton, {}, to);
        QCOMPARE(child->size(), size);
        // The title bar draws the child's icon: the program's, not the toolkit's.
        QCOMPARE(child->windowIcon().pixmap(16).toImage(), frmAbout::appIcon().pixmap(16).toImage());
        w.showMinimized();
        w.close();
        QVERIFY(w.isMinimized());
        QVERIFY(readAll(dir.filePath(u"zent.ini"_s)).contains("WanIp=198.51.100.1\r\n"));
    }

    // Without a CP932 converter in the C library every text would convert to nothing: the program
    // says so and ends before it reads or writes anything.
    void refusesToStartWithoutCp932() {
        QTemporaryDir dir, gconv;
        QVERIFY(writeAll(gconv.filePath(u"gconv-modules"_s),
                         "alias CP932// NOSUCH//\nmodule NOSUCH// INTERNAL NOSUCH 1\n"
                         "module INTERNAL NOSUCH// NOSUCH 1\n"));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"GCONV_PATH"_s, gconv.path());
        p.setProcessEnvironment(env);
        p.start(copyProgram(dir), {});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(QString::fromLocal8Bit(p.readAllStandardError()).contains(u"CP932"_s));
        QVERIFY(!QFileInfo::exists(dir.filePath(u"zent.ini"_s)));
    }

    // --controller opens the controller at start, whose opening check meets a peer that takes the connection
    // and never answers: the address echo, or the FTP server after a silent mail server. A signal meanwhile
    // (SIGTERM, a logout's SIGHUP) ends the run at once, well before any time limit of the network: status
    // 0, zent.ini written with the address last published, no working copy left.
    void endDuringTheOpeningCheck_data() {
        QTest::addColumn<int>("sig");
        QTest::addColumn<QString>("settings"); // %1: the silent peer's port, %2: the mail server's
        QTest::newRow("echo silent, SIGTERM")
            << int(SIGTERM) << u"IpAdd=http://127.0.0.1:%1/\nFtpSv=127.0.0.1:1\n"_s;
        QTest::newRow("FTP silent, SIGHUP")
            << int(SIGHUP) << u"IpChk=1\nIpAdd=127.0.0.1:%2\nFtpSv=127.0.0.1:%1\n"_s;
    }
    void endDuringTheOpeningCheck() {
        QFETCH(int, sig);
        QFETCH(QString, settings);
        QTemporaryDir dir;
        QTcpServer silent, mail;
        QVERIFY(silent.listen(QHostAddress::LocalHost) && mail.listen(QHostAddress::LocalHost));
        const QString ini = u"[SetData]\nFtpPath=/i\nChkAuto=1\n%1[ConData]\nWanIp=198.51.100.1\n"_s;
        QVERIFY(writeAll(dir.filePath(u"zent.ini"_s),
                         ini.arg(settings.arg(silent.serverPort()).arg(mail.serverPort())).toLatin1()));
        QProcess p;
        p.start(copyProgram(dir), {u"--controller"_s});
        QVERIFY(silent.waitForNewConnection(20000));
        QElapsedTimer ending;
        ending.start();
        ::kill(pid_t(p.processId()), sig);
        QVERIFY(p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0);
        QVERIFY2(ending.elapsed() < 3500, qPrintable(QString::number(ending.elapsed())));
        QVERIFY(readAll(dir.filePath(u"zent.ini"_s)).contains("WanIp=198.51.100.1\n")); // its line kept
        QVERIFY(!QFileInfo::exists(dir.filePath(u"ipdata.txt"_s)));
    }
};

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
