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

// A server root "srv" that decodes paths as CP932, logs in to /home/u and stores files as 0600, a local
// folder "local", a recording client, bounds that never flake on a loaded machine. `kind`: "no chmod" (the
// server refuses SITE CHMOD), "no tls" (TLS asked of a plain server), or FtpServer's TLS kinds (with TLS).
struct Bench {
    explicit Bench(const QString &kind = {}, FtpLimits limits = {10s, 20s})
        : server(root(tmp), {.loginDir = u"/home/u"_s,
                             .encoding = u"cp932"_s,
                             .umask = u"077"_s,
                             .perm = kind == u"no chmod"_s ? u"elradfmwT"_s : QString(),
                             .tls = QStringList{u"trusted"_s, u"untrusted"_s, u"other-name"_s}.contains(kind)
                                        ? kind
                                        : QString()}),
          client(sink, limits) {
        qputenv("SSL_CERT_FILE", QFile::encodeName(server.trustFile())); // as the README says
        client.setTls(kind == u"no tls"_s || !server.trustFile().isEmpty());
    }
    static QString root(const QTemporaryDir &tmp) {
        for (const QString &folder : {u"srv/home/u"_s, u"srv/www"_s, u"local"_s})
            QDir(tmp.path()).mkpath(folder);
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

using Got = FtpClient::GetStatus;

// `fault`: "cap" (4 KB), "password", "command" (in the password), "nobody" (listening), "mute" (never
// greets). `message` empty: none, and true. `got`: what a download finds.
struct Failure {
    bool upload;
    QString fault, remote, local, message;
    Got got = Got::Failed;
};

} // namespace

class tst_ftptransfer : public QObject {
    Q_OBJECT
private slots:
    // Up and down byte for byte, the remote path sent as given: relative to the log-in directory or absolute.
    // The upload is made readable for the web server (0644), or left as it is by a server that refuses.
    void transfer_data() {
        QTest::addColumn<QString>("kind"); // as Bench takes it
        QTest::addColumn<QString>("remote");
        QTest::addColumn<QString>("onDisk"); // below the server root
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("relative, CP932") << QString() << u"ipdata.txt"_s << u"home/u/ipdata.txt"_s
                                         << "off,1.2.3.4,\x95\xC2\x8D\xBD\r\n"_ba;
        QTest::newRow("absolute, NUL, ^Z, lone CR, LF")
            << QString() << u"/www/ipdata.txt"_s << u"www/ipdata.txt"_s << "a\0b\x1A\rc\nd\xFF\r\n"_ba;
        QTest::newRow("parent, 300 KB") << QString() << u"../ipdata.txt"_s << u"home/ipdata.txt"_s
                                        << QByteArray(150000, 0) + QByteArray(150000, 'x');
        QTest::newRow("over TLS") << u"trusted"_s << u"/www/ipdata.txt"_s << u"www/ipdata.txt"_s
                                  << "on\r\n"_ba;
        QTest::newRow("SITE CHMOD refused")
            << u"no chmod"_s << u"ipdata.txt"_s << u"home/u/ipdata.txt"_s << "on\r\n"_ba;
        QTest::newRow("japanese, blank, %, #, ?")
            << QString() << u"/www/表示 %41#?.txt"_s << u"www/表示 %41#?.txt"_s << "on\r\n"_ba;
    }
    void transfer() {
        QFETCH(QString, kind);
        QFETCH(QString, remote);
        QFETCH(QString, onDisk);
        QFETCH(QByteArray, content);
        Bench b(kind);
        QVERIFY2(b.server.isRunning(), qPrintable(b.server.errorString()));
        QVERIFY(writeAll(b.loc(u"up.txt"_s), content));
        const QString user = b.server.options().user, password = b.server.options().password;
        QVERIFY(b.client.FtpPut(b.server.hostPort(), user, password, remote, b.loc(u"up.txt"_s)));
        QCOMPARE(readAll(b.srv(onDisk)), content);
        QCOMPARE(testsupport::fileMode(b.srv(onDisk)), kind == u"no chmod"_s ? 0600u : 0644u);
        QVERIFY(writeAll(b.srv(onDisk), content + "2"));
        QCOMPARE(b.client.download(b.server.hostPort(), user, password, remote, b.loc(u"down.txt"_s)),
                 Got::Fetched);
        QCOMPARE(readAll(b.loc(u"down.txt"_s)), content + "2");
        QVERIFY(b.sink.boxes.isEmpty());
        QCOMPARE(b.localFiles(), (QStringList{u"down.txt"_s, u"up.txt"_s}));
        // One log-in per call, passive data connections (active ones fail behind a router).
        const QStringList verbs = b.server.verbs();
        QVERIFY(verbs.count(u"USER"_s) == 2 && !verbs.contains(u"PORT"_s) && !verbs.contains(u"EPRT"_s));
        QVERIFY(verbs.contains(u"SITE"_s));
        QCOMPARE(verbs.count(u"AUTH"_s) + verbs.count(u"PROT"_s), kind == u"trusted"_s ? 4 : 0);
    }

    // A refused download is silent and true; wrong settings and refused uploads show
    // one message and give false. Neither side is changed or left half-written.
    void failure_data() {
        QTest::addColumn<Failure>("f");
        const QString ip = u"ipdata.txt"_s, fresh = u"new.txt"_s, up = u"up.txt"_s;
        QTest::newRow("get onto a local file: never replaced")
            << Failure{false, {}, ip, ip, {}, Got::LocalExists};
        QTest::newRow("get: no remote file")
            << Failure{false, {}, u"missing.txt"_s, fresh, {}, Got::NoRemoteFile};
        QTest::newRow("get: no remote folder")
            << Failure{false, {}, u"/no/ipdata.txt"_s, fresh, {}, Got::NoRemoteFile};
        QTest::newRow("get: remote folder") << Failure{false, {}, u"/www/"_s, fresh, {}, Got::Broken};
        QTest::newRow("get: empty remote path") << Failure{false, {}, {}, fresh, {}, Got::Broken};
        QTest::newRow("get: no local folder")
            << Failure{false, {}, ip, u"nowhere/new.txt"_s, {}, Got::Broken};
        QTest::newRow("get: larger than the cap") << Failure{false, u"cap"_s, ip, fresh, {}, Got::Broken};
        const QString connect = u"InternetConnect:GetLastError="_s;
        for (const bool put : {false, true}) {
            const char *tag = put ? "put" : "get";
            const QString local = put ? up : fresh;
            QTest::addRow("%s: wrong password", tag) << Failure{put, u"password"_s, ip, local, connect + u"67"_s};
            QTest::addRow("%s: nothing listens", tag) << Failure{put, u"nobody"_s, ip, local, connect + u"7"_s};
            QTest::addRow("%s: command in password", tag) << Failure{put, u"command"_s, ip, local, connect + u"43"_s};
            QTest::addRow("%s: never greeted", tag) << Failure{put, u"mute"_s, ip, local, connect + u"28"_s};
            QTest::addRow("%s: TLS required, none offered", tag)
                << Failure{put, u"no tls"_s, ip, local, connect + u"64"_s};
            QTest::addRow("%s: certificate not trusted", tag)
                << Failure{put, u"untrusted"_s, ip, local, connect + u"60"_s};
            QTest::addRow("%s: certificate for another name", tag)
                << Failure{put, u"other-name"_s, ip, local, connect + u"60"_s};
        }
        const QString refused = u"FtpPutFile:GetLastError="_s;
        QTest::newRow("put: no remote folder") << Failure{true, {}, u"/no/ipdata.txt"_s, up, refused + u"25"_s};
        QTest::newRow("put: remote path is a folder") << Failure{true, {}, u"/www/"_s, up, refused + u"3"_s};
        QTest::newRow("put: no local file") << Failure{true, {}, ip, u"missing.txt"_s, refused + u"37"_s};
    }
    void failure() {
        QFETCH(Failure, f);
        Bench b(f.fault, {4s, 20s, f.fault == u"cap"_s ? 4096 : 1 << 20});
        QTcpServer mute; // never accepts: the kernel completes the handshake, nobody answers
        QVERIFY2(b.server.isRunning(), qPrintable(b.server.errorString()));
        QVERIFY(mute.listen(QHostAddress::LocalHost, 0));
        const QByteArray theirs(65536, 's'), mine(65536, 'u');
        QVERIFY(writeAll(b.srv(u"home/u/ipdata.txt"_s), theirs));
        QVERIFY(writeAll(b.loc(u"ipdata.txt"_s), mine) && writeAll(b.loc(u"up.txt"_s), mine));
        const QString host = f.fault == u"nobody"_s     ? u"127.0.0.1:%1"_s.arg(unusedLocalPort())
                             : f.fault == u"mute"_s ? u"127.0.0.1:%1"_s.arg(mute.serverPort())
                                                    : b.server.hostPort();
        const QString password = f.fault == u"password"_s  ? u"wrong"_s
                                 : f.fault == u"command"_s ? u"secret\r\nDELE ipdata.txt"_s
                                                           : b.server.options().password;
        const QString user = b.server.options().user;
        if (f.upload)
            QCOMPARE(b.client.FtpPut(host, user, password, f.remote, b.loc(f.local)), f.message.isEmpty());
        else
            QCOMPARE(b.client.download(host, user, password, f.remote, b.loc(f.local)), f.got);
        QCOMPARE(b.sink.boxes.size(), f.message.isEmpty() ? 0 : 1);
        for (const Box &box : std::as_const(b.sink.boxes)) {
            QCOMPARE(box.text, f.message);
            QVERIFY(box.text.section(u'=', 1).toInt() != 0);
            QCOMPARE(box.title, f.upload ? u"Zentrow<FtpPut>"_s : u"Zentrow<FtpGet>"_s);
            QCOMPARE(box.style, int(MessageSink::Exclamation));
        }
        QCOMPARE(readAll(b.srv(u"home/u/ipdata.txt"_s)), theirs);
        QCOMPARE(b.localFiles(), (QStringList{u"ipdata.txt"_s, u"up.txt"_s}));
        QCOMPARE(readAll(b.loc(u"ipdata.txt"_s)), mine);
        // A download logs in all the same, so wrong settings show even with a working copy present;
        // without TLS to be had, the user name is never sent.
        QCOMPARE(b.server.verbs().contains(u"USER"_s),
                 QStringList({{}, u"cap"_s, u"password"_s}).contains(f.fault));
    }
};

QTEST_GUILESS_MAIN(tst_ftptransfer)
#include "tst_ftptransfer.moc"
