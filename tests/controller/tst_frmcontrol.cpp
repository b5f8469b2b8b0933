#include "controller/frmcontrol.h"
#include "settings/twips.h"
#include "shell/frmmain.h"
#include "tests/support/cgiserver.h"
#include "tests/support/recordingsink.h"
#include "tests/support/tcpscript.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kPlaceholder = u"000.000.000.000"_s;
const QString kCheck = u"CheckWanIp"_s;

// The window with its gateway-file half recorded instead of run, and a stand-in for the
// address-echo CGI that records every check.
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
    RecordingControl *make() {
        auto *w = new RecordingControl(store);
        w->setMessageSink(&sink);
        return w;
    }
};

// Outer sizes in twips come from whole pixels: allow one pixel each way.
bool near(float a, float b) { return qAbs(a - b) <= 16; }

} // namespace

class tst_frmcontrol : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        for (const char *name : {"http_proxy", "all_proxy", "ALL_PROXY"})
            qunsetenv(name);
    }

    // Opening selects intTimer and checks once; the ticks then follow the counting rule, and a
    // selection restarts the count without a check of its own.
    void schedule_data() {
        QTest::addColumn<int>("timer");
        QTest::addColumn<int>("ticksBefore");
        QTest::addColumn<int>("select"); // -2: none
        QTest::addColumn<int>("ticks");
        QTest::addColumn<QList<int>>("checkTicks");
        QTest::newRow("停止") << 0 << 0 << -2 << 12 << QList<int>{};
        QTest::newRow("1分") << 1 << 0 << -2 << 3 << QList<int>{1, 2, 3};
        QTest::newRow("10分") << 2 << 0 << -2 << 25 << QList<int>{10, 20};
        QTest::newRow("30分") << 3 << 0 << -2 << 61 << QList<int>{30, 60};
        QTest::newRow("60分") << 4 << 0 << -2 << 121 << QList<int>{60, 120};
        QTest::newRow("outside the list") << 5 << 0 << -2 << 12 << QList<int>{};
        QTest::newRow("60分 at 45 to 10分") << 4 << 44 << 2 << 20 << QList<int>{10, 20};
        QTest::newRow("10分 at 9 to 30分") << 2 << 8 << 3 << 30 << QList<int>{30};
        QTest::newRow("1分 to 停止") << 1 << 2 << 0 << 5 << QList<int>{};
    }
    void schedule() {
        QFETCH(int, timer);
        QFETCH(int, ticksBefore);
        QFETCH(int, select);
        QFETCH(int, ticks);
        QFETCH(QList<int>, checkTicks);
        Env env;
        env.rec.intTimer = qint16(timer);
        std::unique_ptr<RecordingControl> w(env.make());
        w->Form_Load();
        QCOMPARE(w->log, (QStringList{kCheck, u"DownloadIpData"_s, u"PublishIfChanged"_s}));
        QCOMPARE(w->cboTimer->currentIndex(), timer < 5 ? timer : -1);
        for (int i = 0; i < ticksBefore; ++i)
            w->tmrChk_Timer();
        w->log.clear();
        if (select != -2)
            w->cboTimer->setCurrentIndex(select);
        QVERIFY(w->log.isEmpty());
        QCOMPARE(w->tmrChk->isActive(), w->cboTimer->currentIndex() > 0);
        QList<int> checks;
        for (int tick = 1; tick <= ticks; ++tick) {
            w->log.clear();
            w->tmrChk_Timer();
            if (!w->log.isEmpty()) {
                QCOMPARE(w->log, (QStringList{kCheck, u"PublishIfChanged"_s}));
                checks << tick;
            }
        }
        QCOMPARE(checks, checkTicks);
    }

    // The timer itself drives the checks, and a selection starts its minute afresh.
    void timerDrivesChecks() {
        Env env;
        env.rec.intTimer = 4;
        std::unique_ptr<RecordingControl> w(env.make());
        w->Form_Load();
        QTRY_VERIFY_WITH_TIMEOUT(w->tmrChk->remainingTime() < 59000, 10000);
        w->cboTimer->setCurrentIndex(2);
        QVERIFY(w->tmrChk->remainingTime() > 59000);
        w->setTickInterval(20);
        w->cboTimer->setCurrentIndex(1);
        QTRY_VERIFY_WITH_TIMEOUT(w->log.count(kCheck) >= 4, 10000);
    }

    // A tick while a check runs is dropped; the fetch shows the wait cursor meanwhile.
    void tickDuringCheckIsSkipped() {
        Env env;
        env.rec.intTimer = 1;
        std::unique_ptr<RecordingControl> w(env.make());
        bool waitCursor = false;
        w->onFetch = [&] {
            waitCursor = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            w->tmrChk_Timer();
        };
        w->Form_Load();
        QCOMPARE(w->log.count(kCheck), 1);
        QVERIFY(waitCursor && !QApplication::overrideCursor() && !w->isCheckRunning());
        w->tmrChk_Timer();
        QCOMPARE(w->log.count(kCheck), 2);
        QCOMPARE(w->lblWanIp->text(), u"203.0.113.9"_s);
        QCOMPARE(env.rec.strWanIp, u"203.0.113.9"_s);
    }

    // The opening check through a real web server and the address-echo CGI, with any method but 1.
    void cgiOpeningCheck_data() {
        QTest::addColumn<int>("ipChk");
        QTest::newRow("0") << 0;
        QTest::newRow("2") << 2;
    }
    void cgiOpeningCheck() {
        QFETCH(int, ipChk);
        Env env;
        testsupport::EchoCgiServer cgi(env.dir.path());
        QVERIFY2(cgi.start(), qPrintable(cgi.errorText()));
        env.rec.intIpChk = qint16(ipChk);
        env.rec.strIpAdd = cgi.url();
        std::unique_ptr<RecordingControl> w(env.make());
        w->setHttpFetcher(nullptr);
        w->Form_Load();
        QCOMPARE(w->lblWanIp->text(), u"127.0.0.1"_s);
        QCOMPARE(env.rec.strWanIp, u"127.0.0.1"_s);
    }

    // Conversations with a scripted mail server. "S:" it sends, "B:" it sends while the box is
    // open, "C:" the client has sent exactly this since the last "C:", "HANGUP" the server hangs
    // up, "CLOSED" the client has closed without sending more, "TICK" a check starts meanwhile.
    void smtp_data() {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<QString>("wanIp"); // "keep": unchanged
        QTest::addColumn<int>("boxes");
        const QString greet = u"S:220 mx.test ESMTP\r\n"_s, ehlo = u"C:EHLO pc01\r\n"_s, quit = u"C:QUIT\r\n"_s;
        const QString closed = u"CLOSED"_s, keep = u"keep"_s, ip = u"192.0.2.7"_s;
        QTest::newRow("usual exchange") << QStringList{greet, ehlo, u"S:250-mx Hello pc [192.0.2.7]\r\n250 HELP\r\n"_s,
                                                       quit, u"S:221 bye\r\n"_s, closed}
                                        << ip << 0;
        QTest::newRow("multi-line 250, bracket on a later line")
            << QStringList{greet, ehlo, u"S:250-mx.test\r\n250-SIZE 1000\r\n250 HELP you are [192.0.2.7]\r\n"_s, quit}
            << ip << 0;
        QTest::newRow("empty brackets") << QStringList{greet, ehlo, u"S:250 mx Hello []\r\n"_s, quit} << QString() << 0;
        QTest::newRow("no brackets") << QStringList{greet, ehlo, u"S:250-mx.test\r\n250 OK\r\n"_s, quit} << keep << 1;
        QTest::newRow("missing ]") << QStringList{greet, ehlo, u"S:250 mx Hello [192.0.2.7\r\n"_s, quit} << keep << 1;
        QTest::newRow("250 split, second piece without bracket")
            << QStringList{greet, ehlo, u"S:250-mx Hello [192.0.2.7]\r\n"_s, quit, u"S:250 HELP\r\n"_s, quit} << ip << 1;
        QTest::newRow("reply while the box is open")
            << QStringList{greet, ehlo, u"S:250 OK\r\n"_s, u"B:221 bye\r\n"_s, quit, closed} << keep << 1;
        QTest::newRow("doubled 220") << QStringList{u"S:220-mx\r\n"_s, ehlo, u"S:220 mx again\r\n"_s, ehlo,
                                                    u"S:250 mx [192.0.2.7]\r\n"_s, quit}
                                     << ip << 0;
        QTest::newRow("421 greeting") << QStringList{u"S:421 busy\r\n"_s, closed} << keep << 0;
        QTest::newRow("554 greeting") << QStringList{u"S:554 no service\r\n"_s, closed} << keep << 0;
        QTest::newRow("server hangs up") << QStringList{greet, ehlo, u"HANGUP"_s} << keep << 0;
        QTest::newRow("silence") << QStringList{closed} << keep << 0;
        QTest::newRow("new check drops the open exchange")
            << QStringList{greet, ehlo, u"TICK"_s, greet, ehlo, u"S:250 mx [192.0.2.7]\r\n"_s, quit} << ip << 0;
    }
    void smtp() {
        QFETCH(QStringList, script);
        QFETCH(QString, wanIp);
        QFETCH(int, boxes);
        Env env;
        testsupport::ScriptedTcpServer server;
        QVERIFY(server.listen());
        env.rec.intIpChk = 1;
        env.rec.intTimer = 1;
        env.rec.strIpAdd = u"127.0.0.1:%1"_s.arg(server.port());
        env.rec.strWanIp = u"keep"_s;
        std::unique_ptr<RecordingControl> w(env.make());
        w->setLocalHostName(u"pc01"_s);
        // A server that never speaks is waited for a few seconds, not the full half minute.
        w->setSmtpReplyTimeout(script.filter(u"S:"_s).isEmpty() ? 3000 : 30000);
        qint64 unsentAtBox = -1;
        env.sink.onShow = [&] {
            unsentAtBox = w->Ws->bytesToWrite();
            w->tmrChk_Timer(); // dropped: the check is still running
            for (const QString &step : script.filter(u"B:"_s)) {
                server.send(step.mid(2).toLatin1());
                QTRY_VERIFY_WITH_TIMEOUT(w->Ws->bytesAvailable() > 0, 10000);
            }
        };
        w->Form_Load();
        QTRY_COMPARE(server.connectionCount(), 1);
        qsizetype seen = 0;
        for (const QString &step : std::as_const(script)) {
            const QByteArray bytes = step.mid(2).toLatin1();
            if (step.startsWith(u"S:"_s)) {
                server.send(bytes);
            } else if (step.startsWith(u"C:"_s)) {
                QTRY_COMPARE_WITH_TIMEOUT(server.received().mid(seen), bytes, 10000);
                seen += bytes.size();
            } else if (step == u"HANGUP"_s) {
                server.closeClient();
                QTRY_COMPARE_WITH_TIMEOUT(w->Ws->state(), QAbstractSocket::UnconnectedState, 10000);
            } else if (step == u"CLOSED"_s) {
                QTRY_VERIFY_WITH_TIMEOUT(server.clientClosed(), 10000);
                QCOMPARE(server.received().mid(seen), QByteArray());
            } else if (step == u"TICK"_s) {
                w->tmrChk_Timer();
                QTRY_COMPARE_WITH_TIMEOUT(server.connectionCount(), 2, 10000);
                seen = 0;
            }
        }
        QCOMPARE(env.rec.strWanIp, wanIp);
        QCOMPARE(w->lblWanIp->text(), wanIp == u"keep"_s ? kPlaceholder : wanIp);
        QCOMPARE(env.sink.boxes.size(), boxes);
        for (const Box &b : std::as_const(env.sink.boxes)) {
            QCOMPARE(b.title + b.text, u"WAN IP 情報SMTPがIPを返していません。\r\nnomrel.cgiの使用をお勧めします。"_s);
            QCOMPARE(b.style, int(MessageSink::Information));
        }
        QCOMPARE(unsentAtBox, boxes ? 0 : -1); // QUIT follows the box
        QCOMPARE(server.connectionCount(), 1 + script.count(u"TICK"_s));
    }

    // With the main window: caption, fitting and menus, and the state kept at closing.
    void openAndCloseInMainWindow_data() {
        QTest::addColumn<bool>("detected");
        QTest::addColumn<int>("chkAuto");
        QTest::addColumn<bool>("closeMain");
        QTest::newRow("detected, automatic, controller closed") << true << 1 << false;
        QTest::newRow("nothing detected, manual, controller closed") << false << 0 << false;
        QTest::newRow("detected, manual (2), main window closed") << true << 2 << true;
    }
    void openAndCloseInMainWindow() {
        QFETCH(bool, detected);
        QFETCH(int, chkAuto);
        QFETCH(bool, closeMain);
        Env env;
        frmMain main(env.store);
        env.rec.intTimer = 2;
        env.rec.intChkAuto = qint16(chkAuto);
        main.setControlFactory([&env, detected](SettingsStore &) {
            RecordingControl *w = env.make();
            if (!detected)
                w->body.reset();
            return w;
        });
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        main.mnuCont->trigger();
        QPointer<frmControl> w = main.controlWindow();
        QVERIFY(w && w->isVisible());
        QCOMPARE(w->windowTitle(), chkAuto == 1 ? u"ｺﾝﾄﾛｰﾗ (Auto)"_s : u"ｺﾝﾄﾛｰﾗ (Manual)"_s);
        QVERIFY(!main.mnuSet->isEnabled());
        QTRY_VERIFY(near(main.Width(), twips::outerWidth(w) + 250) && near(main.Height(), twips::outerHeight(w) + 1000));
        w->cboTimer->setCurrentIndex(3);
        w->txtPvnMsg->setText(u"メンテナンス中"_s);
        if (closeMain) {
            main.close();
        } else {
            w->close();
            QVERIFY(main.mnuSet->isEnabled());
            QTRY_VERIFY(near(main.Width(), 7800) && near(main.Height(), 800));
        }
        QTRY_VERIFY(!w);
        QCOMPARE(env.rec.strWanIp, detected ? u"203.0.113.9"_s : kPlaceholder);
        QCOMPARE(int(env.rec.intTimer), 3);
        QCOMPARE(env.rec.strPvnMsg, u"メンテナンス中"_s);
        if (!closeMain) {
            // Opened again: the placeholder, and the kept selection.
            main.setControlFactory([&env](SettingsStore &) {
                RecordingControl *w = env.make();
                w->body.reset();
                return w;
            });
            main.mnuCont->trigger();
            QVERIFY(main.controlWindow());
            QCOMPARE(main.controlWindow()->lblWanIp->text(), kPlaceholder);
            QCOMPARE(main.controlWindow()->cboTimer->currentIndex(), 3);
            main.close();
        }
    }
};

QTEST_MAIN(tst_frmcontrol)
#include "tst_frmcontrol.moc"
