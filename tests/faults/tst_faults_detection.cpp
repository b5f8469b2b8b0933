// Mail servers met by the controller window, scripted byte for byte.
#include "controller/frmcontrol.h"
#include "tests/support/recordingsink.h"
#include "tests/support/scriptedserver.h"
#include "tests/support/testsupport.h"

#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace Qt::Literals::StringLiterals;
using namespace testsupport;

namespace {

// Automatic mode, a check at every tick, 203.0.113.9 detected and published in an earlier run. As
// its FTP client it downloads nothing, so the working copy stays as written, and counts uploads.
struct Window : FtpClient {
    using Arg = const QString &;
    Window() {
        writeAll(store.ipDataPath(), "on,203.0.113.9,m\r\n");
        rec.strWanIp = rec.strLastWanIp = u"203.0.113.9"_s;
        rec.intTimer = rec.intChkAuto = 1;
        rec.strFtpSv = rec.strFtpPath = u"ftp"_s;
        w->setMessageSink(&sink);
        w->setFtpClient(this);
        w->setLocalHostName(u"pc01"_s);
        w->setSmtpReplyTimeout(3000); // a silent server is waited for a few seconds only
    }
    GetStatus download(Arg, Arg, Arg, Arg, Arg) override { return GetStatus::LocalExists; }
    bool FtpPut(Arg, Arg, Arg, Arg, Arg) override { return ++uploads; }
    QTemporaryDir prog;
    SettingsStore store{prog.path()};
    SettingsRecord &rec = store.record();
    RecordingSink sink;
    int uploads = 0;
    std::unique_ptr<frmControl> w = std::make_unique<frmControl>(store);
};

} // namespace

class TstFaultsDetection : public QObject {
    Q_OBJECT
private slots:
    // The first check meets a mail server's script, steps split by "|": "S:" it
    // sends, "C:" it receives exactly this next, "P:" it pauses so many ms, "CLOSED" it waits for the
    // window to hang up; then it hangs up. The window holds what it found or the address it had,
    // shows only what it should and publishes nothing; later checks meet a peer saying 203.0.113.10.
    void detection_data() {
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
        // The exim, postfix and postscreen rows are the bytes those servers send.
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
    void detection() {
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
        Window env;
        env.rec.intIpChk = 1;
        env.rec.strIpAdd = u"127.0.0.1:%1"_s.arg(mail.port());
        qint64 unsentAtBox = -1;
        env.sink.onShow = [&] {
            unsentAtBox = env.w->Ws->bytesToWrite();
            env.w->tmrChk_Timer(); // dropped: a box is open
        };
        env.w->Form_Load();
        QTRY_VERIFY_WITH_TIMEOUT(played && env.w->Ws->state() == QTcpSocket::UnconnectedState, 20000);
        QCOMPARE(got, want);
        QCOMPARE(mail.connections(), 1);
        QCOMPARE(env.rec.strWanIp, wanIp.isEmpty() ? u"203.0.113.9"_s : wanIp);
        QCOMPARE(env.w->lblWanIp->text(), wanIp.isEmpty() ? frmControl::kNoAddress : wanIp);
        QCOMPARE(env.sink.titles(), QStringList(boxes, u"WAN IP 情報"_s));
        QCOMPARE(unsentAtBox, boxes ? 0 : -1); // QUIT follows the box
        QVERIFY(env.uploads == 0 && readAll(env.store.ipDataPath()) == "on,203.0.113.9,m\r\n");
        // The next exchange finds 203.0.113.10 after its check has ended; the check after it publishes it.
        env.w->tmrChk_Timer();
        QTRY_COMPARE_WITH_TIMEOUT(env.rec.strWanIp, u"203.0.113.10"_s, 10000);
        env.w->tmrChk_Timer();
        QCOMPARE(readAll(env.store.ipDataPath()), "on,203.0.113.10,m\r\n"_ba);
    }
};

QTEST_MAIN(TstFaultsDetection)
#include "tst_faults_detection.moc"
