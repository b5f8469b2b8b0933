#include "controller/frmcontrol.h"
#include "settings/codepage.h"
#include "tests/support/ftpserver.h"
#include "tests/support/recordingsink.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kChanged = u"WAN IP が変更されています。\r\n手動で ipdata ファイルをアップロードして下さい。"_s;
const QString kMessageEdited = u"リンク停止メッセージが変更されました。\r\n手動でアップロードして下さい。"_s;

// Stands in for the address-echo CGI: the address is what the test says.
class FixedFetcher : public wancheck::HttpFetcher {
public:
    std::optional<QByteArray> fetch(const QString &) override {
        return QByteArray("IPADDR=[" + address.toLatin1() + "]=IPADDR");
    }
    QString address = u"203.0.113.9"_s;
};

QByteArray bytesOf(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A program folder, a real FTP server holding the gateway file, and the window between them.
struct Env {
    QTemporaryDir prog;
    QTemporaryDir site;
    std::unique_ptr<FtpServer> server;
    SettingsStore store{prog.path()};
    RecordingSink sink;
    FixedFetcher fetcher;

    explicit Env(const QByteArray &serverFile, qint16 chkAuto) {
        if (!serverFile.isNull()) {
            QFile f(site.filePath(u"ipdata.txt"_s));
            if (f.open(QIODevice::WriteOnly))
                f.write(serverFile);
        }
        server = std::make_unique<FtpServer>(site.path());
        SettingsRecord &rec = store.record();
        rec.strFtpSv = server->hostPort();
        rec.strFtpUser = server->options().user;
        rec.strFtpPass = server->options().password;
        rec.strFtpPath = u"/ipdata.txt"_s;
        rec.strIpAdd = u"http://127.0.0.1/nomrel.cgi"_s;
        rec.intChkAuto = chkAuto;
    }
    QByteArray serverFile() const { return bytesOf(site.filePath(u"ipdata.txt"_s)); }
    QByteArray workingCopy() const { return bytesOf(store.ipDataPath()); }
    std::unique_ptr<frmControl> open() {
        auto w = std::make_unique<frmControl>(store);
        w->setMessageSink(&sink);
        w->setHttpFetcher(&fetcher);
        w->Form_Load();
        return w;
    }
    int uploads() {
        return int(server->verbs().count(u"STOR"_s));
    }
};

QByteArray ansi(const QString &s) { return codepage::toAnsi(s); }

} // namespace

class tst_frmcontrol_ipdata : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        for (const char *name : {"ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY"})
            qunsetenv(name);
    }

    // Opening shows the server's file and publishes a changed address at once in automatic mode.
    void openingInAutomaticMode() {
        Env env(ansi(u"off,198.51.100.1,ただいま閉鎖中,b\r\n"_s), 1);
        env.store.record().strLastWanIp = u"198.51.100.1"_s;
        auto w = env.open();
        QVERIFY2(env.sink.boxes.isEmpty(), qPrintable(env.sink.titles().join(u',')));
        const QByteArray expected = ansi(u"off,203.0.113.9,ただいま閉鎖中,b\r\n"_s);
        QCOMPARE(env.serverFile(), expected);
        QCOMPARE(env.workingCopy(), expected);
        QCOMPARE(w->lblPvnIp->text(), u"203.0.113.9"_s);
        QCOMPARE(w->txtPvnMsg->text(), u"ただいま閉鎖中"_s);
        QCOMPARE(w->imgStat->toolTip(), u"Porvane 閉鎖中"_s);
        QCOMPARE(env.store.record().strLastWanIp, u"203.0.113.9"_s);
        QCOMPARE(env.store.record().strPvnSt, u"off"_s);

        // The same address at the next check: nothing is written, uploaded or shown.
        const int before = env.uploads();
        w->cboTimer->setCurrentIndex(1);
        w->tmrChk_Timer();
        QCOMPARE(env.uploads(), before);
        QVERIFY(env.sink.boxes.isEmpty());
    }

    // Manual mode: every check announces the change until the manual upload publishes it; the
    // picture meanwhile publishes the state with the old address.
    void manualModeAndThePicture() {
        Env env(QByteArray("on,198.51.100.1,closed\r\n"), 0);
        env.store.record().strLastWanIp = u"198.51.100.1"_s;
        auto w = env.open();
        QCOMPARE(w->imgStat->toolTip(), u"Porvane 公開中"_s);
        QCOMPARE(env.sink.boxes.size(), 1);
        QCOMPARE(env.sink.boxes[0].title, u"WAN IP 変更"_s);
        QCOMPARE(env.sink.boxes[0].text, kChanged);
        QCOMPARE(env.sink.boxes[0].style, int(MessageSink::Information));
        QVERIFY(w->cmdManual->isEnabled());
        QCOMPARE(env.uploads(), 0);

        w->cboTimer->setCurrentIndex(1);
        w->tmrChk_Timer();
        QCOMPARE(env.sink.boxes.size(), 2); // announced again

        w->imgStat_Click();
        QCOMPARE(env.serverFile(), QByteArray("off,198.51.100.1,closed\r\n"));
        QCOMPARE(w->imgStat->toolTip(), u"Porvane 閉鎖中"_s);
        QVERIFY(w->cmdManual->isEnabled());

        w->cmdManual->click();
        QCOMPARE(env.serverFile(), QByteArray("off,203.0.113.9,closed\r\n"));
        QVERIFY(!w->cmdManual->isEnabled());
        QCOMPARE(env.store.record().strLastWanIp, u"203.0.113.9"_s);
        w->tmrChk_Timer();
        QCOMPARE(env.sink.boxes.size(), 2); // nothing pending any more
    }

    // The picture switches the gateway in either mode and always publishes at once.
    void pictureSwitches_data() {
        QTest::addColumn<qint16>("chkAuto");
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QByteArray>("afterClick");
        QTest::newRow("auto, on") << qint16(1) << QByteArray("on,192.0.2.1,m\r\n") << QByteArray("off,192.0.2.1,m\r\n");
        QTest::newRow("manual, off") << qint16(0) << QByteArray("off,192.0.2.1,m\r\n") << QByteArray("on,192.0.2.1,m\r\n");
        QTest::newRow("capitals read as closed") << qint16(0) << QByteArray("ON,192.0.2.1,m\r\n") << QByteArray("on,192.0.2.1,m\r\n");
        QTest::newRow("short file padded") << qint16(1) << QByteArray("on\r\n") << QByteArray("off,,\r\n");
    }
    void pictureSwitches() {
        QFETCH(qint16, chkAuto);
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, afterClick);
        Env env(start, chkAuto);
        env.fetcher.address = u"192.0.2.1"_s;
        env.store.record().strLastWanIp = u"192.0.2.1"_s;
        auto w = env.open();
        w->imgStat_Click();
        QCOMPARE(env.serverFile(), afterClick);
        w->imgStat_Click();
        QCOMPARE(env.serverFile().left(3), start.startsWith("on") ? QByteArray("on,") : QByteArray("off"));
        QVERIFY(env.sink.boxes.isEmpty());
    }

    // An edited closed message: published at once in automatic mode, with the manual upload otherwise.
    void messageEdits_data() {
        QTest::addColumn<qint16>("chkAuto");
        QTest::newRow("automatic") << qint16(1);
        QTest::newRow("manual") << qint16(0);
    }
    void messageEdits() {
        QFETCH(qint16, chkAuto);
        Env env(QByteArray("off,203.0.113.9,old\r\n"), chkAuto);
        env.store.record().strLastWanIp = u"203.0.113.9"_s;
        auto w = env.open();
        // Leaving the box unchanged, or restoring the published text, does nothing.
        w->txtPvnMsg->setText(u"old"_s);
        w->txtPvnMsg_LostFocus();
        QCOMPARE(env.uploads(), 0);

        w->txtPvnMsg->setText(u"工事中です,また明日"_s);
        w->txtPvnMsg_LostFocus();
        const QByteArray edited = ansi(u"off,203.0.113.9,工事中です,また明日\r\n"_s);
        if (chkAuto == 1) {
            QVERIFY(env.sink.boxes.isEmpty());
        } else {
            QCOMPARE(env.sink.boxes.size(), 1);
            QCOMPARE(env.sink.boxes[0].title, u"メッセージ変更"_s);
            QCOMPARE(env.sink.boxes[0].text, kMessageEdited);
            QCOMPARE(env.serverFile(), QByteArray("off,203.0.113.9,old\r\n"));
            w->cmdManual->click();
        }
        QCOMPARE(env.serverFile(), edited);
        // The comma cut the message: the box shows its first part, the rest is carried.
        QCOMPARE(w->txtPvnMsg->text(), u"工事中です"_s);
        w->imgStat_Click();
        QCOMPARE(env.serverFile(), ansi(u"on,203.0.113.9,工事中です,また明日\r\n"_s));
    }

    // A failed automatic upload leaves the address unpublished; the next check tries again.
    void failedUploadIsRetried() {
        Env env(QByteArray("on,198.51.100.1,m\r\n"), 1);
        env.store.record().strLastWanIp = u"198.51.100.1"_s;
        env.store.record().strFtpPath = u"/later/ipdata.txt"_s;
        // "later" is a plain file at first: the server refuses the upload, root or not.
        QFile blocker(env.site.filePath(u"later"_s));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        auto w = env.open();
        QCOMPARE(env.sink.titles(), QStringList{u"Zentrow<FtpPut>"_s});
        QVERIFY(env.sink.boxes[0].text.startsWith(u"FtpPutFile:GetLastError="_s));
        QCOMPARE(env.store.record().strLastWanIp, u"198.51.100.1"_s);
        // The display shows the file as just written all the same.
        QCOMPARE(w->lblPvnIp->text(), u"203.0.113.9"_s);

        QVERIFY(blocker.remove());
        QVERIFY(QDir(env.site.path()).mkdir(u"later"_s));
        w->cboTimer->setCurrentIndex(1);
        w->tmrChk_Timer();
        // No server file was ever read, so the empty last known state carries the address.
        QCOMPARE(bytesOf(env.site.filePath(u"later/ipdata.txt"_s)), QByteArray(",203.0.113.9,\r\n"));
        QCOMPARE(env.store.record().strLastWanIp, u"203.0.113.9"_s);
        QCOMPARE(env.sink.boxes.size(), 1);
    }

    // With the server gone, one publish sequence says so twice: the upload, then the download.
    void serverDownShowsTwoMessages() {
        Env env(QByteArray("on,198.51.100.1,m\r\n"), 1);
        env.store.record().strLastWanIp = u"203.0.113.9"_s; // nothing to publish at opening
        auto w = env.open();
        env.server.reset();
        w->imgStat_Click();
        QCOMPARE(env.sink.titles(), (QStringList{u"Zentrow<FtpPut>"_s, u"Zentrow<FtpGet>"_s}));
        for (const Box &b : env.sink.boxes) {
            QVERIFY(b.text.startsWith(u"InternetConnect:GetLastError="_s));
            QCOMPARE(b.style, int(MessageSink::Exclamation));
        }
        // The working copy and the display hold the switched state nonetheless.
        QCOMPARE(env.workingCopy(), QByteArray("off,198.51.100.1,m\r\n"));
        QCOMPARE(w->imgStat->toolTip(), u"Porvane 閉鎖中"_s);
    }

    // No file on the server yet: the last known state stands in, and the first publish creates it.
    void noServerFileUsesLastKnownState() {
        Env env(QByteArray(), 1);
        SettingsRecord &rec = env.store.record();
        rec.strPvnSt = u"on"_s;
        rec.strPvnIp = u"198.51.100.1"_s;
        rec.strPvnMsg = u"休止中"_s;
        auto w = env.open();
        QVERIFY(env.sink.boxes.isEmpty());
        QCOMPARE(w->txtPvnMsg->text(), u"休止中"_s);
        QCOMPARE(env.serverFile(), ansi(u"on,203.0.113.9,休止中\r\n"_s));
    }

    // A working copy that cannot be written: said once, nothing uploaded, nothing half-written.
    void unwritableWorkingCopy() {
        Env env(QByteArray("on,198.51.100.1,m\r\n"), 1);
        QVERIFY(QDir(env.prog.path()).mkdir(u"ipdata.txt"_s)); // a folder where the file goes
        auto w = env.open();
        QCOMPARE(env.sink.titles(), QStringList{u"Zentrow"_s});
        QCOMPARE(env.sink.boxes[0].style, int(MessageSink::Exclamation));
        QCOMPARE(env.uploads(), 0);
        QCOMPARE(env.serverFile(), QByteArray("on,198.51.100.1,m\r\n"));
        QVERIFY(env.store.record().strLastWanIp.isEmpty());
    }
};

QTEST_MAIN(tst_frmcontrol_ipdata)
#include "tst_frmcontrol_ipdata.moc"
