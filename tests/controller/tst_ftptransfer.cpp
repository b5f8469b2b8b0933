#include "controller/ftptransfer.h"
#include "tests/support/ftpserver.h"
#include "tests/support/recordingsink.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;
using testsupport::readAll;
using testsupport::writeAll;

namespace {

// A server root "srv" whose log-in directory is /home/u, a local folder "local" and a recording
// client, one set per test. The bounds never flake on a loaded machine and still end a failing test.
struct Bench {
    explicit Bench(std::optional<int> breakAfter = {}, FtpLimits limits = {10s, 20s}, QString encoding = u"utf8"_s)
        : server(root(tmp), {.loginDir = u"/home/u"_s, .encoding = encoding, .breakAfter = breakAfter}),
          client(sink, limits) {}
    // Makes the folders, gives the server root.
    static QString root(const QTemporaryDir &tmp) {
        QDir(tmp.path()).mkpath(u"srv/home/u"_s);
        QDir(tmp.path()).mkpath(u"local"_s);
        return tmp.filePath(u"srv"_s);
    }
    QString srv(const QString &rel) const { return tmp.filePath(u"srv/"_s + rel); }
    QString loc(const QString &rel) const { return tmp.filePath(u"local/"_s + rel); }
    // Hidden ones included: a leftover temporary file shows here.
    QStringList localFiles() const { return QDir(loc({})).entryList(QDir::Files | QDir::Hidden | QDir::System); }

    QTemporaryDir tmp;
    FtpServer server;
    RecordingSink sink;
    CurlFtpClient client;
};

} // namespace

class tst_ftptransfer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        for (const char *name : {"ftp_proxy", "all_proxy", "ALL_PROXY"})
            qunsetenv(name);
    }

    // Up and down byte for byte, the remote path sent as given: relative to the log-in directory
    // or absolute.
    void transfer_data() {
        QTest::addColumn<QString>("remote");
        QTest::addColumn<QString>("onDisk"); // below the server root
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("encoding"); // the server's
        const QByteArray big = QByteArray(100000, '\0') + QByteArray(100000, '\r') + QByteArray(100000, '\xFF');
        QTest::newRow("relative, CP932 data file") << u"ipdata.txt"_s << u"home/u/ipdata.txt"_s
                                                   << "off,203.0.113.7,\x95\xC2\x8D\xBD\x92\x86\r\n"_ba << u"utf8"_s;
        QTest::newRow("absolute, NUL, ^Z, lone CR and LF") << u"/www/ipdata.txt"_s << u"www/ipdata.txt"_s
                                                           << "a\0b\x1A\rc\nd\xFF\r\n\r\n"_ba << u"utf8"_s;
        QTest::newRow("parent folder, 300 KB") << u"../ipdata.txt"_s << u"home/ipdata.txt"_s << big << u"utf8"_s;
        QTest::newRow("blanks, %, #, ?, ;") << u"/www/my file %41#?;.txt"_s << u"www/my file %41#?;.txt"_s
                                            << "on\r\n"_ba << u"utf8"_s;
        QTest::newRow("japanese in CP932") << u"/公開/表示.txt"_s << u"公開/表示.txt"_s << "on\r\n"_ba << u"cp932"_s;
    }
    void transfer() {
        QFETCH(QString, remote);
        QFETCH(QString, onDisk);
        QFETCH(QByteArray, content);
        QFETCH(QString, encoding);
        Bench b({}, {10s, 20s}, encoding);
        QVERIFY2(b.server.isRunning(), qPrintable(b.server.errorString()));
        QVERIFY(QDir().mkpath(QFileInfo(b.srv(onDisk)).path()));
        QVERIFY(writeAll(b.loc(u"up.txt"_s), content));
        const QString user = b.server.options().user, password = b.server.options().password;
        QVERIFY(b.client.FtpPut(b.server.hostPort(), user, password, remote, b.loc(u"up.txt"_s)));
        QCOMPARE(readAll(b.srv(onDisk)), content);
        QVERIFY(writeAll(b.srv(onDisk), content + "2"));
        QVERIFY(b.client.FTPGet(b.server.hostPort(), user, password, remote, b.loc(u"down.txt"_s)));
        QCOMPARE(readAll(b.loc(u"down.txt"_s)), content + "2");
        QVERIFY(b.sink.boxes.isEmpty());
        QCOMPARE(b.localFiles(), (QStringList{u"down.txt"_s, u"up.txt"_s}));
        // One log-in per call, passive data connections (active ones fail behind a router).
        const QStringList verbs = b.server.verbs();
        QVERIFY(verbs.count(u"USER"_s) == 2 && !verbs.contains(u"PORT"_s) && !verbs.contains(u"EPRT"_s));
    }

    // A download that is refused or breaks is silent and true; wrong settings and refused uploads
    // show one message and give false. Neither side is ever left changed or half-written.
    void failure_data() {
        QTest::addColumn<bool>("upload");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("remote");
        QTest::addColumn<QString>("local");
        QTest::addColumn<QString>("message"); // empty: none, and true; ending in "=": any code
        const QString ip = u"ipdata.txt"_s, present = u"ipdata.txt"_s, fresh = u"new.txt"_s;
        QTest::newRow("get onto a local file: never replaced") << false << QString() << ip << present << QString();
        QTest::newRow("get: no remote file") << false << QString() << u"missing.txt"_s << fresh << QString();
        QTest::newRow("get: remote folder") << false << QString() << u"/www/"_s << fresh << QString();
        QTest::newRow("get: no local folder") << false << QString() << ip << u"nowhere/new.txt"_s << QString();
        QTest::newRow("get: broken off") << false << u"break"_s << ip << fresh << QString();
        QTest::newRow("get: larger than the cap") << false << u"cap"_s << ip << fresh << QString();
        const QString connect = u"InternetConnect:GetLastError="_s;
        for (const bool up : {false, true}) {
            const char *tag = up ? "put" : "get";
            const QString local = up ? u"up.txt"_s : fresh;
            QTest::addRow("%s: wrong password", tag) << up << u"password"_s << ip << local << connect + u"67"_s;
            QTest::addRow("%s: nothing listens", tag) << up << u"nobody"_s << ip << local << connect + u"7"_s;
            QTest::addRow("%s: not a host", tag) << up << u"bad host"_s << ip << local << connect + u"3"_s;
            QTest::addRow("%s: command in password", tag) << up << u"command"_s << ip << local << connect + u"43"_s;
            QTest::addRow("%s: accepts, never greets", tag) << up << u"mute"_s << ip << local << connect + u"28"_s;
        }
        const QString put = u"FtpPutFile:GetLastError="_s, src = u"up.txt"_s;
        QTest::newRow("put: no remote folder") << true << QString() << u"/nowhere/ipdata.txt"_s << src << put + u"25"_s;
        QTest::newRow("put: remote path is a folder") << true << QString() << u"/www/"_s << src << put + u"3"_s;
        QTest::newRow("put: no local file") << true << QString() << ip << u"missing.txt"_s << put + u"37"_s;
        QTest::newRow("put: broken off") << true << u"break"_s << u"other.txt"_s << src << put;
    }
    void failure() {
        QFETCH(bool, upload);
        QFETCH(QString, fault);
        QFETCH(QString, remote);
        QFETCH(QString, local);
        QFETCH(QString, message);
        Bench b(fault == u"break"_s ? std::optional(1000) : std::nullopt,
                {4s, 20s, fault == u"cap"_s ? 4096 : 1 << 20});
        QTcpServer mute; // never accepts: the kernel completes the handshake, nobody answers
        QVERIFY2(b.server.isRunning(), qPrintable(b.server.errorString()));
        QVERIFY(mute.listen(QHostAddress::LocalHost, 0) && QDir().mkpath(b.srv(u"www"_s)));
        const QByteArray server = QByteArray(65536, 's'), mine = QByteArray(65536, 'u');
        QVERIFY(writeAll(b.srv(u"home/u/ipdata.txt"_s), server));
        QVERIFY(writeAll(b.loc(u"ipdata.txt"_s), mine) && writeAll(b.loc(u"up.txt"_s), mine));
        const QString host = fault == u"nobody"_s ? u"127.0.0.1:%1"_s.arg(unusedLocalPort())
                             : fault == u"mute"_s ? u"127.0.0.1:%1"_s.arg(mute.serverPort())
                             : fault == u"bad host"_s ? u"bad host:21"_s
                                                      : b.server.hostPort();
        const QString password = fault == u"password"_s  ? u"wrong"_s
                                 : fault == u"command"_s ? u"secret\r\nDELE ipdata.txt"_s
                                                         : b.server.options().password;
        const QString user = b.server.options().user;
        QCOMPARE(upload ? b.client.FtpPut(host, user, password, remote, b.loc(local))
                        : b.client.FTPGet(host, user, password, remote, b.loc(local)),
                 message.isEmpty());
        QCOMPARE(b.sink.boxes.size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty()) {
            const Box box = b.sink.boxes[0];
            QCOMPARE(message.endsWith(u'=') ? box.text.left(message.size()) : box.text, message);
            QVERIFY(box.text.section(u'=', 1).toInt() != 0);
            QCOMPARE(box.title, upload ? u"Zentrow<FtpPut>"_s : u"Zentrow<FtpGet>"_s);
            QCOMPARE(box.style, int(MessageSink::Exclamation));
        }
        QCOMPARE(readAll(b.srv(u"home/u/ipdata.txt"_s)), server);
        QCOMPARE(b.localFiles(), (QStringList{u"ipdata.txt"_s, u"up.txt"_s}));
        QCOMPARE(readAll(b.loc(u"ipdata.txt"_s)), mine);
        // A download logs in all the same, so wrong settings show even with a working copy present.
        QVERIFY(!fault.isEmpty() || b.server.verbs().contains(u"PASS"_s));
    }
};

QTEST_GUILESS_MAIN(tst_ftptransfer)
#include "tst_ftptransfer.moc"
