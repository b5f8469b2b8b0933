#include "tests/support/testsupport.h"
#include "windows/frmabout.h"
#include "windows/frmmain.h"

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
    // window stays so while the run ends.
    void childWindow() {
        QTemporaryDir dir;
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

    // --controller opens the controller at start, whose check reaches the mail server; a logout's
    // SIGHUP then ends the run as usual.
    void controllerAtStart() {
        QTemporaryDir dir;
        QTcpServer mail;
        QVERIFY(mail.listen(QHostAddress::LocalHost));
        const QString ini = u"[SetData]\nFtpSv=127.0.0.1:1\nFtpPath=/i\nIpChk=1\nIpAdd=127.0.0.1:%1\n"_s;
        QVERIFY(writeAll(dir.filePath(u"zent.ini"_s), ini.arg(mail.serverPort()).toLatin1()));
        QProcess p;
        p.start(copyProgram(dir), {u"--controller"_s});
        QVERIFY(mail.waitForNewConnection(20000));
        ::kill(pid_t(p.processId()), SIGHUP);
        QVERIFY(p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit);
        QVERIFY(readAll(dir.filePath(u"zent.ini"_s)).contains("[ConData]"));
    }
};

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
