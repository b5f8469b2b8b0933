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
using namespace testsupport;
using Got = FtpClient::GetStatus;

namespace {

// A server root "srv" that decodes paths as CP932, logs in to /home/u and stores files as 0600, a local
// folder "local", a recording client. `kind`: "no chmod" (the server refuses SITE CHMOD), "no tls" (TLS
// asked of a plain server), or FtpServer's TLS kinds (with TLS).
struct Bench {
    Bench(const QString &kind, FtpLimits limits)
        : server(root(tmp),
                 {.loginDir = u"/home/u"_s,
                  .encoding = u"cp932"_s,
                  .umask = u"077"_s,
                  .perm = kind == u"no chmod"_s ? u"elradfmwT"_s : QString(),
                  .tls = kind.endsWith(u"trusted"_s) || kind == u"other-name"_s ? kind : QString()}),
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
    QStringList local() const { return QDir(loc({})).entryList(QDir::Files | QDir::Hidden | QDir::System); }
    bool put(const QString &host, const QString &password, const QString &remote, const QString &file) {
        return client.FtpPut(host, server.options().user, password, remote, loc(file));
    }
    Got get(const QString &host, const QString &password, const QString &remote, const QString &file) {
        return client.download(host, server.options().user, password, remote, loc(file));
    }

    QTemporaryDir tmp;
    FtpServer server;
    RecordingSink sink;
    CurlFtpClient client;
};

// `fault`: "cap" (one byte less than the remote file), "password", "command" (in the password), "nobody"
// (listening; on a loopback address with a 9), "mute" (never greets), "sign" (in the port), or Bench's kinds.
// `message` empty: none (and true). `got`: what a download finds.
struct Failure {
    QString fault, remote, local, message;
    Got got = Got::Failed;
};

} // namespace

class tst_ftptransfer : public QObject {
    Q_OBJECT
private slots:
    // Up and down byte for byte, the remote path sent as given: relative to the log-in directory or absolute.
    // The upload is made readable for the web server (0644), or left as it is by a server that refuses. The
    // download is exactly as large as the cap.
    void transfer_data() {
        QTest::addColumn<QString>("kind"); // as Bench takes it, or "v6": the server as [IPv6]:port
        QTest::addColumn<QString>("remote");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("relative, CP932") << u""_s << u"ipdata.txt"_s << "off,1.2.3.4,\x95\xC2\x8D\xBD\r\n"_ba;
        QTest::newRow("absolute, NUL, ^Z, lone CR, LF")
            << u""_s << u"/www/a"_s << "a\0b\x1A\rc\nd\xFF\r\n"_ba;
        QTest::newRow("parent, 300 KB")
            << u""_s << u"../a"_s << QByteArray(150000, 0) + QByteArray(150000, 'x');
        QTest::newRow("japanese, blank, %, #, ?") << u""_s << u"/www/表示 %41#?.txt"_s << "on\r\n"_ba;
        QTest::newRow("over TLS") << u"trusted"_s << u"/www/a"_s << "on\r\n"_ba;
        QTest::newRow("SITE CHMOD refused") << u"no chmod"_s << u"a"_s << "on\r\n"_ba;
        QTest::newRow("IPv6 server") << u"v6"_s << u"a"_s << "on\r\n"_ba;
    }
    void transfer() {
        QFETCH(QString, kind);
        QFETCH(QString, remote);
        QFETCH(QByteArray, content);
        Bench b(kind, {10s, 20s, content.size() + 1});
        QVERIFY2(b.server.isRunning(), qPrintable(b.server.errorString()));
        const QString host = kind == u"v6"_s
                                 ? b.server.hostPort().replace(u"127.0.0.1"_s, u"[::ffff:127.0.0.1]"_s)
                                 : b.server.hostPort();
        const QString password = b.server.options().password;
        const QString onDisk =
            b.srv(remote.startsWith(u'/') ? remote : QDir::cleanPath(u"/home/u/"_s + remote));
        QVERIFY(writeAll(b.loc(u"up"_s), content) && b.put(host, password, remote, u"up"_s));
        QCOMPARE(readAll(onDisk), content);
        QCOMPARE(fileMode(onDisk), kind == u"no chmod"_s ? 0600u : 0644u);
        QVERIFY(writeAll(onDisk, content + "2"));
        QCOMPARE(b.get(host, password, remote, u"down"_s), Got::Fetched);
        QCOMPARE(readAll(b.loc(u"down"_s)), content + "2");
        QCOMPARE(b.local() + QStringList(b.sink.boxes.size(), u"box"_s), (QStringList{u"down"_s, u"up"_s}));
        // One log-in per call, passive data connections (active ones fail behind a router).
        const QStringList verbs = b.server.verbs();
        QVERIFY(verbs.count(u"USER"_s) == 2 && !verbs.contains(u"PORT"_s) && !verbs.contains(u"EPRT"_s));
        QVERIFY(verbs.contains(u"SITE"_s));
        QCOMPARE(verbs.count(u"AUTH"_s) + verbs.count(u"PROT"_s), kind == u"trusted"_s ? 4 : 0);
    }

    // A refused download is silent and true; wrong settings and refused uploads show one message and give
    // false. Neither side is changed or left half-written.
    void failure_data() {
        QTest::addColumn<Failure>("f"); // an upload when the tag starts with "put"
        const QString ip = u"ipdata.txt"_s, fresh = u"new.txt"_s, up = u"up.txt"_s;
        const QString connect = u"InternetConnect:GetLastError="_s, refused = u"FtpPutFile:GetLastError="_s;
        QTest::newRow("get onto a local file: never replaced") << Failure{{}, ip, ip, {}, Got::LocalExists};
        QTest::newRow("get: no remote file") << Failure{{}, u"missing.txt"_s, fresh, {}, Got::NoRemoteFile};
        QTest::newRow("get: no remote folder") << Failure{{}, u"/no/a"_s, fresh, {}, Got::NoRemoteFile};
        QTest::newRow("get: remote folder") << Failure{{}, u"/www/"_s, fresh, {}, Got::Broken};
        QTest::newRow("get: empty remote path") << Failure{{}, {}, fresh, {}, Got::Broken};
        QTest::newRow("get: no local folder") << Failure{{}, ip, u"nowhere/new.txt"_s, {}, Got::Broken};
        QTest::newRow("get: larger than the cap") << Failure{u"cap"_s, ip, fresh, {}, Got::Broken};
        QTest::newRow("put: no remote folder") << Failure{{}, u"/no/a"_s, up, refused + u"25"_s};
        QTest::newRow("put: remote path is a folder") << Failure{{}, u"/www/"_s, up, refused + u"3"_s};
        QTest::newRow("put: no local file") << Failure{{}, ip, u"missing.txt"_s, refused + u"37"_s};
        // Server settings gone wrong, each row "name|fault|the code shown".
        const QString settings =
            u"wrong password|password|67;nothing listens|nobody|7;command in password|command|43;"
            u"never greeted|mute|28;sign in the port|sign|3;TLS required, none offered|no tls|64;"
            u"certificate not trusted|untrusted|60;certificate for another name|other-name|60"_s;
        for (const char *tag : {"get", "put"})
            for (const QString &row : settings.split(u';')) {
                const QStringList r = row.split(u'|');
                QTest::addRow("%s: %s", tag, qPrintable(r[0]))
                    << Failure{r[1], ip, tag[0] == 'p' ? up : fresh, connect + r[2]};
            }
    }
    void failure() {
        QFETCH(Failure, f);
        const bool upload = QByteArray(QTest::currentDataTag()).startsWith("put");
        Bench b(f.fault, {4s, 20s, f.fault == u"cap"_s ? 65535 : 1 << 20});
        QTcpServer mute; // never accepts: the kernel completes the handshake, nobody answers
        QVERIFY2(b.server.isRunning() && mute.listen(QHostAddress::LocalHost, 0),
                 qPrintable(b.server.errorString()));
        const QByteArray theirs(65536, 's'), mine(65536, 'u');
        QVERIFY(writeAll(b.srv(u"home/u/ipdata.txt"_s), theirs));
        QVERIFY(writeAll(b.loc(u"ipdata.txt"_s), mine) && writeAll(b.loc(u"up.txt"_s), mine));
        const QString host = f.fault == u"nobody"_s ? u"127.9.0.1:%1"_s.arg(unusedLocalPort())
                             : f.fault == u"mute"_s ? u"127.0.0.1:%1"_s.arg(mute.serverPort())
                             : f.fault == u"sign"_s ? b.server.hostPort().replace(u':', u":+"_s)
                                                    : b.server.hostPort();
        const QString password = f.fault == u"password"_s  ? u"wrong"_s
                                 : f.fault == u"command"_s ? u"secret\r\nDELE ipdata.txt"_s
                                                           : b.server.options().password;
        if (upload)
            QCOMPARE(b.put(host, password, f.remote, f.local), f.message.isEmpty());
        else
            QCOMPARE(b.get(host, password, f.remote, f.local), f.got);
        QStringList shown;
        for (const Box &box : std::as_const(b.sink.boxes))
            shown << box.text << box.title << QString::number(box.style);
        const QStringList box{f.message, upload ? u"Zentrow<FtpPut>"_s : u"Zentrow<FtpGet>"_s, u"48"_s};
        QCOMPARE(shown, f.message.isEmpty() ? QStringList() : box); // 48: an exclamation box
        QCOMPARE(readAll(b.srv(u"home/u/ipdata.txt"_s)), theirs);
        QCOMPARE(b.local(), (QStringList{u"ipdata.txt"_s, u"up.txt"_s}));
        QCOMPARE(readAll(b.loc(u"ipdata.txt"_s)), mine);
        // A download logs in all the same, so wrong settings show even with a working copy present;
        // without TLS to be had, the user name is never sent.
        QCOMPARE(b.server.verbs().contains(u"USER"_s),
                 QStringList({{}, u"cap"_s, u"password"_s}).contains(f.fault));
    }
};

QTEST_GUILESS_MAIN(tst_ftptransfer)
#include "tst_ftptransfer.moc"
