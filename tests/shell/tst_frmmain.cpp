#include "shell/frmmain.h"
#include "tests/support/recordingsink.h"
#include "tests/support/testsupport.h"

#include <QAction>
#include <QFile>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QStyleOptionTitleBar>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace Qt::Literals::StringLiterals;

namespace {
// One pixel of rounding either way at 96 dpi.
constexpr float kTolerance = 15.5f;

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
// True when /proc says the process has a handler for the signal.
bool catchesSignal(qint64 pid, int sig) {
    QFile status(u"/proc/%1/status"_s.arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (sig - 1)) & 1;
    }
    return false;
}
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
    void restSizeMenusAndAbout() {
        QTemporaryDir dir;
        SettingsStore store(dir.path());
        frmMain w(store);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_VERIFY(qAbs(w.Width() - 7800) <= kTolerance);
        QTRY_VERIFY(qAbs(w.Height() - 800) <= kTolerance);
        QCOMPARE(w.windowTitle(), u"Zentrow"_s);

        QStringList bar;
        for (QAction *a : w.menuBar()->actions()) {
            bar << a->text();
            QVERIFY(a->isEnabled());
        }
        QCOMPARE(bar, (QStringList{u"ﾌｧｲﾙ(&F)"_s, u"ｺﾝﾄﾛｰﾗ(&C)"_s, u"設定(&S)"_s, u"ﾍﾙﾌﾟ(&H)"_s}));
        QCOMPARE(w.mnuEnd->text(), u"終了(&X)"_s);
        QCOMPARE(w.mnuVer->text(), u"ﾊﾞｰｼﾞｮﾝ情報(&V)"_s);
        QVERIFY(w.mnuCont->menu() == nullptr && w.mnuSet->menu() == nullptr);

        // The about window stands beside it: one instance, no size or menu change.
        const QSize before = w.frameGeometry().size();
        w.mnuVer->trigger();
        frmAbout *first = w.aboutWindow();
        QVERIFY(first && first->isVisible() && first->parentWidget() == nullptr);
        w.mnuVer->trigger();
        QCOMPARE(w.aboutWindow(), first); // one about window
        QCOMPARE(w.frameGeometry().size(), before);
        QVERIFY(w.mnuCont->isEnabled() && w.mnuSet->isEnabled());
    }

    // The child windows have a fixed border (a drag on the corner changes nothing) and the program's
    // icon in their title bar; a minimized main window stays minimized while the run ends.
    void childWindows_data() {
        QTest::addColumn<bool>("controller");
        QTest::newRow("ｺﾝﾄﾛｰﾗ") << true;
        QTest::newRow("Setup") << false;
    }
    void childWindows() {
        QFETCH(bool, controller);
        QTemporaryDir dir;
        SettingsStore store(dir.path());
        RecordingSink sink;
        frmMain w(store);
        w.setControlFactory([&sink](SettingsStore &s) {
            auto *c = new frmControl(s);
            c->setMessageSink(&sink);
            return c;
        });
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        (controller ? w.mnuCont : w.mnuSet)->trigger();
        QMdiSubWindow *child = controller ? static_cast<QMdiSubWindow *>(w.controlWindow()) : w.setupWindow();
        const QSize size = child->size();
        const QPoint corner(child->width() - 2, child->height() - 2), to = corner + QPoint(60, 40);
        QTest::mouseMove(child, corner - QPoint(1, 1));
        QTest::mouseMove(child, corner);
        QTest::mousePress(child, Qt::LeftButton, {}, corner);
        QTest::mouseMove(child, to);
        QTest::mouseRelease(child, Qt::LeftButton, {}, to);
        QCOMPARE(child->size(), size);

        QStyleOptionTitleBar opt;
        opt.initFrom(child);
        opt.titleBarFlags = child->windowFlags();
        opt.rect =
            QRect(0, 0, child->width(), child->style()->pixelMetric(QStyle::PM_TitleBarHeight, &opt, child));
        const QImage icon = child
                                ->grab(child->style()->subControlRect(QStyle::CC_TitleBar, &opt,
                                                                      QStyle::SC_TitleBarSysMenu, child))
                                .toImage();
        int blue = 0; // the house stands on the program's blue
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x)
                blue += icon.pixelColor(x, y) == QColor(0x1f, 0x5f, 0xbf);
        QVERIFY2(blue > 10, "the title bar shows another icon than the program's");

        w.showMinimized();
        w.close();
        QVERIFY(w.isMinimized());
    }

    void sizingRestoresAMinimizedWindowFirst() {
        QTemporaryDir dir;
        SettingsStore store(dir.path());
        frmMain w(store);
        w.showMinimized();
        w.mnuSet->trigger();
        QVERIFY(!w.isMinimized());
        QVERIFY(w.setupWindow() != nullptr);
    }

    // Without a CP932 converter in the C library every text would convert to nothing: the program
    // says so and ends before it reads or writes anything.
    void refusesToStartWithoutCp932() {
        QTemporaryDir dir, gconv;
        QVERIFY(testsupport::writeAll(gconv.filePath(u"gconv-modules"_s),
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

    void shutDownWritesProfileAndDeletesWorkingCopy_data() {
        QTest::addColumn<QString>("working"); // what stands at ipdata.txt
        QTest::newRow("file") << u"file"_s;
        QTest::newRow("none") << u"none"_s;
        QTest::newRow("folder") << u"folder"_s;
    }
    void shutDownWritesProfileAndDeletesWorkingCopy() {
        QFETCH(QString, working);
        QTemporaryDir dir;
        SettingsStore store(dir.path());
        if (working == u"file"_s) {
            QFile f(store.ipDataPath());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("on,192.0.2.1,x\r\n");
        } else if (working == u"folder"_s) {
            QVERIFY(QDir(dir.path()).mkdir(u"ipdata.txt"_s));
        }
        {
            frmMain w(store);
            w.show();
            store.record().strWanIp = store.record().strLastWanIp = u"192.0.2.9"_s;
            store.record().strFtpPass = u"p@ss"_s;
            w.close();
        }
        const QByteArray ini = fileBytes(store.iniPath());
        QVERIFY(ini.startsWith("[SetData]\r\n"));
        QVERIFY(ini.contains("\r\n[ConData]\r\nWanIp=192.0.2.9\r\n"));
        QVERIFY(!ini.contains("p@ss"));
        const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
        QCOMPARE(QFile::permissions(store.iniPath()) & others, QFileDevice::Permissions());
        QCOMPARE(QFileInfo(store.ipDataPath()).isFile(), false);
        QCOMPARE(QFileInfo(store.ipDataPath()).isDir(), working == u"folder"_s);
    }

    // --autostart on, with no display, writes an entry that validates; launched as a session launches it,
    // it opens the controller on the quoted folder, whose check reaches the mail server. off removes it.
    void startAtLogin() {
        QTemporaryDir dir, config;
        QTcpServer mail;
        const QString exe = copyProgram(dir), prog = dir.filePath(u"a \"b\" $c \\d 100%"_s);
        const QString lock = prog + u"/zentrow.lock"_s,
                      entry = config.filePath(u"autostart/zentrow.desktop"_s);
        QVERIFY(mail.listen(QHostAddress::LocalHost) && QDir().mkpath(prog));
        const QString ini = u"[SetData]\nFtpSv=127.0.0.1:1\nFtpPath=/i\nIpChk=1\nIpAdd=127.0.0.1:%1\n"_s;
        QVERIFY(testsupport::writeAll(prog + u"/zent.ini"_s, ini.arg(mail.serverPort()).toLatin1()));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
            env.remove(name);
        env.insert(u"XDG_CONFIG_HOME"_s, config.path());
        env.insert(u"PATH"_s, dir.path() + u":/usr/bin:/bin"_s); // finds this very program as zentrow
        auto run = [&env](const QString &program, const QStringList &args) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.setProcessChannelMode(QProcess::ForwardedChannels); // what it starts outlives the pipes
            p.start(program, args);
            return p.waitForFinished(20000) && p.exitCode() == 0;
        };
        auto holder = [&lock] { return fileBytes(lock).split('\n').value(0).toInt(); };
        const auto reap = qScopeGuard([&] { holder() > 0 && ::kill(holder(), SIGKILL); }); // whatever happens
        QVERIFY(run(exe, {u"--autostart"_s, u"on"_s, u"--program-folder"_s, prog}));
        QVERIFY(fileBytes(entry).contains("\nExec=zentrow --controller --program-folder \""));
        QVERIFY(run(u"desktop-file-validate"_s, {entry}));
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        QVERIFY(run(u"gio"_s, {u"launch"_s, entry}) && mail.waitForNewConnection(20000));
        QVERIFY(holder() > 0 && ::kill(holder(), SIGTERM) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(lock), 10000); // ended as usual
        QVERIFY(run(exe, {u"--autostart"_s, u"off"_s}) && !QFileInfo::exists(entry));
    }

    // The real program, ended by a signal, saves like a normal end.
    void endSignalRunsTheNormalShutDown_data() {
        QTest::addColumn<int>("sig");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void endSignalRunsTheNormalShutDown() {
        QFETCH(int, sig);
        QTemporaryDir dir;
        const QString exe = copyProgram(dir);
        QFile working(dir.filePath(u"ipdata.txt"_s));
        QVERIFY(working.open(QIODevice::WriteOnly));
        working.close();

        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(exe, {});
        QVERIFY(p.waitForStarted());
        // Wait until the program has taken over the signal, as the kernel reports it.
        QTRY_VERIFY_WITH_TIMEOUT(catchesSignal(p.processId(), sig), 10000);
        QVERIFY(!QFileInfo::exists(dir.filePath(u"zent.ini"_s)));
        ::kill(static_cast<pid_t>(p.processId()), sig);
        if (!p.waitForFinished(10000)) {
            p.kill();
            p.waitForFinished();
            QFAIL("the program did not end on the signal");
        }
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QVERIFY(fileBytes(dir.filePath(u"zent.ini"_s)).startsWith("[SetData]\r\nFtpSv=\r\n"));
        QVERIFY(!QFileInfo::exists(dir.filePath(u"ipdata.txt"_s)));
    }
};

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
