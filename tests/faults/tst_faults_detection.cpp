// Faults of the address peers, met by the controller window: the address-echo CGI on a real web
// server and a scripted mail server. The window shows only what it should, keeps its address,
// publishes nothing, and its next check works as usual.
#include "controller/frmcontrol.h"
#include "tests/support/cgiserver.h"
#include "tests/support/recordingsink.h"
#include "tests/support/scriptedserver.h"
#include "tests/support/testsupport.h"

#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace testsupport;

namespace {

// Automatic mode, a check at every tick, 203.0.113.9 detected and published in an earlier run. As
// its FTP client it downloads nothing, so the working copy stays as written, and counts uploads.
struct Window : FtpClient {
    using Arg = const QString &;
    Window(int ipChk, const QString &ipAdd) {
        writeAll(store.ipDataPath(), "on,203.0.113.9,m\r\n");
        rec.strWanIp = rec.strLastWanIp = u"203.0.113.9"_s;
        rec.intTimer = rec.intChkAuto = 1;
        rec.strIpAdd = ipAdd;
        rec.strFtpSv = rec.strFtpPath = u"ftp"_s;
        rec.intIpChk = qint16(ipChk);
        w->setMessageSink(&sink);
        w->setFtpClient(this);
    }
    GetStatus download(Arg, Arg, Arg, Arg, Arg) override { return GetStatus::LocalExists; }
    bool FtpPut(Arg, Arg, Arg, Arg, Arg) override { return ++uploads; }
    // The address and its label, the boxes, the uploads and the working copy after the faulty check,
    // or after the good one that found 203.0.113.10.
    void verify(bool recovered, const QString &boxes) const {
        const QString ip = recovered ? u"203.0.113.10"_s : u"203.0.113.9"_s;
        QCOMPARE((QStringList{rec.strWanIp, w->lblWanIp->text(), sink.titles().join(u','),
                              QString::number(uploads), QString::fromLatin1(readAll(store.ipDataPath()))}),
                 (QStringList{ip, recovered ? ip : frmControl::kNoAddress, boxes, QString::number(recovered),
                              u"on,%1,m\r\n"_s.arg(ip)}));
    }
    QTemporaryDir prog;
    SettingsStore store{prog.path()};
    SettingsRecord &rec = store.record();
    RecordingSink sink;
    int uploads = 0;
    std::unique_ptr<frmControl> w = std::make_unique<frmControl>(store);
};

// A CGI script (perl) that answers with `status` and what perl's `body` gives.
QByteArray perlCgi(const QByteArray &status, const QByteArray &body) {
    return "print \"Status: " + status + "\\r\\nContent-Type: text/html\\r\\n\\r\\n\", " + body + ";";
}

} // namespace

class TstFaultsDetection : public QObject {
    Q_OBJECT
private slots:
    // The opening check meets the fault: a CGI script (perl) on the web server, or the mail server's
    // first connection step by step ("<" reads a line, "CLOSE" hangs up, anything else is sent; then
    // it waits for the window to hang up). Later checks meet a good peer.
    void fault_data() {
        QTest::addColumn<QByteArray>("cgi");
        QTest::addColumn<QByteArrayList>("smtp");
        QTest::addColumn<QString>("boxes");
        auto cgi = [](const char *name, const QByteArray &script) {
            QTest::newRow(name) << script << QByteArrayList() << QString();
        };
        // If it counted, the page's text between its first and last 8 characters would be an address.
        cgi("cgi: 404 page", perlCgi("404 Not Found", "'<html><body>Error</body></html>'"));
        cgi("cgi: 500 page", perlCgi("500 Internal Server Error", "'<html><body>Error</body></html>'"));
        cgi("cgi: empty body", perlCgi("200 OK", "''"));
        cgi("cgi: huge body", perlCgi("200 OK", "'IPADDR=[', 1 x (1 << 23), ']=IPADDR'"));
        cgi("cgi: binary", perlCgi("200 OK", "pack('C*', 0 .. 255)"));
        cgi("cgi: an IPv6 address", perlCgi("200 OK", "'IPADDR=[2001:db8::7]=IPADDR'"));
        // One character a second: complete, it would be an address.
        cgi("cgi: slow past the time limit",
            "$| = 1; " + perlCgi("200 OK", "''") + " sleep 1, print for 'IPADDR=[1.2.3.4]=IPADDR' =~ /./g;");
        auto smtp = [](const char *name, const QByteArrayList &steps, const QString &boxes = {}) {
            QTest::newRow(name) << QByteArray() << steps << boxes;
        };
        const QByteArray hello = "220 mx ESMTP\r\n";
        const QString box = u"WAN IP 情報"_s;
        smtp("smtp: garbage", {"\x16\x03\x01\x02\x00\x01\x00\x01\xFC\x03\x03\r\n"_ba});
        smtp("smtp: huge reply", {hello, "<", "250 mx [" + QByteArray(1 << 20, 'x')}, box);
        smtp("smtp: greeting without a line end", {"220 mx ESMTP"});
        smtp("smtp: closed after connecting", {"CLOSE"});
        smtp("smtp: closed after the greeting", {hello, "CLOSE"});
        smtp("smtp: closed after the 250", {hello, "<", "250 mx\r\n", "CLOSE"}, box);
        smtp("smtp: closed after QUIT", {hello, "<", "250 mx\r\n", "<", "CLOSE"}, box);
    }
    void fault() {
        QFETCH(QByteArray, cgi);
        QFETCH(QByteArrayList, smtp);
        QFETCH(QString, boxes);
        const QByteArrayList usual{"220 mx ESMTP\r\n", "<", "250 mx [203.0.113.10]\r\n", "<", "221 bye\r\n"};
        ScriptedServer mail([&](ScriptedServer &s, ScriptedServer::Socket &c) {
            for (const QByteArray &step : s.connections() == 1 ? smtp : usual) {
                if (step == "CLOSE")
                    return;
                step == "<" ? c.readLine().has_value() : c.send(step);
            }
            c.readAll();
        });
        QTemporaryDir site;
        const QString path = site.filePath(u"nomrel.cgi"_s);
        EchoCgiServer web(site.path());
        QVERIFY(mail.isRunning() && writeAll(path, cgi));
        QVERIFY2(cgi.isNull() || web.serve(), qPrintable(web.errorText()));
        Window env(cgi.isNull(),
                   cgi.isNull() ? u"127.0.0.1:%1"_s.arg(mail.port()) : web.baseUrl() + u"nomrel.cgi"_s);
        wancheck::CurlHttpFetcher fetcher({5000, 5000, 65536});
        env.w->setHttpFetcher(&fetcher);
        env.w->setSmtpReplyTimeout(3000); // a silent server is waited for a few seconds only
        env.w->Form_Load();
        QTRY_VERIFY_WITH_TIMEOUT(
            mail.connections() == cgi.isNull() && env.w->Ws->state() == QTcpSocket::UnconnectedState, 20000);
        env.verify(false, boxes);
        // The next check finds 203.0.113.10. By SMTP it comes after that check; the one after publishes it.
        QVERIFY(writeAll(path, perlCgi("200 OK", "'IPADDR=[203.0.113.10]=IPADDR'")));
        env.w->setSmtpReplyTimeout(frmControl::kSmtpReplyTimeoutMs);
        env.w->tmrChk_Timer();
        QTRY_COMPARE_WITH_TIMEOUT(env.rec.strWanIp, u"203.0.113.10"_s, 10000);
        env.w->tmrChk_Timer();
        env.verify(true, boxes);
    }
};

QTEST_MAIN(TstFaultsDetection)
#include "tst_faults_detection.moc"
