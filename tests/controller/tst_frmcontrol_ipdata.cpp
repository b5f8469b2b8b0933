#include "controller/frmcontrol.h"
#include "settings/codepage.h"
#include "tests/support/ftpserver.h"
#include "tests/support/recordingsink.h"
#include "tests/support/testsupport.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using testsupport::readAll;

namespace {

QByteArray ansi(const QString &s) { return codepage::toAnsi(s); }

// A program folder, a real FTP server holding the gateway file, and the window between them.
// The address-echo CGI always says 203.0.113.9.
struct Env : wancheck::HttpFetcher {
    Env(const QByteArray &serverFile, int chkAuto, const QString &lastWanIp) {
        if (!serverFile.isNull())
            testsupport::writeAll(site.filePath(u"ipdata.txt"_s), serverFile);
        rec.strFtpSv = server->hostPort();
        rec.strFtpUser = server->options().user;
        rec.strFtpPass = server->options().password;
        rec.strFtpPath = u"/ipdata.txt"_s;
        rec.intChkAuto = qint16(chkAuto);
        rec.strLastWanIp = lastWanIp;
    }
    std::optional<QByteArray> fetch(const QString &) override { return QByteArray("IPADDR=[203.0.113.9]=IPADDR"); }
    std::unique_ptr<frmControl> open() {
        auto w = std::make_unique<frmControl>(store);
        w->setMessageSink(&sink);
        w->setHttpFetcher(this);
        w->Form_Load();
        w->cboTimer->setCurrentIndex(1); // every tick checks
        return w;
    }
    QByteArray serverFile() const { return readAll(site.filePath(u"ipdata.txt"_s)); }
    QByteArray workingCopy() const { return readAll(store.ipDataPath()); }
    qsizetype uploads() { return server->verbs().count(u"STOR"_s); }

    QTemporaryDir prog, site;
    std::unique_ptr<FtpServer> server = std::make_unique<FtpServer>(site.path());
    SettingsStore store{prog.path()};
    SettingsRecord &rec = store.record();
    RecordingSink sink;
};

} // namespace

class tst_frmcontrol_ipdata : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        for (const char *name : {"ftp_proxy", "all_proxy", "ALL_PROXY"})
            qunsetenv(name);
    }

    // Automatic mode publishes a changed address at once and an unchanged one never; the
    // picture publishes the switched state.
    void automaticMode() {
        Env env(ansi(u"off,198.51.100.1,ただいま閉鎖中,b\r\n"_s), 1, u"198.51.100.1"_s);
        auto w = env.open();
        QVERIFY2(env.sink.boxes.isEmpty(), qPrintable(env.sink.titles().join(u',')));
        QCOMPARE(env.serverFile(), ansi(u"off,203.0.113.9,ただいま閉鎖中,b\r\n"_s));
        QCOMPARE(env.workingCopy(), env.serverFile());
        QCOMPARE(w->lblPvnIp->text(), u"203.0.113.9"_s);
        QCOMPARE(w->txtPvnMsg->text(), u"ただいま閉鎖中"_s);
        QCOMPARE(w->imgStat->toolTip(), u"Porvane 閉鎖中"_s);
        QCOMPARE(env.rec.strLastWanIp, u"203.0.113.9"_s);
        w->tmrChk_Timer();
        QCOMPARE(env.uploads(), 1);
        w->imgStat_Click();
        QCOMPARE(env.serverFile(), ansi(u"on,203.0.113.9,ただいま閉鎖中,b\r\n"_s));
        QCOMPARE(w->imgStat->toolTip(), u"Porvane 公開中"_s);
        QVERIFY(env.sink.boxes.isEmpty());
    }

    // Manual mode announces the change at every check until the manual upload; the picture
    // meanwhile publishes the switched state with the old address. Only "on" means open.
    void manualMode() {
        Env env("ON,198.51.100.1,closed\r\n"_ba, 0, u"198.51.100.1"_s);
        auto w = env.open();
        QCOMPARE(w->imgStat->toolTip(), u"Porvane 閉鎖中"_s);
        QCOMPARE(env.sink.titles(), QStringList{u"WAN IP 変更"_s});
        QCOMPARE(env.sink.boxes[0].text, u"WAN IP が変更されています。\r\n手動で ipdata ファイルをアップロードして下さい。"_s);
        QVERIFY(w->cmdManual->isEnabled());
        w->tmrChk_Timer();
        QCOMPARE(env.sink.boxes.size(), 2);
        w->imgStat_Click();
        QCOMPARE(env.serverFile(), "on,198.51.100.1,closed\r\n"_ba);
        QVERIFY(w->cmdManual->isEnabled());
        w->cmdManual->click();
        QCOMPARE(env.serverFile(), "on,203.0.113.9,closed\r\n"_ba);
        QVERIFY(!w->cmdManual->isEnabled());
        QCOMPARE(env.rec.strLastWanIp, u"203.0.113.9"_s);
        w->tmrChk_Timer();
        QCOMPARE(env.sink.boxes.size(), 2);
    }

    // An edited closed message: published at once in automatic mode, with the manual upload otherwise.
    void messageEdits_data() {
        QTest::addColumn<int>("chkAuto");
        QTest::newRow("automatic") << 1;
        QTest::newRow("manual") << 0;
    }
    void messageEdits() {
        QFETCH(int, chkAuto);
        Env env("off,203.0.113.9,old\r\n"_ba, chkAuto, u"203.0.113.9"_s);
        auto w = env.open();
        w->txtPvnMsg_LostFocus(); // left unchanged
        w->txtPvnMsg->setText(u"工事中です,また明日"_s);
        w->txtPvnMsg_LostFocus();
        if (chkAuto == 0) {
            QCOMPARE(env.sink.titles(), QStringList{u"メッセージ変更"_s});
            QCOMPARE(env.sink.boxes[0].text, u"リンク停止メッセージが変更されました。\r\n手動でアップロードして下さい。"_s);
            QCOMPARE(env.uploads(), 0);
            w->cmdManual->click();
        }
        QCOMPARE(env.uploads(), 1);
        QCOMPARE(env.serverFile(), ansi(u"off,203.0.113.9,工事中です,また明日\r\n"_s));
        // The comma cut the message: the box shows its first part, the rest is carried.
        QCOMPARE(w->txtPvnMsg->text(), u"工事中です"_s);
    }

    // No file on the server and a failed upload: the last known state stands in, the display
    // shows the file as written, and the address stays unpublished until a check gets it through.
    void failedUploadIsRetried() {
        Env env(QByteArray(), 1, u"198.51.100.1"_s);
        env.rec.strPvnSt = u"on"_s;
        env.rec.strPvnMsg = u"休止中"_s;
        env.rec.strFtpPath = u"/later/ipdata.txt"_s;
        // "later" is a plain file at first: the server refuses the upload, root or not.
        QVERIFY(testsupport::writeAll(env.site.filePath(u"later"_s), {}));
        auto w = env.open();
        QCOMPARE(env.sink.titles(), QStringList{u"Zentrow<FtpPut>"_s});
        QCOMPARE(w->lblPvnIp->text(), u"203.0.113.9"_s);
        QCOMPARE(w->txtPvnMsg->text(), u"休止中"_s);
        QCOMPARE(env.rec.strLastWanIp, u"198.51.100.1"_s);
        QVERIFY(QFile::remove(env.site.filePath(u"later"_s)) && QDir(env.site.path()).mkdir(u"later"_s));
        w->tmrChk_Timer();
        QCOMPARE(readAll(env.site.filePath(u"later/ipdata.txt"_s)), ansi(u"on,203.0.113.9,休止中\r\n"_s));
        QCOMPARE(env.rec.strLastWanIp, u"203.0.113.9"_s);
        QCOMPARE(env.sink.boxes.size(), 1);
    }

    // With the server gone, one publication says so twice: the upload, then the download. The
    // working copy and the display hold the switched state, a short file padded.
    void serverDown() {
        Env env("on\r\n"_ba, 1, u"203.0.113.9"_s);
        auto w = env.open();
        env.server.reset();
        w->imgStat_Click();
        QCOMPARE(env.sink.titles(), (QStringList{u"Zentrow<FtpPut>"_s, u"Zentrow<FtpGet>"_s}));
        QCOMPARE(env.workingCopy(), "off,,\r\n"_ba);
        QCOMPARE(w->imgStat->toolTip(), u"Porvane 閉鎖中"_s);
    }

    // A working copy that cannot be written: said once, nothing uploaded, nothing half-written.
    void unwritableWorkingCopy() {
        Env env("on,198.51.100.1,m\r\n"_ba, 1, QString());
        QVERIFY(QDir(env.prog.path()).mkdir(u"ipdata.txt"_s)); // a folder where the file goes
        env.open();
        QCOMPARE(env.sink.titles(), QStringList{u"Zentrow"_s});
        QCOMPARE(env.uploads(), 0);
        QCOMPARE(env.serverFile(), "on,198.51.100.1,m\r\n"_ba);
        QVERIFY(env.rec.strLastWanIp.isEmpty());
    }
};

QTEST_MAIN(tst_frmcontrol_ipdata)
#include "tst_frmcontrol_ipdata.moc"
