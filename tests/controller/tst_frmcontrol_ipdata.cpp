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

QByteArray ansi(const QString &s) { return codepage::toAnsi(s); }

// The real transfers, noting whether the picture had been painted when an upload began.
struct PaintWatch : QObject, FtpClient {
    explicit PaintWatch(MessageSink &sink) : real(sink) {}
    GetStatus download(const QString &s, const QString &u, const QString &p, const QString &r,
                       const QString &l) override {
        return real.download(s, u, p, r, l);
    }
    bool FtpPut(const QString &s, const QString &u, const QString &p, const QString &r, const QString &l) override {
        paintsAtUpload = paints;
        return real.FtpPut(s, u, p, r, l);
    }
    bool eventFilter(QObject *, QEvent *e) override {
        paints += e->type() == QEvent::Paint;
        return false;
    }
    CurlFtpClient real;
    int paints = 0, paintsAtUpload = -1;
};

// A real FTP server holding the gateway file, and the window; the CGI says 203.0.113.9, every tick checks.
struct Env : wancheck::HttpFetcher {
    Env(const QByteArray &serverFile, int chkAuto, const QString &lastWanIp, FtpServer::Options ftp = {}) {
        if (!serverFile.isNull())
            testsupport::writeAll(site.filePath(u"ipdata.txt"_s), serverFile);
        server = std::make_unique<FtpServer>(site.path(), ftp);
        rec.strFtpSv = server->hostPort();
        rec.strFtpUser = server->options().user;
        rec.strFtpPass = server->options().password;
        rec.strFtpPath = u"/ipdata.txt"_s;
        rec.strIpAdd = u"cgi"_s;
        rec.intChkAuto = qint16(chkAuto);
        rec.strLastWanIp = lastWanIp;
        rec.intTimer = 1;
    }
    std::optional<QByteArray> fetch(const QString &) override { return QByteArray("IPADDR=[203.0.113.9]=IPADDR"); }
    // The window on its own, shown and active, its opening check done.
    std::unique_ptr<frmControl> open(FtpClient *ftp = nullptr) {
        auto w = std::make_unique<frmControl>(store);
        w->setMessageSink(&sink);
        w->setHttpFetcher(this);
        w->setFtpClient(ftp);
        w->show();
        (void)QTest::qWaitForWindowActive(w.get());
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

// Types into the closed message and leaves it with Tab, as a person does.
void editMessage(frmControl *w, const QString &text) {
    QTest::mouseClick(w->txtPvnMsg, Qt::LeftButton);
    QTest::keyClick(w->txtPvnMsg, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(w->txtPvnMsg, text);
    QTest::keyClick(w->txtPvnMsg, Qt::Key_Tab);
}

} // namespace

class tst_frmcontrol_ipdata : public QObject {
    Q_OBJECT
private slots:
    // Automatic mode publishes a changed address, the picture and an edited message at once. The
    // picture is painted before its upload begins; a comma typed into the message is the full-width
    // one and a carried fourth field joins the message, so the file has three fields. With the
    // server gone, a publication says so twice, and the display holds the file as written.
    void automaticMode() {
        Env env(ansi(u"off,198.51.100.1,ただいま閉鎖中,b\r\n"_s), 1, u"198.51.100.1"_s);
        PaintWatch ftp(env.sink);
        auto w = env.open(&ftp);
        QCOMPARE(env.serverFile(), ansi(u"off,203.0.113.9,ただいま閉鎖中，b\r\n"_s));
        QCOMPARE(readAll(env.store.ipDataPath()), env.serverFile());
        QCOMPARE(w->lblPvnIp->text(), u"203.0.113.9"_s);
        QCOMPARE(w->imgStat->toolTip(), u"Porvane 閉鎖中"_s);
        QCOMPARE(env.rec.strLastWanIp, u"203.0.113.9"_s);
        editMessage(w.get(), {}); // left unchanged
        QTest::qWait(50);
        QCOMPARE(env.uploads(), 1);
        const QImage closedPicture = w->imgStat->pixmap().toImage();
        w->imgStat->installEventFilter(&ftp);
        QTest::qWait(50);
        ftp.paints = 0;
        QTest::mouseClick(w->imgStat, Qt::LeftButton);
        QVERIFY(ftp.paintsAtUpload > 0);
        QCOMPARE(w->imgStat->toolTip(), u"Porvane 公開中"_s);
        QVERIFY(w->imgStat->pixmap().toImage() != closedPicture);
        editMessage(w.get(), u"closed, back at 9"_s);
        QTRY_COMPARE(env.serverFile(), "on,203.0.113.9,closed\x81\x43 back at 9\r\n"_ba);
        QCOMPARE(w->txtPvnMsg->text(), u"closed， back at 9"_s);
        QVERIFY(env.sink.boxes.isEmpty());
        env.server.reset();
        QTest::mouseClick(w->imgStat, Qt::LeftButton);
        QCOMPARE(env.sink.titles(), (QStringList{u"Zentrow<FtpPut>"_s, u"Zentrow<FtpGet>"_s}));
        QCOMPARE(readAll(env.store.ipDataPath()), "off,203.0.113.9,closed\x81\x43 back at 9\r\n"_ba);
        QCOMPARE(w->imgStat->toolTip(), u"Porvane 閉鎖中"_s);
    }

    // Manual mode announces a change at every check until the manual upload; the picture is
    // published at once with the old address, an edited message waits. Only "on" means open.
    void manualMode() {
        Env env("ON,198.51.100.1,closed\r\n"_ba, 0, u"198.51.100.1"_s);
        auto w = env.open();
        QCOMPARE(w->imgStat->toolTip(), u"Porvane 閉鎖中"_s);
        w->tmrChk_Timer();
        QTest::mouseClick(w->imgStat, Qt::LeftButton);
        QCOMPARE(env.serverFile(), "on,198.51.100.1,closed\r\n"_ba);
        QVERIFY(w->cmdManual->isEnabled());
        editMessage(w.get(), u"down"_s);
        QTRY_COMPARE(env.sink.boxes.size(), 3);
        QCOMPARE(env.uploads(), 1);
        QCOMPARE(env.sink.titles(), (QStringList{u"WAN IP 変更"_s, u"WAN IP 変更"_s, u"メッセージ変更"_s}));
        QCOMPARE(env.sink.boxes[0].text,
                 u"WAN IP が変更されています。\r\n手動で ipdata ファイルをアップロードして下さい。"_s);
        QCOMPARE(env.sink.boxes[2].text,
                 u"リンク停止メッセージが変更されました。\r\n手動でアップロードして下さい。"_s);
        QTest::mouseClick(w->cmdManual, Qt::LeftButton);
        QCOMPARE(env.serverFile(), "on,203.0.113.9,down\r\n"_ba);
        QVERIFY(!w->cmdManual->isEnabled());
        w->tmrChk_Timer();
        QCOMPARE(env.sink.boxes.size(), 3);
    }

    // The server cannot be reached when the window opens: nothing is published from the state the
    // record remembers. Once it answers, the next check publishes on top of the server's own state.
    void unreachableAtOpening() {
        const quint16 port = unusedLocalPort();
        Env env(ansi(u"on,198.51.100.1,サーバの案内\r\n"_s), 1, u"198.51.100.1"_s);
        env.server.reset();
        env.rec.strFtpSv = u"127.0.0.1:%1"_s.arg(port);
        env.rec.strPvnSt = u"off"_s;
        auto w = env.open();
        QCOMPARE(env.sink.titles(), (QStringList{u"Zentrow<FtpGet>"_s, u"Zentrow<FtpGet>"_s}));
        QCOMPARE(env.rec.strLastWanIp, u"198.51.100.1"_s);
        FtpServer::Options back;
        back.port = QString::number(port);
        env.server = std::make_unique<FtpServer>(env.site.path(), back);
        w->tmrChk_Timer();
        QCOMPARE(env.serverFile(), ansi(u"on,203.0.113.9,サーバの案内\r\n"_s));
        QCOMPARE(w->imgStat->toolTip(), u"Porvane 公開中"_s);
        QCOMPARE(env.sink.boxes.size(), 2);
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
        FtpServer::Options readOnly;
        readOnly.perm = u"elr"_s;
        Env env("off,198.51.100.1,m\r\n"_ba, 1, u"198.51.100.1"_s, readOnly);
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
