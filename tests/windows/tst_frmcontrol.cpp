#include "engine/codepage.h"
#include "engine/shutdownsignals.h"
#include "tests/support/cgiserver.h"
#include "tests/support/ftpserver.h"
#include "tests/support/recordingsink.h"
#include "tests/support/scriptedserver.h"
#include "tests/support/testsupport.h"
#include "windows/frmcontrol.h"
#include "windows/frmmain.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStyleOptionTitleBar>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <csignal>

using namespace Qt::Literals::StringLiterals;
using namespace testsupport;
using codepage::toAnsi;

namespace {

// A program folder and a real FTP server holding the gateway file, 198.51.100.1 published before;
// the address-echo CGI says 203.0.113.9 (2400:4050::9 over IPv6). It counts the paints of what it filters.
struct Env : QObject, wancheck::HttpFetcher {
    explicit Env(const QByteArray &serverFile = "off,198.51.100.1,m\r\n", int chkAuto = 1,
                 const FtpServer::Options &ftp = {}) {
        if (!serverFile.isNull())
            writeAll(site.filePath(u"ipdata.txt"_s), serverFile);
        server = std::make_unique<FtpServer>(site.path(), ftp);
        rec.strFtpSv = server->hostPort();
        rec.strFtpUser = server->options().user;
        rec.strFtpPass = server->options().password;
        rec.strFtpPath = u"/ipdata.txt"_s;
        rec.strIpAdd = u"cgi"_s;
        rec.intChkAuto = qint16(chkAuto);
        rec.intTimer = 1;
        rec.strWanIp = rec.strLastWanIp = u"198.51.100.1"_s;
    }
    std::optional<QByteArray> fetch(const QString &, wancheck::IpVersion v) override {
        ++fetches;
        if (onFetch)
            onFetch();
        if (echoed.isEmpty())
            return std::nullopt;
        return v == wancheck::IpVersion::V6 ? "IPADDR=[2400:4050:0::9]=IPADDR"_ba
                                            : "IPADDR=[" + echoed.toLatin1() + "]=IPADDR";
    }
    bool eventFilter(QObject *, QEvent *e) override {
        paints += e->type() == QEvent::Paint;
        return false;
    }
    // A run on zent.ini as the record says, the controller opened from the menu.
    frmControl *start() {
        store.SaveSetData();
        store.SaveConData();
        main = std::make_unique<frmMain>(store);
        main->setControlFactory([this](SettingsStore &s) {
            auto *w = new frmControl(s);
            w->setMessageSink(&sink);
            w->setHttpFetcher(this);
            setUp(w);
            return w;
        });
        main->show();
        main->activateWindow(); // no window manager gives it the focus under a bare X server
        (void)QTest::qWaitForWindowActive(main.get());
        main->mnuCont->trigger();
        return main->controlWindow();
    }
    QByteArray serverFile() const { return readAll(site.filePath(u"ipdata.txt"_s)); }
    qsizetype uploads() { return server->verbs().count(u"STOR"_s); }

    QTemporaryDir prog, site;
    std::unique_ptr<FtpServer> server;
    SettingsStore store{prog.path()};
    SettingsRecord &rec = store.record();
    RecordingSink sink;
    std::unique_ptr<frmMain> main;
    std::function<void(frmControl *)> setUp = [](frmControl *) {}; // before the window's opening
    std::function<void()> onFetch;
    QString echoed = u"203.0.113.9"_s; // empty: the echo fails
    int fetches = 0, paints = 0;
};

// Clicks a part of the child window's title bar where the style draws it, the pointer arriving
// there first as a person's does.
void clickTitleBar(QMdiSubWindow *w, QStyle::SubControl part) {
    QStyleOptionTitleBar opt;
    opt.initFrom(w);
    opt.titleBarFlags = w->windowFlags();
    opt.subControls = QStyle::SC_All;
    opt.rect = QRect(0, 0, w->width(), w->style()->pixelMetric(QStyle::PM_TitleBarHeight, &opt, w));
    const QPoint at = w->style()->subControlRect(QStyle::CC_TitleBar, &opt, part, w).center();
    QTest::mouseMove(w, at - QPoint(1, 1)); // a move onto the point itself may be taken for none
    QTest::mouseMove(w, at);
    QTest::mouseClick(w, Qt::LeftButton, {}, at);
}

// Types into the closed message and leaves it for the list before it, as a person does.
void editMessage(frmControl *w, const QString &text) {
    QTest::mouseClick(w->txtPvnMsg, Qt::LeftButton);
    QTest::keyClick(w->txtPvnMsg, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(w->txtPvnMsg, text);
    QTest::keyClick(w->txtPvnMsg, Qt::Key_Backtab);
}

} // namespace

class tst_frmcontrol : public QObject {
    Q_OBJECT
private slots:
    // A first start: the controller tries nothing and says in one box what to fill in; a tick stays
    // silent, a click on the picture says it again.
    void emptySettingsSayWhatToFill() {
        Env env;
        env.rec = SettingsRecord();
        env.rec.intTimer = env.rec.intChkAuto = 1;
        frmControl *w = env.start();
        w->tmrChk_Timer();
        QTest::mouseClick(w->imgStat, Qt::LeftButton);
        QCOMPARE(env.sink.titles(), QStringList(2, u"Zentrow"_s)); // no FTP box: no transfer tried
        QVERIFY(env.sink.boxes[1].text.contains(u"「設定(&S)」"_s) && env.fetches == 0);
    }

    // A real timer: ticks that fall while the opening check waits in a box still count, and the
    // check that falls due meanwhile is skipped, so the schedule keeps its pace.
    void ticksCountDuringABox() {
        Env env;
        env.rec.intTimer = 2;
        int ticks = 0;
        QList<int> checksAt;
        env.setUp = [&](frmControl *w) {
            w->setTickInterval(20);
            connect(w->tmrChk, &QTimer::timeout, w, [&] { ++ticks; });
        };
        env.onFetch = [&] {
            if (ticks == 0)
                QTRY_VERIFY(ticks >= 12); // the opening check stays in its box meanwhile
            else
                checksAt << ticks + 1; // runs before this tick is counted above
        };
        frmControl *w = env.start();
        QTRY_VERIFY(ticks >= 25);
        w->tmrChk->stop();
        QCOMPARE(checksAt, QList<int>{20});
    }

    // Automatic mode (here IPv6 with a link port) publishes a changed address, the picture and an edited
    // message at once; the picture is painted before its upload begins. A comma typed into the message is
    // the full-width one and a carried fourth field joins the message, so the file has three fields.
    void automaticMode() {
        Env env(toAnsi(u"off,198.51.100.1,ただいま閉鎖中,b\r\n"_s));
        env.rec.intIpVer = 6;
        env.rec.strLinkPort = u"4096"_s;
        frmControl *w = env.start();
        QCOMPARE(env.serverFile(), toAnsi(u"off,[2400:4050::9]:4096,ただいま閉鎖中，b\r\n"_s));
        QCOMPARE(w->lblPvnIp->text(), u"[2400:4050::9]:4096"_s); // whole, though shown cut
        w->imgStat->installEventFilter(&env);
        QTest::qWait(50);
        int paintsAtUpload = env.paints = 0;
        w->session().setBlockingHook([&, first = true](bool on) mutable {
            if (on && std::exchange(first, false)) // the upload, first after the click
                paintsAtUpload = env.paints;
        });
        QTest::mouseClick(w->imgStat, Qt::LeftButton);
        QVERIFY(paintsAtUpload > 0);
        QCOMPARE(w->imgStat->toolTip(), u"Porvane 公開中"_s);
        editMessage(w, u"closed, back at 9"_s);
        QTRY_COMPARE(env.serverFile(), "on,[2400:4050::9]:4096,closed\x81\x43 back at 9\r\n"_ba);
        QCOMPARE(w->txtPvnMsg->text(), u"closed， back at 9"_s);
    }

    // Manual mode ("2": only 1 is automatic) only says what changed: a click on the picture keeps the
    // old address and the change pending, "手動ｱｯﾌﾟ" publishes it, an edited message waits for it too.
    // Then a close while the message has the focus and an edit, after a click on the title bar: it
    // closes, no box comes, the edit and the schedule are kept, the settings can be opened again.
    void manualMode() {
        Env env("off,198.51.100.1,m\r\n", 2);
        QPointer<frmControl> w = env.start();
        QCOMPARE(w->windowTitle(), u"ｺﾝﾄﾛｰﾗ (Manual)"_s);
        QCOMPARE(env.sink.titles(), QStringList{u"WAN IP 変更"_s});
        QVERIFY(env.uploads() == 0 && w->cmdManual->isEnabled() && !env.main->mnuSet->isEnabled());
        QTest::mouseClick(w->imgStat, Qt::LeftButton);
        QCOMPARE(env.serverFile(), "on,198.51.100.1,m\r\n"_ba);
        QTest::mouseClick(w->cmdManual, Qt::LeftButton);
        QVERIFY(env.serverFile() == "on,203.0.113.9,m\r\n" && !w->cmdManual->isEnabled());
        editMessage(w, u"back at 9"_s);
        QTRY_COMPARE(env.sink.titles().last(), u"メッセージ変更"_s);
        QVERIFY(w->cmdManual->isEnabled() && env.serverFile().endsWith(",m\r\n"));
        QTest::mouseClick(w->cmdManual, Qt::LeftButton);
        QCOMPARE(env.serverFile(), "on,203.0.113.9,back at 9\r\n"_ba);
        QTest::mouseClick(w->txtPvnMsg, Qt::LeftButton);
        QTRY_VERIFY(w->txtPvnMsg->hasFocus());
        QTest::keyClicks(w->txtPvnMsg, u" till 10"_s);
        clickTitleBar(w, QStyle::SC_TitleBarLabel);
        w->cboTimer->setCurrentIndex(3);
        QTest::qWait(50);
        clickTitleBar(w, QStyle::SC_TitleBarCloseButton);
        QTRY_VERIFY(!w);
        QVERIFY(env.sink.boxes.size() == 2 && env.main->mnuSet->isEnabled());
        QVERIFY(env.rec.strPvnMsg == u"back at 9 till 10"_s && env.rec.intTimer == 3);
    }

    // The server's file cannot be had when the window opens (nothing listens, or its passive replies
    // name a port a firewall keeps closed): one box with the cause for the download and the publication
    // it stops, and nothing is published from the state the record remembers. Once the server answers,
    // the next check publishes on top of the server's own state.
    void unreachableAtOpening_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("shown"); // the box's first line, also in the log
        QTest::newRow("nothing listens") << QString() << u"InternetConnect:GetLastError=7"_s;
        QTest::newRow("passive port closed") << u"pasv-closed"_s << u"FtpGetFile:GetLastError=7"_s;
    }
    void unreachableAtOpening() {
        QFETCH(QString, fault);
        QFETCH(QString, shown);
        FtpServer::Options back;
        back.port = QString::number(unusedLocalPort());
        back.fault = fault;
        Env env(toAnsi(u"on,198.51.100.1,サーバの案内\r\n"_s), 1, back);
        if (fault.isEmpty())
            env.server.reset();
        env.rec.strPvnSt = u"off"_s;
        frmControl *w = env.start();
        QCOMPARE(env.sink.titles(), QStringList{u"Zentrow<FtpGet>"_s});
        QCOMPARE(env.sink.boxes[0].text.section(u"\r\n"_s, 0, 0), shown);
        QVERIFY(readAll(env.prog.filePath(u"zentrow.log"_s)).contains(" upload failed: " + shown.toLatin1()));
        QCOMPARE(env.rec.strLastWanIp, u"198.51.100.1"_s);
        env.server.reset();
        back.fault.clear();
        env.server = std::make_unique<FtpServer>(env.site.path(), back);
        w->tmrChk_Timer();
        QCOMPARE(env.serverFile(), toAnsi(u"on,203.0.113.9,サーバの案内\r\n"_s));
        QCOMPARE(env.sink.boxes.size(), 1);
    }

    // A scheduled check publishes a new address while the closed message is being typed: the text stays as
    // typed, and the Tab that ends the typing publishes it with the new address.
    void typingWhileATickPublishes() {
        Env env;
        env.setUp = [](frmControl *w) { w->setTickInterval(50); }; // "1分": a check at every tick
        frmControl *w = env.start();
        QTest::mouseClick(w->txtPvnMsg, Qt::LeftButton);
        QTest::keyClick(w->txtPvnMsg, Qt::Key_End);
        env.echoed = u"203.0.113.10"_s;
        env.onFetch = [&] { // keys typed as the check begins, and while it uploads
            QTest::keyClicks(w->txtPvnMsg, u" till"_s);
            QTimer::singleShot(0, w, [w] { QTest::keyClicks(w->txtPvnMsg, u" 10"_s); });
            env.onFetch = {};
        };
        QTRY_COMPARE(env.serverFile(), "off,203.0.113.10,m\r\n"_ba);
        QCOMPARE(w->txtPvnMsg->text(), u"m till 10"_s);
        QTest::keyClick(w->txtPvnMsg, Qt::Key_Tab);
        QTRY_COMPARE(env.serverFile(), "off,203.0.113.10,m till 10\r\n"_ba);
    }

    // "終了(&X)" chosen from the menu while the server takes the connection and never answers, or never
    // answers the download of a check that would publish: meanwhile the window repaints, its menus answer and
    // the wait cursor is over the controller. The transfer is dropped at once: nothing is uploaded, no box
    // shown, zent.ini keeps the address last published (also when the echo failed), no working copy is left.
    void endDuringATransfer_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("accepts, never answers; echo failed") << u"silent"_s;
        QTest::newRow("download never answered") << u"retr-silent"_s;
    }
    void endDuringATransfer() {
        QFETCH(QString, fault);
        Env env("off,198.51.100.1,m\r\n", 1, {.fault = fault});
        if (fault == u"silent"_s)
            env.echoed.clear();
        bool busy = false;
        QElapsedTimer chosen;
        QTimer::singleShot(300, &env, [&] {
            frmControl *w = env.main->controlWindow();
            busy = w->cursor().shape() == Qt::WaitCursor && !w->imgStat->isEnabled();
            w->lblWanIp->installEventFilter(&env);
            w->lblWanIp->update(); // painted only while the window's events are handled
            QMenuBar *bar = env.main->menuBar();
            QTest::mouseClick(bar, Qt::LeftButton, {},
                              bar->actionGeometry(bar->actions().constFirst()).center());
            auto *file = qobject_cast<QMenu *>(env.main->mnuEnd->parent());
            QTRY_VERIFY(file->isVisible() && env.paints > 0);
            chosen.start();
            QTest::mouseClick(file, Qt::LeftButton, {}, file->actionGeometry(env.main->mnuEnd).center());
        });
        env.start();
        QVERIFY(busy && chosen.isValid() && !env.main->isVisible());
        QVERIFY2(chosen.elapsed() < 2500, qPrintable(QString::number(chosen.elapsed())));
        QVERIFY(env.uploads() == 0 && env.sink.boxes.isEmpty());
        QVERIFY(readAll(env.store.iniPath()).contains("WanIp=198.51.100.1\r\n"));
        QVERIFY(!QFileInfo::exists(env.store.ipDataPath()));
    }

    // The server refuses the upload of a new address and the run ends in the box (or after it): no
    // working copy comes back, zent.ini keeps the address last published; the next run publishes.
    void failedUploadIsRetriedAfterARestart_data() {
        QTest::addColumn<QString>("way");
        QTest::newRow("終了(&X) in the box") << u"menu"_s;
        QTest::newRow("close box in the box") << u"close box"_s;
        QTest::newRow("SIGTERM in the box") << u"signal"_s;
        QTest::newRow("closed after the opening") << u"close"_s;
    }
    void failedUploadIsRetriedAfterARestart() {
        QFETCH(QString, way);
        FtpServer::Options readOnly; // the file can be read, not written
        readOnly.perm = u"elr"_s;
        Env env("off,198.51.100.1,m\r\n", 1, readOnly);
        ShutdownSignals endSignals;
        qsizetype uploads = -1;
        env.sink.onShow = [&] {
            uploads = env.uploads();
            if (way == u"menu"_s) {
                env.main->mnuEnd->trigger();
            } else if (way == u"close box"_s) {
                env.main->close();
            } else if (way == u"signal"_s) {
                connect(&endSignals, &ShutdownSignals::requested, env.main.get(), &frmMain::mnuEnd_Click);
                ::raise(SIGTERM);
                QTRY_VERIFY(!env.main->isVisible());
            }
        };
        env.start();
        env.main->close();
        QCOMPARE(env.sink.titles(), QStringList{u"Zentrow<FtpPut>"_s});
        QVERIFY(!QFileInfo::exists(env.store.ipDataPath()));
        QCOMPARE(env.uploads(), uploads);
        QVERIFY(readAll(env.store.iniPath()).contains("WanIp=198.51.100.1\r\n"));
        env.sink.onShow = {};
        env.server = std::make_unique<FtpServer>(env.site.path()); // one that takes uploads
        env.rec.strFtpSv = env.server->hostPort();
        env.start();
        QCOMPARE(env.serverFile(), "off,203.0.113.9,m\r\n"_ba);
        QCOMPARE(env.sink.boxes.size(), 1);
    }

    // The opening check meets a mail server's script, steps split by "|": "S:" it sends, "C:" it receives
    // exactly this next, "P:" it pauses so many ms, "CLOSED" it waits for the window to hang up; then it
    // hangs up. The window holds what it found or the address it had, shows only what it should and
    // publishes nothing; later checks meet a peer saying 203.0.113.10. The exim, postfix and postscreen
    // rows are the bytes those servers send.
    void mailServer_data() {
        QTest::addColumn<QString>("smtp");
        QTest::addColumn<QString>("wanIp"); // empty: the address it had
        QTest::addColumn<int>("boxes");     // "WAN IP 情報"
        auto smtp = [](const char *name, const QString &script, const QString &wanIp, int boxes) {
            QTest::newRow(name) << script << wanIp << boxes;
        };
        const QString hello = u"S:220 mx ESMTP\r\n|C:EHLO pc01\r\n|"_s, quit = u"|C:QUIT\r\n"_s,
                      postfix =
                          u"C:EHLO pc01\r\n|S:250-vm\r\n250-PIPELINING\r\n250-SIZE 10240000\r\n250-ETRN\r\n"
                          u"250-ENHANCEDSTATUSCODES\r\n250-8BITMIME\r\n250-DSN\r\n250-SMTPUTF8\r\n"
                          u"250 CHUNKING\r\n|C:QUIT\r\n"_s;
        smtp("exim",
             u"S:220 vm ESMTP Exim 4.96 Sun, 06 Dec 2026 21:00:00 +0000\r\n|C:EHLO pc01\r\n|S:250-vm Hello "
             u"vm [127.0.0.1]\r\n250-SIZE 52428800\r\n250-8BITMIME\r\n250-PIPELINING\r\n250-PIPECONNECT\r\n"
             u"250-CHUNKING\r\n250-STARTTLS\r\n250-PRDR\r\n250 HELP\r\n|C:QUIT\r\n|S:221 vm closing "
             u"connection\r\n|CLOSED"_s,
             u"127.0.0.1"_s, 0);
        smtp("postfix", u"S:220 vm ESMTP Postfix (Debian/GNU)\r\n|"_s + postfix, {}, 1);
        smtp("postscreen",
             u"S:220-vm ESMTP Postfix (Debian/GNU)\r\n|P:300|S:220 vm ESMTP Postfix (Debian/GNU)\r\n|"_s +
                 postfix,
             {}, 1);
        smtp("greeting split in its last line",
             u"S:220-vm ESMTP\r\n220 vm ESM|P:200|S:TP Postfix\r\n|"_s + postfix, {}, 1);
        smtp("second greeting after EHLO", hello + u"S:220 mx ESMTP\r\n|CLOSED"_s, {}, 0);
        smtp("421 greeting", u"S:421 busy\r\n|CLOSED"_s, {}, 0);
        // A 1 MiB line with "[" and no "]": judged on its first piece, the rest dropped.
        smtp("huge reply", hello + u"S:250 mx ["_s + QString(1 << 20, u'x') + quit, {}, 1);
        smtp("hangs up after a 250 without an address", hello + u"S:250 mx\r\n"_s, {}, 1);
        smtp("silence", u"CLOSED"_s, {}, 0);
    }
    void mailServer() {
        QFETCH(QString, smtp);
        QFETCH(QString, wanIp);
        QFETCH(int, boxes);
        const QStringList steps = smtp.split(u'|', Qt::SkipEmptyParts),
                          good = u"S:220 mx\r\n|C:EHLO pc01\r\n|S:250 [203.0.113.10]\r\n|C:QUIT\r\n"_s.split(
                              u'|');
        QByteArray got, want; // the window's bytes, read on the first connection and expected
        for (const QString &step : steps)
            want += step.startsWith(u"C:"_s) ? step.mid(2).toLatin1() : QByteArray();
        std::atomic<bool> played = false;
        ScriptedServer mail([&](ScriptedServer &s, ScriptedServer::Socket &c) {
            QByteArray in;
            for (const QString &step : s.connections() == 1 ? steps : good) {
                const QByteArray arg = step.mid(2).toLatin1();
                if (step.startsWith(u"S:"_s))
                    c.send(arg);
                else if (step.startsWith(u"P:"_s))
                    QThread::msleep(arg.toULong());
                else
                    in += step.startsWith(u"C:"_s) ? c.read(arg.size()) : c.readAll();
            }
            if (s.connections() == 1)
                got = in, played = true;
        });
        QVERIFY(mail.isRunning());
        Env env("on,203.0.113.9,m\r\n");
        env.rec.strWanIp = env.rec.strLastWanIp = u"203.0.113.9"_s;
        env.rec.intIpChk = 1;
        env.rec.strIpAdd = u"127.0.0.1:%1"_s.arg(mail.port());
        env.setUp = [](frmControl *w) {
            w->setLocalHostName(u"pc01"_s);
            w->setSmtpReplyTimeout(3000); // a silent server is waited for a few seconds only
        };
        qint64 unsentAtBox = -1;
        env.sink.onShow = [&] {
            unsentAtBox = env.main->controlWindow()->Ws->bytesToWrite();
            env.main->controlWindow()->tmrChk_Timer(); // dropped: a box is open
        };
        frmControl *w = env.start();
        QTRY_VERIFY_WITH_TIMEOUT(played && w->Ws->state() == QTcpSocket::UnconnectedState, 20000);
        QCOMPARE(got, want);
        QCOMPARE(mail.connections(), 1);
        QCOMPARE(env.rec.strWanIp, wanIp.isEmpty() ? u"203.0.113.9"_s : wanIp);
        QCOMPARE(w->lblWanIp->text(), wanIp.isEmpty() ? frmControl::kNoAddress : wanIp);
        QCOMPARE(env.sink.titles(), QStringList(boxes, u"WAN IP 情報"_s));
        QCOMPARE(unsentAtBox, boxes ? 0 : -1); // QUIT follows the box
        QVERIFY(env.uploads() == 0 && env.serverFile() == "on,203.0.113.9,m\r\n");
        // The next exchange finds 203.0.113.10 after its check has ended; the check after it publishes it.
        w->tmrChk_Timer();
        QTRY_COMPARE_WITH_TIMEOUT(env.rec.strWanIp, u"203.0.113.10"_s, 10000);
        w->tmrChk_Timer();
        QCOMPARE(env.serverFile(), "on,203.0.113.10,m\r\n"_ba);
    }

    // The web server reads another folder than the FTP server writes: the address counts as published,
    // one box says what the page shows instead.
    void pageShowsSomethingElse() {
        Env env("on,198.51.100.1,m\r\n");
        QTemporaryDir www;
        QVERIFY(QFile::copy(QStringLiteral(ZENTROW_SOURCE "/gateway/Porvane.cgi"),
                            www.filePath(u"Porvane.cgi"_s)));
        EchoCgiServer web(www.path());
        QVERIFY2(web.serve(), qPrintable(web.errorText()));
        env.rec.strPvnUrl = web.baseUrl();
        env.start();
        QCOMPARE(env.sink.titles(), QStringList{u"Porvane 確認"_s});
        QVERIFY(env.sink.boxes[0].text.contains(u"ページの表示: off (公開したもの: on,203.0.113.9)"_s));
        QVERIFY(env.uploads() == 1 && env.rec.strLastWanIp == u"203.0.113.9"_s);
    }

    // A working copy that cannot be written: said once, nothing uploaded, nothing half-written.
    void unwritableWorkingCopy() {
        Env env;
        QVERIFY(QDir(env.prog.path()).mkdir(u"ipdata.txt"_s)); // a folder where the file goes
        env.start();
        QCOMPARE(env.sink.titles(), QStringList{u"Zentrow"_s});
        QVERIFY(env.uploads() == 0 && env.rec.strLastWanIp == u"198.51.100.1"_s);
    }
};

QTEST_MAIN(tst_frmcontrol)
#include "tst_frmcontrol.moc"
