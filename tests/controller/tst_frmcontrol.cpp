#include "controller/frmcontrol.h"
#include "settings/twips.h"
#include "shell/frmmain.h"
#include "tests/support/cgiserver.h"
#include "tests/support/httpserver.h"
#include "tests/support/recordingsink.h"
#include "tests/support/tcpscript.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHostInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kPlaceholder = u"000.000.000.000"_s;
const QString kNoSmtpAddressText = u"SMTPがIPを返していません。\r\nnomrel.cgiの使用をお勧めします。"_s;


// Stands in for the address-echo CGI where a test counts checks rather than addresses.
class CountingFetcher : public wancheck::HttpFetcher {
public:
    std::optional<QByteArray> fetch(const QString &url) override {
        urls.append(url);
        if (log)
            log->append(u"CheckWanIp"_s);
        if (onFetch)
            onFetch();
        return body;
    }
    QStringList urls;
    QStringList *log = nullptr;
    std::optional<QByteArray> body = QByteArray("<body>##203.0.113.9##</body");
    std::function<void()> onFetch;
};

// An FTP peer that takes every upload and has nothing to download.
class NullFtp : public FtpClient {
public:
    bool FTPGet(const QString &, const QString &, const QString &, const QString &, const QString &) override {
        return true;
    }
    bool FtpPut(const QString &, const QString &, const QString &, const QString &, const QString &) override {
        ++puts;
        return true;
    }
    int puts = 0;
};

// The window with its gateway-file hooks recorded.
class RecordingControl : public frmControl {
public:
    using frmControl::frmControl;
    void DownloadIpData() override { log.append(u"DownloadIpData"_s); }
    void PublishIfChanged() override { log.append(u"PublishIfChanged"_s); }
    QStringList log;
};

struct Env {
    QTemporaryDir dir;
    SettingsStore store{dir.path()};
    RecordingSink sink;
    CountingFetcher fetcher;
    NullFtp ftp;

    std::unique_ptr<RecordingControl> window() {
        auto w = std::make_unique<RecordingControl>(store);
        w->setMessageSink(&sink);
        w->setHttpFetcher(&fetcher);
        fetcher.log = &w->log;
        return w;
    }
};

quint16 closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QByteArray ehloExpected() {
    const QString name = QHostInfo::localHostName();
    return wancheck::ehloLine(name, u"127.0.0.1"_s);
}

// Outer sizes in twips come from whole pixels: allow one pixel each way.
bool near(float a, float b) { return qAbs(a - b) <= 16; }

} // namespace

class tst_frmcontrol : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        for (const char *name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            qunsetenv(name);
    }

    void windowAtCreation() {
        Env env;
        auto w = env.window();
        QCOMPARE(w->windowTitle(), u"ｺﾝﾄﾛｰﾗ"_s);
        const double dpi = twips::logicalDpi(w.get());
        QCOMPARE(w->widget()->size(), QSize(twips::toPixels(7095, dpi), twips::toPixels(2070, dpi)));
        QVERIFY(!w->cmdManual->isEnabled());
        QVERIFY(!w->cboTimer->isEditable());
        QVERIFY(!w->tmrChk->isActive());
        QCOMPARE(int(w->intMinuteCount), 0);
        QCOMPARE(w->cboTimer->count(), 0);
        // Focus moves cboTimer, txtPvnMsg, cmdManual.
        QList<QWidget *> order;
        QWidget *c = w->cboTimer;
        do {
            if (c == w->cboTimer || c == w->txtPvnMsg || c == w->cmdManual)
                order.append(c);
            c = c->nextInFocusChain();
        } while (c != w->cboTimer);
        QCOMPARE(order, (QList<QWidget *>{w->cboTimer, w->txtPvnMsg, w->cmdManual}));
    }

    void caption_data() {
        QTest::addColumn<int>("chkAuto");
        QTest::addColumn<QString>("caption");
        QTest::newRow("1") << 1 << u"ｺﾝﾄﾛｰﾗ (Auto)"_s;
        QTest::newRow("0") << 0 << u"ｺﾝﾄﾛｰﾗ (Manual)"_s;
        QTest::newRow("2") << 2 << u"ｺﾝﾄﾛｰﾗ (Manual)"_s;
        QTest::newRow("-1") << -1 << u"ｺﾝﾄﾛｰﾗ (Manual)"_s;
    }
    void caption() {
        QFETCH(int, chkAuto);
        QFETCH(QString, caption);
        Env env;
        env.store.record().intChkAuto = static_cast<qint16>(chkAuto);
        auto w = env.window();
        w->Form_Load();
        QCOMPARE(w->windowTitle(), caption);
    }

    // Opening selects intTimer, runs the opening check once, and the ticks follow the counting rule.
    void schedule_data() {
        QTest::addColumn<int>("timer");
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<QList<int>>("checkTicks");
        QTest::addColumn<int>("countAfter");
        QTest::newRow("停止") << 0 << 0 << 12 << QList<int>{} << 1;
        QTest::newRow("1分") << 1 << 1 << 3 << QList<int>{1, 2, 3} << 1;
        QTest::newRow("10分") << 2 << 2 << 25 << QList<int>{10, 20} << 6;
        QTest::newRow("30分") << 3 << 3 << 61 << QList<int>{30, 60} << 2;
        QTest::newRow("60分") << 4 << 4 << 121 << QList<int>{60, 120} << 2;
        QTest::newRow("none (-1)") << -1 << -1 << 12 << QList<int>{} << 0;
        QTest::newRow("outside the list (5)") << 5 << -1 << 12 << QList<int>{} << 0;
        QTest::newRow("outside the list (-2)") << -2 << -1 << 12 << QList<int>{} << 0;
        QTest::newRow("outside the list (32767)") << 32767 << -1 << 12 << QList<int>{} << 0;
    }
    void schedule() {
        QFETCH(int, timer);
        QFETCH(int, selected);
        QFETCH(int, ticks);
        QFETCH(QList<int>, checkTicks);
        QFETCH(int, countAfter);
        Env env;
        env.store.record().intTimer = static_cast<qint16>(timer);
        auto w = env.window();
        w->Form_Load();
        QCOMPARE(w->cboTimer->count(), 5);
        QCOMPARE(w->cboTimer->itemText(0), u"停止"_s);
        QCOMPARE(w->cboTimer->itemText(4), u"60分"_s);
        QCOMPARE(w->cboTimer->currentIndex(), selected);
        QCOMPARE(w->log, (QStringList{u"CheckWanIp"_s, u"DownloadIpData"_s, u"PublishIfChanged"_s}));
        QCOMPARE(w->tmrChk->isActive(), selected > 0);
        if (selected > 0)
            QCOMPARE(w->tmrChk->interval(), 60000);

        QList<int> checks;
        for (int tick = 1; tick <= ticks; ++tick) {
            w->log.clear();
            w->tmrChk_Timer();
            if (!w->log.isEmpty()) {
                QCOMPARE(w->log, (QStringList{u"CheckWanIp"_s, u"PublishIfChanged"_s}));
                checks.append(tick);
            }
        }
        QCOMPARE(checks, checkTicks);
        QCOMPARE(int(w->intMinuteCount), countAfter);
    }

    // Every selection restarts the count at 1 and runs no check of its own.
    void scheduleSwitch_data() {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("ticksBefore");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("ticksAfter");
        QTest::addColumn<QList<int>>("checkTicks");
        QTest::newRow("60分 at 45 to 10分") << 4 << 44 << 2 << 20 << QList<int>{10, 20};
        QTest::newRow("10分 at 9 to 30分") << 2 << 8 << 3 << 30 << QList<int>{30};
        QTest::newRow("停止 to 1分") << 0 << 5 << 1 << 3 << QList<int>{1, 2, 3};
        QTest::newRow("1分 to 停止") << 1 << 2 << 0 << 5 << QList<int>{};
    }
    void scheduleSwitch() {
        QFETCH(int, from);
        QFETCH(int, ticksBefore);
        QFETCH(int, to);
        QFETCH(int, ticksAfter);
        QFETCH(QList<int>, checkTicks);
        Env env;
        env.store.record().intTimer = static_cast<qint16>(from);
        auto w = env.window();
        w->Form_Load();
        for (int i = 0; i < ticksBefore; ++i)
            w->tmrChk_Timer();
        w->log.clear();
        w->cboTimer->setCurrentIndex(to);
        QVERIFY(w->log.isEmpty());
        QCOMPARE(int(w->intMinuteCount), 1);
        QCOMPARE(w->tmrChk->isActive(), to != 0);
        QList<int> checks;
        for (int tick = 1; tick <= ticksAfter; ++tick) {
            w->log.clear();
            w->tmrChk_Timer();
            if (!w->log.isEmpty())
                checks.append(tick);
        }
        QCOMPARE(checks, checkTicks);
    }

    // The QTimer itself drives the checks (a short period stands in for the minute).
    void realTimerTicks() {
        Env env;
        env.store.record().intTimer = 1;
        auto w = env.window();
        w->setTickInterval(20);
        w->Form_Load();
        QTRY_VERIFY_WITH_TIMEOUT(env.fetcher.urls.size() >= 3, 10000);
    }

    // A tick that comes while a check is still running is dropped; the fetch shows a wait cursor.
    void tickDuringCheckIsSkipped() {
        Env env;
        env.store.record().intTimer = 1;
        env.store.record().strIpAdd = u"http://127.0.0.1:1/nomrel.cgi"_s;
        auto w = env.window();
        bool waitCursor = false;
        env.fetcher.onFetch = [&] {
            waitCursor = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            QVERIFY(w->isCheckRunning());
            w->tmrChk_Timer();
        };
        w->Form_Load();
        QCOMPARE(env.fetcher.urls, QStringList{env.store.record().strIpAdd});
        QVERIFY(waitCursor);
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(!w->isCheckRunning());
        w->tmrChk_Timer();
        QCOMPARE(env.fetcher.urls.size(), 2);
        QCOMPARE(w->lblWanIp->text(), u"203.0.113.9"_s);
        QCOMPARE(env.store.record().strWanIp, u"203.0.113.9"_s);
    }

    // The opening check through a real web server and the address-echo CGI; every method
    // value other than 1 selects it.
    void cgiOpeningCheck_data() {
        QTest::addColumn<int>("ipChk");
        QTest::newRow("0") << 0;
        QTest::newRow("2") << 2;
        QTest::newRow("-1") << -1;
    }
    void cgiOpeningCheck() {
        QFETCH(int, ipChk);
        Env env;
        testsupport::EchoCgiServer cgi(env.dir.path());
        QVERIFY2(cgi.start(), qPrintable(cgi.errorText()));
        env.store.record().intIpChk = static_cast<qint16>(ipChk);
        env.store.record().strIpAdd = cgi.url();
        env.store.record().intChkAuto = 1; // publishing goes to the silent peer
        frmControl w(env.store);
        w.setMessageSink(&env.sink);
        w.setFtpClient(&env.ftp);
        w.Form_Load();
        QCOMPARE(w.lblWanIp->text(), u"127.0.0.1"_s);
        QCOMPARE(env.store.record().strWanIp, u"127.0.0.1"_s);
        QVERIFY(env.sink.boxes.isEmpty());
    }

    // A fetch that yields no address leaves both the label and the record alone and says nothing.
    void cgiNoAddress_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("error page") << 500 << QByteArray("<body>##Internal Server Error##</body");
        QTest::newRow("comma") << 200 << QByteArray("<body>##192.0.2.7,on##</body");
    }
    void cgiNoAddress() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        Env env;
        testsupport::ScriptedHttpServer server;
        server.setReply("/nomrel.cgi", {status, body, {}, false, false});
        env.store.record().strIpAdd = server.url(u"/nomrel.cgi"_s);
        env.store.record().strWanIp = u"keep"_s;
        env.store.record().strLastWanIp = u"keep"_s;
        frmControl w(env.store);
        w.setMessageSink(&env.sink);
        w.setFtpClient(&env.ftp);
        w.Form_Load();
        QCOMPARE(server.requestCount(), 1);
        QCOMPARE(w.lblWanIp->text(), kPlaceholder);
        QCOMPARE(env.store.record().strWanIp, u"keep"_s);
        QVERIFY(env.sink.boxes.isEmpty());
    }

    // Conversations with a scripted mail server. "S:" the server sends, "C:" the client must
    // have sent exactly this since the last "C:", "HANGUP" the server closes, "CLOSED" the
    // client must close the connection (and have sent nothing more).
    void smtp_data() {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<QString>("wanIp");
        QTest::addColumn<int>("boxes");
        QTest::addColumn<int>("replyTimeoutMs");
        const QString greet = u"S:220 mx.test ESMTP\r\n"_s;
        const QString ehlo = u"C:EHLO"_s;
        const QString quit = u"C:QUIT\r\n"_s;
        QTest::newRow("usual exchange")
            << QStringList{greet, ehlo, u"S:250-mx.test Hello pc [192.0.2.7]\r\n250 HELP\r\n"_s, quit,
                           u"S:221 bye\r\n"_s, u"CLOSED"_s}
            << u"192.0.2.7"_s << 0 << 30000;
        QTest::newRow("multi-line 250, bracket on a later line")
            << QStringList{greet, ehlo, u"S:250-mx.test\r\n250-SIZE 1000\r\n250 HELP you are [198.51.100.4]\r\n"_s,
                           quit}
            << u"198.51.100.4"_s << 0 << 30000;
        QTest::newRow("empty brackets") << QStringList{greet, ehlo, u"S:250 mx.test Hello []\r\n"_s, quit}
                                        << QString() << 0 << 30000;
        QTest::newRow("host name in brackets")
            << QStringList{greet, ehlo, u"S:250 mx.test Hello [dyn-7.example.net]\r\n"_s, quit}
            << u"dyn-7.example.net"_s << 0 << 30000;
        QTest::newRow("no brackets") << QStringList{greet, ehlo, u"S:250-mx.test\r\n250 OK\r\n"_s, quit}
                                     << u"keep"_s << 1 << 30000;
        QTest::newRow("missing ]") << QStringList{greet, ehlo, u"S:250 mx.test Hello [192.0.2.7\r\n"_s, quit}
                                   << u"keep"_s << 1 << 30000;
        QTest::newRow("comma refused") << QStringList{greet, ehlo, u"S:250 mx.test [192.0.2.7,on]\r\n"_s, quit}
                                       << u"keep"_s << 1 << 30000;
        QTest::newRow("control character refused")
            << QStringList{greet, ehlo, u"S:250 mx.test [192.0.2.7\x01]\r\n"_s, quit} << u"keep"_s << 1 << 30000;
        QTest::newRow("250 split, second piece without bracket")
            << QStringList{greet, ehlo, u"S:250-mx.test Hello [192.0.2.7]\r\n"_s, quit, u"S:250 HELP\r\n"_s, quit}
            << u"192.0.2.7"_s << 1 << 30000;
        QTest::newRow("250 split, second piece otherwise")
            << QStringList{greet, ehlo, u"S:250-mx.test Hello [192.0.2.7]\r\n"_s, quit, u"S:221 bye\r\n"_s,
                           u"CLOSED"_s}
            << u"192.0.2.7"_s << 0 << 30000;
        QTest::newRow("doubled 220")
            << QStringList{u"S:220-mx.test\r\n"_s, ehlo, u"S:220 mx.test again\r\n"_s, ehlo,
                           u"S:250 mx.test [192.0.2.7]\r\n"_s, quit}
            << u"192.0.2.7"_s << 0 << 30000;
        QTest::newRow("421 greeting") << QStringList{u"S:421 busy\r\n"_s, u"CLOSED"_s} << u"keep"_s << 0 << 30000;
        QTest::newRow("554 greeting") << QStringList{u"S:554 no service\r\n"_s, u"CLOSED"_s} << u"keep"_s << 0
                                      << 30000;
        QTest::newRow("500 to EHLO") << QStringList{greet, ehlo, u"S:500 what\r\n"_s, u"CLOSED"_s} << u"keep"_s << 0
                                     << 30000;
        QTest::newRow("server hangs up") << QStringList{greet, ehlo, u"HANGUP"_s} << u"keep"_s << 0 << 30000;
        QTest::newRow("silence") << QStringList{u"CLOSED"_s} << u"keep"_s << 0 << 300;
        QTest::newRow("silence after EHLO") << QStringList{greet, ehlo, u"CLOSED"_s} << u"keep"_s << 0 << 300;
    }
    void smtp() {
        QFETCH(QStringList, script);
        QFETCH(QString, wanIp);
        QFETCH(int, boxes);
        QFETCH(int, replyTimeoutMs);
        Env env;
        testsupport::ScriptedTcpServer server;
        QVERIFY(server.listen());
        SettingsRecord &rec = env.store.record();
        rec.intIpChk = 1;
        rec.strIpAdd = u"127.0.0.1"_s;
        rec.strWanIp = u"keep"_s;
        auto w = env.window();
        w->setSmtpPort(server.port());
        w->setSmtpReplyTimeout(replyTimeoutMs);
        // QUIT must follow the box, not precede it.
        qint64 pendingAtBox = -1;
        env.sink.onShow = [&] { pendingAtBox = w->Ws->bytesToWrite(); };
        w->Form_Load();
        QTRY_COMPARE(server.connectionCount(), 1);

        qsizetype seen = 0;
        for (const QString &step : script) {
            if (step.startsWith(u"S:"_s)) {
                server.send(step.mid(2).toLatin1());
            } else if (step.startsWith(u"C:"_s)) {
                const QByteArray want = step == u"C:EHLO"_s ? ehloExpected() : step.mid(2).toLatin1();
                QTRY_COMPARE_WITH_TIMEOUT(server.received().mid(seen), want, 10000);
                seen += want.size();
            } else if (step == u"HANGUP"_s) {
                server.closeClient();
                QTRY_COMPARE_WITH_TIMEOUT(w->Ws->state(), QAbstractSocket::UnconnectedState, 10000);
            } else if (step == u"CLOSED"_s) {
                QTRY_VERIFY_WITH_TIMEOUT(server.clientClosed(), 10000);
                QCOMPARE(server.received().mid(seen), QByteArray());
                QCOMPARE(w->Ws->state(), QAbstractSocket::UnconnectedState);
            }
        }
        QCOMPARE(rec.strWanIp, wanIp);
        QCOMPARE(w->lblWanIp->text(), wanIp == u"keep"_s ? kPlaceholder : wanIp);
        QCOMPARE(env.sink.boxes.size(), boxes);
        for (const Box &b : std::as_const(env.sink.boxes)) {
            QCOMPARE(b.title, u"WAN IP 情報"_s);
            QCOMPARE(b.text, kNoSmtpAddressText);
            QCOMPARE(b.style, 64);
        }
        if (boxes > 0)
            QCOMPARE(pendingAtBox, 0);
    }

    // Without a host name EHLO carries the local address in brackets.
    void smtpEhloWithoutHostName() {
        Env env;
        testsupport::ScriptedTcpServer server;
        QVERIFY(server.listen());
        env.store.record().intIpChk = 1;
        env.store.record().strIpAdd = u"127.0.0.1"_s;
        auto w = env.window();
        w->setSmtpPort(server.port());
        w->setLocalHostName(QString());
        w->Form_Load();
        QTRY_COMPARE(server.connectionCount(), 1);
        server.send("220 mx.test\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(server.received(), QByteArray("EHLO [127.0.0.1]\r\n"), 10000);
    }

    // host:port in the setting wins over the default port; a plain host uses the default.
    void smtpPortInSetting() {
        Env env;
        testsupport::ScriptedTcpServer server;
        QVERIFY(server.listen());
        env.store.record().intIpChk = 1;
        env.store.record().strIpAdd = u"127.0.0.1:%1"_s.arg(server.port());
        auto w = env.window();
        w->setSmtpPort(closedPort());
        w->Form_Load();
        QTRY_COMPARE(server.connectionCount(), 1);
    }

    // Nobody listening: nothing is shown and the address stays.
    void smtpConnectionRefused() {
        Env env;
        env.store.record().intIpChk = 1;
        env.store.record().strIpAdd = u"127.0.0.1"_s;
        env.store.record().strWanIp = u"keep"_s;
        auto w = env.window();
        w->setSmtpPort(closedPort());
        w->Form_Load();
        QTRY_COMPARE_WITH_TIMEOUT(w->Ws->state(), QAbstractSocket::UnconnectedState, 10000);
        QTest::qWait(50);
        QVERIFY(env.sink.boxes.isEmpty());
        QCOMPARE(env.store.record().strWanIp, u"keep"_s);
    }

    // A check while an exchange is open drops it and connects afresh.
    void smtpNewCheckAbortsOpenExchange() {
        Env env;
        testsupport::ScriptedTcpServer server;
        QVERIFY(server.listen());
        env.store.record().intIpChk = 1;
        env.store.record().intTimer = 1;
        env.store.record().strIpAdd = u"127.0.0.1"_s;
        auto w = env.window();
        w->setSmtpPort(server.port());
        w->Form_Load();
        QTRY_COMPARE(server.connectionCount(), 1);
        server.send("220 mx.test\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(server.received(), ehloExpected(), 10000);
        w->tmrChk_Timer();
        QTRY_COMPARE_WITH_TIMEOUT(server.connectionCount(), 2, 10000);
        server.send("220 mx.test\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(server.received(), ehloExpected(), 10000);
        server.send("250 mx.test [192.0.2.8]\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(w->lblWanIp->text(), u"192.0.2.8"_s, 10000);
    }

    // A tick while the SMTP box waits for the user starts nothing; QUIT follows the box.
    void smtpTickDuringBoxIsSkipped() {
        Env env;
        testsupport::ScriptedTcpServer server;
        QVERIFY(server.listen());
        env.store.record().intIpChk = 1;
        env.store.record().intTimer = 1;
        env.store.record().strIpAdd = u"127.0.0.1"_s;
        auto w = env.window();
        w->setSmtpPort(server.port());
        env.sink.onShow = [&] {
            w->tmrChk_Timer();
            w->tmrChk_Timer();
        };
        w->Form_Load();
        QTRY_COMPARE(server.connectionCount(), 1);
        server.send("220 mx.test\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(server.received(), ehloExpected(), 10000);
        server.send("250 OK\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(server.received(), ehloExpected() + "QUIT\r\n", 10000);
        QCOMPARE(env.sink.boxes.size(), 1);
        QCOMPARE(server.connectionCount(), 1);
        QCOMPARE(w->log.count(u"CheckWanIp"_s) + w->log.count(u"PublishIfChanged"_s), 1);
    }

    // A real box waits in an event loop: a reply that comes meanwhile is handled after it.
    void smtpReplyWhileBoxOpen() {
        Env env;
        testsupport::ScriptedTcpServer server;
        QVERIFY(server.listen());
        env.store.record().intIpChk = 1;
        env.store.record().strIpAdd = u"127.0.0.1"_s;
        auto w = env.window();
        w->setSmtpPort(server.port());
        env.sink.onShow = [&] {
            server.send("221 bye\r\n");
            QTRY_VERIFY_WITH_TIMEOUT(w->Ws->bytesAvailable() > 0, 10000);
        };
        w->Form_Load();
        QTRY_COMPARE(server.connectionCount(), 1);
        server.send("220 mx.test\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(server.received(), ehloExpected(), 10000);
        server.send("250 OK\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(server.clientClosed(), 10000);
        QCOMPARE(server.received(), ehloExpected() + "QUIT\r\n");
        QCOMPARE(env.sink.boxes.size(), 1);
    }

    // A selection starts the minute afresh instead of keeping the running period's phase.
    void selectionRestartsPeriod() {
        Env env;
        env.store.record().intTimer = 4;
        auto w = env.window();
        w->Form_Load();
        QTest::qWait(1500);
        w->cboTimer->setCurrentIndex(2);
        QVERIFY(w->tmrChk->remainingTime() > 59000);
    }

    // With the main window: fitting, menus, and the state copied into the record at closing.
    void openAndCloseInMainWindow_data() {
        QTest::addColumn<bool>("detected");
        QTest::addColumn<bool>("closeMain");
        QTest::newRow("address detected, controller closed") << true << false;
        QTest::newRow("nothing detected, controller closed") << false << false;
        QTest::newRow("address detected, main window closed") << true << true;
    }
    void openAndCloseInMainWindow() {
        QFETCH(bool, detected);
        QFETCH(bool, closeMain);
        Env env;
        frmMain main(env.store);
        SettingsRecord &rec = env.store.record();
        rec.intTimer = 2;
        rec.intChkAuto = 1;
        if (!detected)
            env.fetcher.body.reset();
        main.setControlFactory([&env](SettingsStore &s) {
            auto *w = new frmControl(s);
            w->setMessageSink(&env.sink);
            w->setHttpFetcher(&env.fetcher);
            w->setFtpClient(&env.ftp);
            return w;
        });
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        main.mnuCont->trigger();
        QPointer<frmControl> w = main.controlWindow();
        QVERIFY(w);
        QVERIFY(w->isVisible());
        QCOMPARE(w->windowTitle(), u"ｺﾝﾄﾛｰﾗ (Auto)"_s);
        QCOMPARE(env.fetcher.urls.size(), 1);
        QVERIFY(!main.mnuSet->isEnabled());
        QVERIFY(main.mnuCont->isEnabled());
        QCOMPARE(w->pos(), QPoint(0, 0));
        QTRY_VERIFY(near(main.Width(), twips::outerWidth(w) + 250));
        QTRY_VERIFY(near(main.Height(), twips::outerHeight(w) + 1000));

        w->cboTimer->setCurrentIndex(3);
        w->txtPvnMsg->setText(u"メンテナンス中"_s);
        if (closeMain) {
            main.close();
        } else {
            w->close();
            QVERIFY(main.mnuSet->isEnabled());
            QTRY_VERIFY(near(main.Width(), 7800));
            QTRY_VERIFY(near(main.Height(), 800));
        }
        QTRY_VERIFY(!w);
        QCOMPARE(rec.strWanIp, detected ? u"203.0.113.9"_s : kPlaceholder);
        QCOMPARE(int(rec.intTimer), 3);
        // Automatic mode published a detected address at opening; the label shows the file.
        QCOMPARE(rec.strPvnIp, detected ? u"203.0.113.9"_s : QString());
        QCOMPARE(env.ftp.puts, detected ? 1 : 0);
        QCOMPARE(rec.strPvnMsg, u"メンテナンス中"_s);
        QCOMPARE(env.fetcher.urls.size(), 1);

        if (!closeMain) {
            // Opened again: placeholder and a fresh selection.
            env.fetcher.body.reset();
            main.mnuCont->trigger();
            QVERIFY(main.controlWindow());
            QCOMPARE(main.controlWindow()->lblWanIp->text(), kPlaceholder);
            QCOMPARE(main.controlWindow()->cboTimer->currentIndex(), 3);
            QCOMPARE(int(main.controlWindow()->intMinuteCount), 1);
            main.close();
        }
    }
};

QTEST_MAIN(tst_frmcontrol)
#include "tst_frmcontrol.moc"
