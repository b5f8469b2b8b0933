#include "controller/frmcontrol.h"
#include "settings/codepage.h"
#include "shell/frmmain.h"
#include "shell/shutdownsignals.h"
#include "tests/support/ftpserver.h"
#include "tests/support/recordingsink.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace Qt::Literals::StringLiterals;
using testsupport::readAll;

namespace {

QByteArray ansi(const QString &s) {
    return codepage::toAnsi(s);
}

// A real FTP server holding the gateway file, and the window; the CGI says 203.0.113.9, every tick checks.
struct Env : wancheck::HttpFetcher {
    Env(const QByteArray &serverFile, int chkAuto, const QString &lastWanIp, FtpServer::Options ftp = {})
        : server(std::make_unique<FtpServer>(site.path(), ftp)) {
        if (!serverFile.isNull())
            testsupport::writeAll(site.filePath(u"ipdata.txt"_s), serverFile);
        rec.strFtpSv = server->hostPort();
        rec.strFtpUser = server->options().user;
        rec.strFtpPass = server->options().password;
        rec.strFtpPath = u"/ipdata.txt"_s;
        rec.intChkAuto = qint16(chkAuto);
        rec.strLastWanIp = lastWanIp;
        rec.intTimer = 1;
    }
    std::optional<QByteArray> fetch(const QString &) override {
        return QByteArray("IPADDR=[203.0.113.9]=IPADDR");
    }
    std::unique_ptr<frmControl> open() {
        auto w = std::make_unique<frmControl>(store);
        w->setMessageSink(&sink);
        w->setHttpFetcher(this);
        w->Form_Load();
        return w;
    }
    // A run of the program on the folder, zent.ini as the record says: the controller opened from
    // the menu.
    void start() {
        rec.strWanIp = rec.strLastWanIp;
        store.SaveSetData();
        store.SaveConData();
        main = std::make_unique<frmMain>(store);
        main->setControlFactory([this](SettingsStore &s) {
            auto *w = new frmControl(s);
            w->setMessageSink(&sink);
            w->setHttpFetcher(this);
            return w;
        });
        main->show();
        main->mnuCont->trigger();
    }
    QByteArray serverFile() const { return readAll(site.filePath(u"ipdata.txt"_s)); }
    qsizetype uploads() { return server->verbs().count(u"STOR"_s); }

    QTemporaryDir prog, site;
    std::unique_ptr<FtpServer> server;
    std::unique_ptr<frmMain> main;
    SettingsStore store{prog.path()};
    SettingsRecord &rec = store.record();
    RecordingSink sink;
};

} // namespace

class tst_frmcontrol_ipdata : public QObject {
    Q_OBJECT
private slots:
    // Automatic mode publishes a changed address, the picture and an edited message at once. With the
    // server gone, one publication says so twice, and the display holds the file as written.
    void automaticMode() {
        Env env(ansi(u"off,198.51.100.1,ただいま閉鎖中,b\r\n"_s), 1, u"198.51.100.1"_s);
        auto w = env.open();
        QCOMPARE(env.serverFile(), ansi(u"off,203.0.113.9,ただいま閉鎖中,b\r\n"_s));
        QCOMPARE(readAll(env.store.ipDataPath()), env.serverFile());
        QCOMPARE(w->lblPvnIp->text(), u"203.0.113.9"_s);
        QCOMPARE(w->txtPvnMsg->text(), u"ただいま閉鎖中"_s);
        QCOMPARE(w->imgStat->toolTip(), u"Porvane 閉鎖中"_s);
        QCOMPARE(env.rec.strLastWanIp, u"203.0.113.9"_s);
        w->tmrChk_Timer();
        w->txtPvnMsg_LostFocus(); // left unchanged
        QCOMPARE(env.uploads(), 1);
        const QImage closedPicture = w->imgStat->pixmap().toImage();
        w->imgStat_Click();
        QCOMPARE(w->imgStat->toolTip(), u"Porvane 公開中"_s);
        QCOMPARE(w->imgStat->pixmap().size(), QSize(32, 32));
        QVERIFY(w->imgStat->pixmap().toImage() != closedPicture);
        w->txtPvnMsg->setText(u"工事中です,また明日"_s);
        w->txtPvnMsg_LostFocus();
        QCOMPARE(env.serverFile(), ansi(u"on,203.0.113.9,工事中です,また明日,b\r\n"_s));
        QCOMPARE(w->txtPvnMsg->text(), u"工事中です"_s); // the comma cut it, the rest is carried
        QVERIFY(env.sink.boxes.isEmpty());
        env.server.reset();
        w->imgStat_Click();
        QCOMPARE(env.sink.titles(), (QStringList{u"Zentrow<FtpPut>"_s, u"Zentrow<FtpGet>"_s}));
        QCOMPARE(readAll(env.store.ipDataPath()), ansi(u"off,203.0.113.9,工事中です,また明日,b\r\n"_s));
        QCOMPARE(w->imgStat->toolTip(), u"Porvane 閉鎖中"_s);
    }

    // Manual mode announces a change at every check until the manual upload; the picture is
    // published at once with the old address, an edited message waits. Only "on" means open.
    void manualMode() {
        Env env("ON,198.51.100.1,closed\r\n"_ba, 0, u"198.51.100.1"_s);
        auto w = env.open();
        QCOMPARE(w->imgStat->toolTip(), u"Porvane 閉鎖中"_s);
        w->tmrChk_Timer();
        w->imgStat_Click();
        QCOMPARE(env.serverFile(), "on,198.51.100.1,closed\r\n"_ba);
        QVERIFY(w->cmdManual->isEnabled());
        w->txtPvnMsg->setText(u"工事中"_s);
        w->txtPvnMsg_LostFocus();
        QCOMPARE(env.uploads(), 1);
        QCOMPARE(env.sink.titles(), (QStringList{u"WAN IP 変更"_s, u"WAN IP 変更"_s, u"メッセージ変更"_s}));
        QCOMPARE(env.sink.boxes[0].text,
                 u"WAN IP が変更されています。\r\n手動で ipdata ファイルをアップロードして下さい。"_s);
        QCOMPARE(env.sink.boxes[2].text,
                 u"リンク停止メッセージが変更されました。\r\n手動でアップロードして下さい。"_s);
        w->cmdManual->click();
        QCOMPARE(env.serverFile(), ansi(u"on,203.0.113.9,工事中\r\n"_s));
        QVERIFY(!w->cmdManual->isEnabled());
        w->tmrChk_Timer();
        QCOMPARE(env.sink.boxes.size(), 3);
    }

    // No server file: the last known state stands in. A failed upload leaves the address unpublished,
    // also across a restart: zent.ini keeps the address last published, so the next run publishes.
    void failedUploadIsRetriedAfterARestart() {
        Env env(QByteArray(), 1, u"198.51.100.1"_s);
        env.rec.strPvnSt = u"on"_s;
        env.rec.strPvnMsg = u"休止中"_s;
        env.rec.strFtpPath = u"/later/ipdata.txt"_s;
        // "later" is a plain file at first: the server refuses the upload, root or not.
        const QString later = env.site.filePath(u"later"_s);
        QVERIFY(testsupport::writeAll(later, {}));
        env.start();
        env.main->close();
        QCOMPARE(env.sink.titles(), QStringList{u"Zentrow<FtpPut>"_s});
        QVERIFY(readAll(env.store.iniPath()).contains("WanIp=198.51.100.1\r\n"));
        QVERIFY(QFile::remove(later) && QDir(env.site.path()).mkdir(u"later"_s));
        env.start();
        env.main->close();
        QCOMPARE(readAll(later + u"/ipdata.txt"_s), ansi(u"on,203.0.113.9,休止中\r\n"_s));
        QVERIFY(readAll(env.store.iniPath()).contains("WanIp=203.0.113.9\r\n"));
        QCOMPARE(env.sink.boxes.size(), 1);
    }

    // The run ends while a publication waits in a box: it stops there. No working copy comes back
    // after the shut-down deleted it, nothing is uploaded after zent.ini was written.
    void endingDuringABox_data() {
        QTest::addColumn<QString>("way");
        QTest::newRow("終了(&X)") << u"menu"_s;
        QTest::newRow("close box") << u"close"_s;
        QTest::newRow("SIGTERM") << u"signal"_s;
    }
    void endingDuringABox() {
        QFETCH(QString, way);
        // The server lets the file be read, but not written.
        Env env("off,198.51.100.1,m\r\n"_ba, 1, u"198.51.100.1"_s, {.perm = u"elr"_s});
        ShutdownSignals endSignals;
        qsizetype uploads = -1;
        env.sink.onShow = [&] {
            uploads = env.uploads();
            if (way == u"menu"_s) {
                env.main->mnuEnd->trigger();
            } else if (way == u"close"_s) {
                env.main->close();
            } else {
                QObject::connect(&endSignals, &ShutdownSignals::requested, env.main.get(),
                                 &frmMain::mnuEnd_Click);
                ::raise(SIGTERM);
                QTRY_VERIFY(!env.main->isVisible());
            }
        };
        env.start();
        QCOMPARE(env.sink.titles(), QStringList{u"Zentrow<FtpPut>"_s});
        QVERIFY(!QFileInfo::exists(env.store.ipDataPath()));
        QCOMPARE(env.uploads(), uploads);
        QVERIFY(readAll(env.store.iniPath()).contains("WanIp=198.51.100.1\r\n"));
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
