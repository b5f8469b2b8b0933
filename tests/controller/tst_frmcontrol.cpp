#include "controller/frmcontrol.h"
#include "controller/headlesscheck.h"
#include "settings/twips.h"
#include "shell/frmmain.h"
#include "tests/support/recordingsink.h"
#include "tests/support/scriptedserver.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QStyleOptionTitleBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kPlaceholder = u"000.000.000.000"_s;
const QString kCheck = u"CheckWanIp"_s;

// The window with its gateway-file half recorded instead of run; it is also the address-echo CGI.
class RecordingControl : public frmControl, public wancheck::HttpFetcher {
public:
    explicit RecordingControl(SettingsStore &store) : frmControl(store) { setHttpFetcher(this); }
    void DownloadIpData() override { log << u"DownloadIpData"_s; }
    void PublishIfChanged() override { log << u"PublishIfChanged"_s; }
    std::optional<QByteArray> fetch(const QString &) override {
        log << kCheck;
        if (onFetch)
            onFetch();
        return body;
    }
    QStringList log;
    std::optional<QByteArray> body = QByteArray("<body>##203.0.113.9##</body");
    std::function<void()> onFetch;
};

struct Env {
    QTemporaryDir dir;
    SettingsStore store{dir.path()};
    SettingsRecord &rec = store.record();
    RecordingSink sink;
    Env() { // complete settings, in zent.ini too for a main window; the peers are seams
        rec.strFtpSv = rec.strFtpPath = rec.strIpAdd = u"127.0.0.1:1"_s;
        store.SaveSetData();
    }
    std::unique_ptr<RecordingControl> make() {
        auto w = std::make_unique<RecordingControl>(store);
        w->setMessageSink(&sink);
        return w;
    }
};

// Opened with intTimer, `before` ticks, a selection (-2: none), `ticks` ticks; those in `checks` check.
struct Ticks {
    int timer, before, select, ticks;
    QList<int> checks;
};

// Outer sizes in twips come from whole pixels: allow one pixel each way.
bool near(float a, float b) {
    return qAbs(a - b) <= 16;
}

// A click on a part of a child window's title bar, where the style draws it, the pointer
// arriving there first as a person's does.
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

} // namespace

class tst_frmcontrol : public QObject {
    Q_OBJECT
private slots:
    // Opening selects intTimer and checks once; ticks follow the counting rule, a selection restarts
    // the count without a check of its own.
    void schedule_data() {
        QTest::addColumn<Ticks>("t");
        QTest::newRow("停止") << Ticks{0, 0, -2, 12, {}};
        QTest::newRow("1分") << Ticks{1, 0, -2, 3, {1, 2, 3}};
        QTest::newRow("10分") << Ticks{2, 0, -2, 25, {10, 20}};
        QTest::newRow("30分") << Ticks{3, 0, -2, 61, {30, 60}};
        QTest::newRow("60分") << Ticks{4, 0, -2, 121, {60, 120}};
        QTest::newRow("outside the list") << Ticks{5, 0, -2, 12, {}};
        QTest::newRow("60分 at 45 to 10分") << Ticks{4, 44, 2, 20, {10, 20}};
        QTest::newRow("10分 at 9 to 30分") << Ticks{2, 8, 3, 30, {30}};
        QTest::newRow("1分 to 停止") << Ticks{1, 2, 0, 5, {}};
    }
    void schedule() {
        QFETCH(Ticks, t);
        Env env;
        env.rec.intTimer = qint16(t.timer);
        auto w = env.make();
        w->Form_Load();
        QCOMPARE(w->log, (QStringList{kCheck, u"DownloadIpData"_s, u"PublishIfChanged"_s}));
        QCOMPARE(w->cboTimer->currentIndex(), t.timer < 5 ? t.timer : -1);
        for (int i = 0; i < t.before; ++i)
            w->tmrChk_Timer();
        w->log.clear();
        if (t.select != -2)
            w->cboTimer->setCurrentIndex(t.select);
        QVERIFY(w->log.isEmpty());
        QCOMPARE(w->tmrChk->isActive(), w->cboTimer->currentIndex() > 0);
        QList<int> checks;
        for (int tick = 1; tick <= t.ticks; ++tick) {
            w->log.clear();
            w->tmrChk_Timer();
            if (!w->log.isEmpty())
                checks << tick;
            QVERIFY(w->log.isEmpty() || w->log == (QStringList{kCheck, u"PublishIfChanged"_s}));
        }
        QCOMPARE(checks, t.checks);
    }

    // Mail server conversations, steps split by "|": "S:" it sends, "C:" it receives exactly this next,
    // "P:" it pauses so many ms, "HANGUP" it hangs up, "CLOSED" the client closes without more, "TICK" a
    // check drops this connection. The exim and postfix rows are what those servers send.
    void smtp_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("wanIp"); // "keep": unchanged
        QTest::addColumn<int>("boxes");
        const QString hello = u"S:220 mx ESMTP\r\n|C:EHLO pc01\r\n|"_s, quit = u"|C:QUIT\r\n"_s;
        const QString ip = u"192.0.2.7"_s, keep = u"keep"_s;
        QTest::newRow("usual exchange")
            << hello + u"S:250-mx [192.0.2.7]\r\n250 HELP\r\n"_s + quit + u"|S:221 bye\r\n|CLOSED"_s << ip
            << 0;
        QTest::newRow("multi-line 250")
            << hello + u"S:250-mx\r\n250-SIZE 1000\r\n250 HELP [192.0.2.7]\r\n"_s + quit << ip << 0;
        QTest::newRow("] before [") << hello + u"S:250 x] y [192.0.2.7] [192.0.2.8]\r\n"_s + quit << ip << 0;
        QTest::newRow("empty brackets") << hello + u"S:250 mx Hello []\r\n"_s + quit << QString() << 0;
        QTest::newRow("missing ]") << hello + u"S:250 mx Hello [192.0.2.7\r\n"_s + quit << keep << 1;
        QTest::newRow("comma") << hello + u"S:250 mx Hello [192.0.2.7,on]\r\n"_s + quit << keep << 1;
        QTest::newRow("250 split in two")
            << hello + u"S:250-mx [192.0.2.7]\r\n|P:200|S:250 HELP\r\n"_s + quit << ip << 0;
        QTest::newRow("second greeting after EHLO") << hello + u"S:220 mx ESMTP\r\n|CLOSED"_s << keep << 0;
        const QString exim250 = u"S:250-vm Hello vm [127.0.0.1]\r\n250-SIZE 52428800\r\n250-8BITMIME\r\n"
                                u"250-PIPELINING\r\n250-PIPECONNECT\r\n250-CHUNKING\r\n250-STARTTLS\r\n"
                                u"250-PRDR\r\n250 HELP\r\n"_s;
        QTest::newRow("exim")
            << u"S:220 vm ESMTP Exim 4.96 Sun, 06 Dec 2026 21:00:00 +0000\r\n|C:EHLO pc01\r\n|"_s + exim250 +
                   quit + u"|S:221 vm closing connection\r\n|CLOSED"_s
            << u"127.0.0.1"_s << 0;
        const QString postfix = u"C:EHLO pc01\r\n|S:250-vm\r\n250-PIPELINING\r\n250-SIZE 10240000\r\n"
                                u"250-ETRN\r\n250-ENHANCEDSTATUSCODES\r\n250-8BITMIME\r\n250-DSN\r\n"
                                u"250-SMTPUTF8\r\n250 CHUNKING\r\n"_s +
                                quit;
        QTest::newRow("postfix") << u"S:220 vm ESMTP Postfix (Debian/GNU)\r\n|"_s + postfix << keep << 1;
        QTest::newRow("postscreen") << u"S:220-vm ESMTP Postfix (Debian/GNU)\r\n|P:300|"
                                       u"S:220 vm ESMTP Postfix (Debian/GNU)\r\n|"_s +
                                           postfix
                                    << keep << 1;
        QTest::newRow("greeting split in its last line")
            << u"S:220-vm ESMTP\r\n220 vm ESM|P:200|S:TP Postfix\r\n|"_s + postfix << keep << 1;
        QTest::newRow("421 greeting") << u"S:421 busy\r\n|CLOSED"_s << keep << 0;
        QTest::newRow("554 greeting") << u"S:554 no service\r\n|CLOSED"_s << keep << 0;
        QTest::newRow("server hangs up") << hello + u"HANGUP"_s << keep << 0;
        QTest::newRow("silence") << u"CLOSED"_s << keep << 0;
        QTest::newRow("a new check drops the exchange")
            << hello + u"TICK|"_s + hello + u"S:250 [192.0.2.7]\r\n"_s + quit << ip << 0;
    }
    void smtp() {
        QFETCH(QString, script);
        QFETCH(QString, wanIp);
        QFETCH(int, boxes);
        const QStringList steps = script.split(u'|');
        std::atomic<int> at = 0;
        QByteArray got, want; // by the server's thread, before `at` moves on
        ScriptedServer server([&](ScriptedServer &, ScriptedServer::Socket &c) {
            for (; at < steps.size(); ++at) {
                const QByteArray bytes = steps[at].mid(2).toLatin1();
                if (steps[at].startsWith(u"S:"_s)) {
                    c.send(bytes);
                } else if (steps[at].startsWith(u"P:"_s)) {
                    QThread::msleep(steps[at].mid(2).toULong());
                } else if (steps[at].startsWith(u"C:"_s)) {
                    want += bytes;
                    got += c.read(bytes.size());
                } else if (steps[at] == u"CLOSED"_s) {
                    got += c.readAll();
                } else if (steps[at] == u"HANGUP"_s) {
                    c.close();
                } else if (steps[at] == u"TICK"_s) {
                    c.readAll();
                    ++at;
                    return;
                }
            }
        });
        QVERIFY(server.isRunning());
        Env env;
        env.rec.intIpChk = 1;
        env.rec.intTimer = 1;
        env.rec.strIpAdd = u"127.0.0.1:%1"_s.arg(server.port());
        env.rec.strWanIp = u"keep"_s;
        auto w = env.make();
        w->setLocalHostName(u"pc01"_s);
        // A server that never speaks is waited for a few seconds, not the full half minute.
        w->setSmtpReplyTimeout(script.contains(u"S:"_s) ? 30000 : 3000);
        qint64 unsentAtBox = -1;
        env.sink.onShow = [&] {
            unsentAtBox = w->Ws->bytesToWrite();
            w->tmrChk_Timer();
        }; // the tick is dropped
        w->Form_Load();
        for (qsizetype tick = steps.indexOf(u"TICK"_s); tick >= 0;
             tick = steps.indexOf(u"TICK"_s, tick + 1)) {
            QTRY_COMPARE_WITH_TIMEOUT(at.load(), tick, 10000);
            w->tmrChk_Timer();
        }
        QTRY_COMPARE_WITH_TIMEOUT(at.load(), steps.size(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(w->Ws->state(), QAbstractSocket::UnconnectedState, 10000);
        QCOMPARE(got, want);
        QCOMPARE(server.connections(), 1 + steps.count(u"TICK"_s));
        QCOMPARE(env.rec.strWanIp, wanIp);
        QCOMPARE(w->lblWanIp->text(), wanIp == u"keep"_s ? kPlaceholder : wanIp);
        QCOMPARE(env.sink.boxes.size(), boxes);
        for (const Box &b : std::as_const(env.sink.boxes)) {
            QCOMPARE(b.title + b.text,
                     u"WAN IP 情報SMTPがIPを返していません。\r\nnomrel.cgiの使用をお勧めします。"_s);
            QCOMPARE(b.style, int(MessageSink::Information));
        }
        QCOMPARE(unsentAtBox, boxes ? 0 : -1); // QUIT follows the box
    }

    // With the main window: caption, fitting, menus, the minute restarted, the state kept at closing.
    void openAndCloseInMainWindow_data() {
        QTest::addColumn<bool>("detected");
        QTest::addColumn<int>("chkAuto");
        QTest::newRow("detected, automatic") << true << 1;
        QTest::newRow("nothing detected, manual (2)") << false << 2;
    }
    void openAndCloseInMainWindow() {
        QFETCH(bool, detected);
        QFETCH(int, chkAuto);
        Env env;
        frmMain main(env.store); // loads the settings
        env.rec.intChkAuto = qint16(chkAuto);
        env.rec.intTimer = 2;
        main.setControlFactory([&env, detected](SettingsStore &) {
            auto w = env.make();
            if (!detected)
                w->body.reset();
            return w.release();
        });
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        main.mnuCont->trigger();
        QPointer<frmControl> w = main.controlWindow();
        QVERIFY(w && w->isVisible() && !main.mnuSet->isEnabled());
        QCOMPARE(w->windowTitle(), chkAuto == 1 ? u"ｺﾝﾄﾛｰﾗ (Auto)"_s : u"ｺﾝﾄﾛｰﾗ (Manual)"_s);
        QTRY_VERIFY(near(main.Width(), twips::outerWidth(w) + 250) &&
                    near(main.Height(), twips::outerHeight(w) + 1000));
        QTRY_VERIFY_WITH_TIMEOUT(w->tmrChk->remainingTime() < 59000, 10000);
        w->cboTimer->setCurrentIndex(3);
        QVERIFY(w->tmrChk->remainingTime() > 59000);
        w->txtPvnMsg->setText(u"メンテナンス中"_s);
        w->close();
        QTRY_VERIFY(!w);
        QVERIFY(main.mnuSet->isEnabled());
        QTRY_VERIFY(near(main.Width(), 7800) && near(main.Height(), 800));
        QCOMPARE(env.rec.strWanIp, detected ? u"203.0.113.9"_s : kPlaceholder);
        QCOMPARE(int(env.rec.intTimer), 3);
        QCOMPARE(env.rec.strPvnMsg, u"メンテナンス中"_s);
    }

    // A first start, no zent.ini: the controller opened from the menu tries nothing and says in one box
    // what to fill in; a tick stays silent, a click on the picture says it again.
    void emptySettingsSayWhatToFill() {
        Env env;
        QVERIFY(QFile::remove(env.store.iniPath()));
        frmMain main(env.store);
        env.rec.intTimer = env.rec.intChkAuto = 1;
        main.setControlFactory([&env](SettingsStore &) { return env.make().release(); });
        main.show();
        main.mnuCont->trigger();
        auto *w = static_cast<RecordingControl *>(main.controlWindow());
        w->tmrChk_Timer();
        QCOMPARE(env.sink.boxes.size(), 1);
        QTest::mouseClick(w->imgStat, Qt::LeftButton);
        QCOMPARE(env.sink.boxes.size(), 2); // no FTP box: no transfer was tried
        for (const Box &b : std::as_const(env.sink.boxes))
            QVERIFY(b.text == headless::settingsProblem(env.rec) && b.style == MessageSink::Information);
        QVERIFY(env.sink.boxes[0].text.contains(u"「設定(&S)」"_s) && w->log.isEmpty());
    }

    // A real timer: ticks that fall while the opening check waits in a box still count, and the
    // check that falls due meanwhile is skipped, so the schedule keeps its pace.
    void ticksCountDuringABox() {
        Env env;
        env.rec.intTimer = 2;
        auto w = env.make();
        w->setTickInterval(20);
        int ticks = 0;
        QList<int> checksAt;
        connect(w->tmrChk, &QTimer::timeout, w.get(), [&] { ++ticks; });
        w->onFetch = [&] {
            if (checksAt.isEmpty() && ticks == 0)
                QTRY_VERIFY(ticks >= 12); // the box of the opening check stays open meanwhile
            else
                checksAt << ticks + 1; // runs before this tick is counted above
        };
        w->Form_Load();
        QTRY_VERIFY(ticks >= 25);
        w->tmrChk->stop();
        QCOMPARE(checksAt, QList<int>{20});
    }

    // Closing the window while the closed message has the focus and an edit: the close closes, no
    // box comes, and the edit is kept. Only a real move of the focus to another control is an edit.
    void closeWithTheMessageFocused_data() {
        QTest::addColumn<int>("chkAuto");
        QTest::addColumn<QString>("way");
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("manual, title bar, then close") << 0 << u"title"_s << QStringList();
        QTest::newRow("automatic, no server, title bar, then close") << 1 << u"title"_s << QStringList();
        QTest::newRow("manual, a click on the list") << 0 << u"list"_s << QStringList{u"メッセージ変更"_s};
    }
    void closeWithTheMessageFocused() {
        QFETCH(int, chkAuto);
        QFETCH(QString, way);
        QFETCH(QStringList, boxes);
        Env env;
        env.rec.intChkAuto = qint16(chkAuto);
        frmMain main(env.store);
        main.setControlFactory([&env](SettingsStore &) { return env.make().release(); });
        main.show();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        main.mnuCont->trigger();
        QPointer<frmControl> w = main.controlWindow();
        QTest::mouseClick(w->txtPvnMsg, Qt::LeftButton);
        QTRY_VERIFY(w->txtPvnMsg->hasFocus());
        QTest::keyClicks(w->txtPvnMsg, u"closed till 9"_s);
        if (way == u"title"_s)
            clickTitleBar(w, QStyle::SC_TitleBarLabel);
        if (way == u"list"_s) {
            QTest::mouseClick(w->cboTimer, Qt::LeftButton);
            QTRY_VERIFY(QApplication::activePopupWidget());
            QApplication::activePopupWidget()->close();
            QTRY_COMPARE(env.sink.titles(), boxes);
        }
        QTest::qWait(50);
        clickTitleBar(w, QStyle::SC_TitleBarCloseButton);
        QTRY_VERIFY(!w);
        QCOMPARE(env.sink.titles(), boxes);
        QCOMPARE(env.rec.strPvnMsg, u"closed till 9"_s);
    }
};

QTEST_MAIN(tst_frmcontrol)
#include "tst_frmcontrol.moc"
