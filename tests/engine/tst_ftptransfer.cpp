#include "engine/ftptransfer.h"
#include "tests/support/ftpserver.h"
#include "tests/support/recordingsink.h"
#include "tests/support/scriptedserver.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;
using namespace testsupport;
using Got = FtpClient::GetStatus;

namespace {

// Binary files (NUL, ^Z, lone CR and LF, 0xFF), larger than one write of libcurl's.
const QByteArray kTheirs = QByteArray("s\0\x1A\r\n\xFF\x95\xC2", 8).repeated(8192), kMine = kTheirs.toUpper();

// A server root "srv" (paths in CP932, log-in at /home/u, files stored 0600), a folder "local", a client.
// `kind`: "no chmod" (refused), "no tls" (asked of a plain server), FtpServer's TLS kinds (with TLS) or
// its faults (with a "-").
struct Bench {
    Bench(const QString &kind, FtpLimits limits)
        : server(root(tmp), {.loginDir = u"/home/u"_s,
                             .encoding = u"cp932"_s,
                             .umask = u"077"_s,
                             .perm = kind == u"no chmod"_s ? u"elradfmwT"_s : QString(),
                             .tls = kind.endsWith(u"trusted"_s) || kind == u"other-name"_s ? kind : QString(),
                             .fault = kind.contains(u'-') && kind != u"other-name"_s ? kind : QString()}),
          client(sink, limits) {
        qputenv("SSL_CERT_FILE", QFile::encodeName(server.trustFile())); // as the README says
        client.setTls(kind == u"no tls"_s || !server.trustFile().isEmpty());
    }
    static QString root(const QTemporaryDir &tmp) {
        for (const QString &folder : {u"srv/home/u"_s, u"srv/www"_s, u"local"_s})
            QDir(tmp.path()).mkpath(folder);
        return tmp.filePath(u"srv"_s);
    }
    QString loc(const QString &rel) const { return tmp.filePath(u"local/"_s + rel); }
    // Hidden ones included: a leftover temporary file shows here.
    QStringList local() const { return QDir(loc({})).entryList(QDir::Files | QDir::Hidden | QDir::System); }

    QTemporaryDir tmp;
    FtpServer server;
    RecordingSink sink;
    CurlFtpClient client;
};

// `fault`: Bench's kinds, "v6" (the server as [IPv6]:port), "cap" (a byte less than the file), "password",
// "command" (in the password), "nobody" (listening, at hosts with 9 and hex letters), "sign" (in the port),
// "name" (the server as LocalHost). `message`: its first line, "|", a word of the line that says what to do.
struct Call {
    QString fault{}, remote{}, local{}, message{};
    Got got = Got::Fetched;
};

} // namespace

class tst_ftptransfer : public QObject {
    Q_OBJECT
private slots:
    // A transfer moves the file byte for byte, the remote path sent as given (relative to the log-in folder
    // or absolute), a download as large as the cap, and makes an upload readable for the web server (0644)
    // unless the server refuses or never answers. A refused download is silent and true; wrong settings,
    // broken downloads and refused uploads show one message, its code and what to do, and give false. A
    // server that never answers QUIT or SITE costs their short bounds only. Neither side is changed or left
    // half-written.
    void call_data() {
        QTest::addColumn<Call>("c"); // an upload when the tag starts with "put"
        const QString ip = u"ipdata.txt"_s, fresh = u"working.txt"_s, up = u"up.txt"_s;
        const QString connect = u"InternetConnect:GetLastError="_s, refused = u"FtpPutFile:GetLastError="_s;
        // Server settings gone wrong: "name|fault|the code shown|a word of what to do".
        const QString settings =
            u"wrong password|password|67|パスワード;nothing listens|nobody|7|ポート;command in "
            u"password|command|43|"
            u"制御文字;sign in the port|sign|3|ポート番号;TLS required, none offered|no tls|64|FTPS;"
            u"certificate not trusted|untrusted|60|SSL_CERT_FILE;certificate for another name|other-name|60|"
            u"SSL_CERT_FILE;clear-text log-in refused (pure-ftpd's 421)|user-421|67|TLS"_s;
        for (const char *tag : {"get", "put"}) {
            const QString local = tag[0] == 'p' ? up : fresh;
            QTest::addRow("%s: relative path", tag) << Call{{}, ip, local};
            QTest::addRow("%s: absolute path", tag) << Call{{}, u"/www/a"_s, local};
            QTest::addRow("%s: parent folder", tag) << Call{{}, u"../a"_s, local};
            QTest::addRow("%s: japanese, blank, %%, #, ?", tag) << Call{{}, u"/www/表示 %41#?.txt"_s, local};
            QTest::addRow("%s: over TLS", tag) << Call{u"trusted"_s, u"/www/a"_s, local};
            QTest::addRow("%s: IPv6 server", tag) << Call{u"v6"_s, ip, local};
            QTest::addRow("%s: server by name", tag) << Call{u"name"_s, ip, local};
            QTest::addRow("%s: QUIT never answered", tag) << Call{u"quit-silent"_s, ip, local};
            for (const QString &row : settings.split(u';')) {
                const QStringList r = row.split(u'|');
                QTest::addRow("%s: %s", tag, qPrintable(r[0]))
                    << Call{r[1], ip, local, connect + r[2] + u'|' + r[3], Got::Failed};
            }
        }
        QTest::newRow("put: SITE CHMOD refused") << Call{u"no chmod"_s, u"/www/a"_s, up};
        QTest::newRow("put: SITE never answered") << Call{u"site-silent"_s, u"/www/a"_s, up};
        QTest::newRow("put: no remote folder") << Call{{}, u"/no/a"_s, up, refused + u"25|フォルダ"_s};
        QTest::newRow("put: remote path is a folder")
            << Call{{}, u"/www/"_s, up, refused + u"3|ファイル名"_s};
        QTest::newRow("put: no local file") << Call{{}, ip, u"missing.txt"_s, refused + u"37|作業コピー"_s};
        QTest::newRow("put: passive port closed")
            << Call{u"pasv-closed"_s, ip, up, refused + u"7|パッシブ"_s};
        const QString broken = u"FtpGetFile:GetLastError="_s;
        QTest::newRow("get onto a local file: never replaced") << Call{{}, ip, ip, {}, Got::LocalExists};
        QTest::newRow("get: no remote file") << Call{{}, u"missing.txt"_s, fresh, {}, Got::NoRemoteFile};
        QTest::newRow("get: no remote folder") << Call{{}, u"/no/a"_s, fresh, {}, Got::NoRemoteFile};
        QTest::newRow("get: remote folder")
            << Call{{}, u"/www/"_s, fresh, broken + u"3|ファイル名"_s, Got::Broken};
        QTest::newRow("get: empty remote path")
            << Call{{}, {}, fresh, broken + u"3|ファイル名"_s, Got::Broken};
        QTest::newRow("get: no local folder")
            << Call{{}, ip, u"nowhere/working.txt"_s, broken + u"23|作業コピー"_s, Got::Broken};
        QTest::newRow("get: larger than the cap")
            << Call{u"cap"_s, ip, fresh, broken + u"63|1 MiB"_s, Got::Broken};
        QTest::newRow("get: passive port closed")
            << Call{u"pasv-closed"_s, ip, fresh, broken + u"7|パッシブ"_s, Got::Broken};
    }
    void call() {
        QFETCH(Call, c);
        const bool put = QByteArray(QTest::currentDataTag()).startsWith("put");
        const bool done = c.message.isEmpty() && c.got == Got::Fetched;
        Bench b(c.fault, {4s, 20s, kTheirs.size() - (c.fault == u"cap"_s ? 1 : 0)});
        QVERIFY2(b.server.isRunning(), qPrintable(b.server.errorString()));
        const QString onDisk = b.tmp.filePath(
            u"srv"_s + (c.remote.startsWith(u'/') ? c.remote : QDir::cleanPath(u"/home/u/"_s + c.remote)));
        QVERIFY(writeAll(b.tmp.filePath(u"srv/home/u/ipdata.txt"_s), kTheirs) &&
                (put || !done || writeAll(onDisk, kTheirs)));
        QVERIFY(writeAll(b.loc(u"ipdata.txt"_s), kMine) && writeAll(b.loc(u"up.txt"_s), kMine));
        const QByteArray before = readAll(onDisk);
        const QString port = b.server.hostPort().section(u':', 1);
        const QString host =
            c.fault == u"nobody"_s
                ? (put ? u"[::ffff:7f09:Aa]:"_s : u"127.9.0.1:"_s) + QString::number(unusedLocalPort())
            : c.fault == u"sign"_s ? u"127.0.0.1:+"_s + port
            : c.fault == u"name"_s ? u"LocalHost:"_s + port
            : c.fault == u"v6"_s   ? (put ? u"[::FFFF:"_s : u"[::ffff:"_s) + u"127.0.0.1]:"_s + port
                                   : b.server.hostPort();
        const QString password = c.fault == u"password"_s  ? u"wrong"_s
                                 : c.fault == u"command"_s ? u"secret\r\nDELE ipdata.txt"_s
                                                           : b.server.options().password;
        const QString user = b.server.options().user;
        QElapsedTimer took;
        took.start();
        if (put)
            QCOMPARE(b.client.FtpPut(host, user, password, c.remote, b.loc(c.local)), c.message.isEmpty());
        else
            QCOMPARE(b.client.download(host, user, password, c.remote, b.loc(c.local)), c.got);
        QVERIFY(took.elapsed() < 15000); // the connection's 4 s, QUIT's 3 s or SITE's 5 s, never the 20 s
        QStringList shown;
        for (const Box &box : std::as_const(b.sink.boxes))
            shown << box.text.section(u"\r\n"_s, 0, 0) << box.title << QString::number(box.style);
        const QStringList box{c.message.section(u'|', 0, 0),
                              put ? u"Zentrow<FtpPut>"_s : u"Zentrow<FtpGet>"_s, u"48"_s};
        QCOMPARE(shown, c.message.isEmpty() ? QStringList() : box); // 48: an exclamation box
        if (!c.message.isEmpty())
            QVERIFY(b.sink.boxes[0].text.section(u"\r\n"_s, 1).contains(c.message.section(u'|', 1)));
        QCOMPARE(readAll(onDisk), put && done ? kMine : before);
        QCOMPARE(readAll(b.loc(u"ipdata.txt"_s)) + readAll(b.loc(u"up.txt"_s)), kMine + kMine);
        const QStringList kept{u"ipdata.txt"_s, u"up.txt"_s};
        QCOMPARE(b.local(), !put && done ? kept + QStringList{u"working.txt"_s} : kept);
        QCOMPARE(readAll(b.loc(u"working.txt"_s)), !put && done ? kTheirs : QByteArray());
        if (put && done)
            QCOMPARE(fileMode(onDisk),
                     c.fault == u"no chmod"_s || c.fault == u"site-silent"_s ? 0600u : 0644u);
        // One log-in per call, with FTPS protecting the log-in and the data; without TLS, no user name
        // sent; onto a working copy, none: it would not be replaced.
        const QStringList verbs = b.server.verbs();
        const bool logsIn = (!c.message.startsWith(u"InternetConnect"_s) || c.fault == u"password"_s ||
                             c.fault == u"user-421"_s) &&
                            c.got != Got::LocalExists;
        QCOMPARE(verbs.count(u"USER"_s), logsIn ? 1 : 0);
        QCOMPARE(verbs.count(u"PROT"_s), c.fault == u"trusted"_s ? 1 : 0);
    }
    // Faults no real server makes on request, met by a download and then an upload, each on a log-in
    // of its own: both end in time with their messages, nothing is left half-written, and the same
    // client transfers again right after.
    void brokenPeer_data() {
        QTest::addColumn<QByteArray>("step");  // a verb, "data" (halfway through it) or "end" (after it)
        QTest::addColumn<QByteArray>("reply"); // sent there instead of the answer; none: the peer hangs up
        QTest::addColumn<QString>("code");     // of the upload's message, or either of two
        QTest::newRow("silent after the log-in") << "EPSV"_ba
                                                 << "229 Passive (|||"_ba << u"28"_s;
        QTest::newRow("closed in the middle of the data") << "data"_ba << QByteArray() << u"55|56"_s;
        QTest::newRow("closed before confirming the data") << "end"_ba << QByteArray() << u"56"_s;
        QTest::newRow("data not confirmed (451)") << "end"_ba
                                                  << "451 Local error.\r\n"_ba << u"18"_s;
    }
    void brokenPeer() {
        QFETCH(QByteArray, step);
        QFETCH(QByteArray, reply);
        QFETCH(QString, code);
        ScriptedServer peer([&](ScriptedServer &s, ScriptedServer::Socket &c) {
            const bool breaks = s.connections() <= 2;
            auto answer = [&](const QByteArray &at, const QByteArray &normal) {
                return breaks && at == step ? !reply.isNull() && c.send(reply) : c.send(normal);
            };
            const QHash<QByteArray, QByteArray> replies{
                {"USER", "331 Password.\r\n"},
                {"PASS", "230 In.\r\n"},
                {"TYPE", "200 Binary.\r\n"},
                {"EPSV", "229 Passive (|||" + QByteArray::number(s.port()) + "|)\r\n"},
                {"QUIT", "221 Bye.\r\n"}};
            bool on = c.send("220 scripted\r\n");
            for (std::optional<QByteArray> line; on && (line = c.readLine());) {
                const QByteArray verb = line->split(' ').constFirst().toUpper();
                if (verb != "STOR" && verb != "RETR") {
                    on = answer(verb, replies.value(verb, "502 Not implemented.\r\n")) && verb != "QUIT";
                    continue;
                }
                c.send("150 Data.\r\n");
                std::optional<ScriptedServer::Socket> data = s.accept();
                const qsizetype size = kTheirs.size() / (breaks && step == "data" ? 2 : 1);
                on = data &&
                     (verb == "STOR" ? data->read(size).size() == size : data->send(kTheirs.first(size)));
                if (data)
                    data->close();
                on = on && !(breaks && step == "data") && answer("end", "226 Done.\r\n");
            }
        });
        RecordingSink sink;
        CurlFtpClient client(sink, {3s, 3s});
        QTemporaryDir tmp;
        const QString up = tmp.filePath(u"up.txt"_s), host = u"127.0.0.1:%1"_s.arg(peer.port());
        QVERIFY(peer.isRunning() && writeAll(up, kMine));
        auto get = [&] { return client.download(host, u"u"_s, u"p"_s, u"a"_s, tmp.filePath(u"got.txt"_s)); };
        auto put = [&] { return client.FtpPut(host, u"u"_s, u"p"_s, u"a"_s, up); };
        QVERIFY(get() == Got::Broken && !put() && sink.boxes.size() == 2);
        QVERIFY(sink.boxes[0].text.startsWith(u"FtpGetFile:GetLastError="_s));
        const QString shown = sink.boxes[1].text.section(u"\r\n"_s, 0, 0);
        QVERIFY2(code.split(u'|').contains(shown.section(u"FtpPutFile:GetLastError="_s, 1)),
                 qPrintable(shown));
        QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"up.txt"_s});
        QVERIFY(readAll(up) == kMine && put() && get() == Got::Fetched &&
                readAll(tmp.filePath(u"got.txt"_s)) == kTheirs);
    }
};

QTEST_GUILESS_MAIN(tst_ftptransfer)
#include "tst_ftptransfer.moc"
