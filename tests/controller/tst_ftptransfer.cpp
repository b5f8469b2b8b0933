#include "controller/ftptransfer.h"
#include "controller/messagebox.h"
#include "tests/support/ftpserver.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Shown {
    QString text;
    QString title;
    int style;
};

class RecordingSink final : public MessageSink {
public:
    void show(const QString &text, const QString &title, int style) override { shown << Shown{text, title, style}; }
    QList<Shown> shown;
};

// Long enough never to flake on a loaded machine, short enough for a failing test to end.
FtpLimits testLimits() {
    FtpLimits l;
    l.connectTimeout = std::chrono::seconds(10);
    l.transferTimeout = std::chrono::seconds(20);
    return l;
}

QByteArray pseudoRandom(int size) {
    QByteArray out;
    quint32 seed = 2024;
    for (int i = 0; i < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        out.append(char(seed >> 24));
    }
    return out;
}

QString madeDir(const QString &path) {
    QDir().mkpath(path);
    return path;
}

// A server root, a local folder and a recording client, one set per test.
struct Bench {
    explicit Bench(const FtpServer::Options &options = {}, FtpLimits limits = testLimits())
        : root(madeDir(tmp.filePath(u"srv"_s))), local(madeDir(tmp.filePath(u"local"_s))), server(root, options),
          client(sink, limits) {}

    QString serverPath(const QString &rel) const { return QDir(root).filePath(rel); }
    QString localPath(const QString &rel) const { return QDir(local).filePath(rel); }
    bool get(const QString &remote, const QString &localFile, const QString &password = {}) {
        return client.FTPGet(server.hostPort(), server.options().user,
                             password.isNull() ? server.options().password : password, remote, localFile);
    }
    bool put(const QString &remote, const QString &localFile, const QString &password = {}) {
        return client.FtpPut(server.hostPort(), server.options().user,
                             password.isNull() ? server.options().password : password, remote, localFile);
    }
    // Files left in the local folder, hidden ones included: a leftover temporary shows here.
    QStringList localFiles() const { return QDir(local).entryList(QDir::Files | QDir::Hidden | QDir::System); }

    QTemporaryDir tmp;
    QString root;
    QString local;
    FtpServer server;
    RecordingSink sink;
    CurlFtpClient client;
};

bool sawTransfer(const QStringList &verbs) {
    for (const QString &v : {u"RETR"_s, u"STOR"_s, u"EPSV"_s, u"PASV"_s, u"PORT"_s, u"EPRT"_s})
        if (verbs.contains(v))
            return true;
    return false;
}

} // namespace

class TstFtpTransfer : public QObject {
    Q_OBJECT
private slots:
    void roundTripIsByteExact_data();
    void roundTripIsByteExact();
    void remotePathReachesServerUnchanged_data();
    void remotePathReachesServerUnchanged();
    void downloadNeverReplacesLocalFile();
    void refusedDownloadIsSilent_data();
    void refusedDownloadIsSilent();
    void connectFailureShowsOneMessage_data();
    void connectFailureShowsOneMessage();
    void silentServerTimesOut();
    void refusedUploadIsReported_data();
    void refusedUploadIsReported();
};

void TstFtpTransfer::roundTripIsByteExact_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("data file with CR LF") << "off,203.0.113.7,\x95\xC2\x8D\xBD\x92\x86\r\n"_ba;
    QTest::newRow("NUL, ^Z, lone CR and LF, 0xFF") << "a\0b\x1A\rc\nd\xFF\xFE\r\n\r\n"_ba;
    QTest::newRow("300 KB") << pseudoRandom(300 * 1024);
}

void TstFtpTransfer::roundTripIsByteExact() {
    QFETCH(QByteArray, content);
    Bench b;
    QVERIFY2(b.server.isRunning(), qPrintable(b.server.errorString()));
    QVERIFY(testsupport::writeAll(b.localPath(u"up.txt"_s), content));

    QVERIFY(b.put(u"ipdata.txt"_s, b.localPath(u"up.txt"_s)));
    QCOMPARE(testsupport::readAll(b.serverPath(u"ipdata.txt"_s)), content);
    QVERIFY(b.get(u"ipdata.txt"_s, b.localPath(u"down.txt"_s)));
    QCOMPARE(testsupport::readAll(b.localPath(u"down.txt"_s)), content);

    QVERIFY(b.sink.shown.isEmpty());
    QCOMPARE(b.localFiles(), (QStringList{u"down.txt"_s, u"up.txt"_s}));
    // One log-in per call, binary, passive.
    const QStringList cmds = b.server.commands();
    QCOMPARE(b.server.verbs().count(u"USER"_s), 2);
    QCOMPARE(cmds.count(u"TYPE I"_s), 2);
    QCOMPARE(cmds.filter(QRegularExpression(u"^(EPSV|PASV)"_s)).size(), 2);
    QVERIFY(cmds.filter(QRegularExpression(u"^(PORT|EPRT)"_s)).isEmpty());
}

// The log-in directory is /home/u on the server, so absolute and relative paths differ.
void TstFtpTransfer::remotePathReachesServerUnchanged_data() {
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QString>("onDisk"); // below the server root
    QTest::addColumn<QString>("encoding");
    QTest::newRow("relative") << u"ipdata.txt"_s << u"home/u/ipdata.txt"_s << u"utf8"_s;
    QTest::newRow("absolute") << u"/home/u/ipdata.txt"_s << u"home/u/ipdata.txt"_s << u"utf8"_s;
    QTest::newRow("absolute elsewhere") << u"/www/cgi/ipdata.txt"_s << u"www/cgi/ipdata.txt"_s << u"utf8"_s;
    QTest::newRow("parent folder") << u"../ipdata.txt"_s << u"home/ipdata.txt"_s << u"utf8"_s;
    QTest::newRow("blanks, %, #, ?, ;") << u"/www/my file %41#?;.txt"_s << u"www/my file %41#?;.txt"_s
                                        << u"utf8"_s;
    QTest::newRow("japanese in CP932") << u"/公開/表示.txt"_s << u"公開/表示.txt"_s << u"cp932"_s;
}

void TstFtpTransfer::remotePathReachesServerUnchanged() {
    QFETCH(QString, remote);
    QFETCH(QString, onDisk);
    QFETCH(QString, encoding);
    FtpServer::Options o;
    o.loginDir = u"/home/u"_s;
    o.encoding = encoding;
    Bench b(o);
    QVERIFY2(b.server.isRunning(), qPrintable(b.server.errorString()));
    const QString target = b.serverPath(onDisk);
    QVERIFY(QDir().mkpath(QFileInfo(target).path()));
    QVERIFY(QDir().mkpath(b.serverPath(u"home/u"_s)));
    QVERIFY(testsupport::writeAll(b.localPath(u"up.txt"_s), "on,1.2.3.4,\r\n"_ba));

    QVERIFY(b.put(remote, b.localPath(u"up.txt"_s)));
    QCOMPARE(testsupport::readAll(target), "on,1.2.3.4,\r\n"_ba);
    QVERIFY(testsupport::writeAll(target, "off,5.6.7.8,\r\n"_ba));
    QVERIFY(b.get(remote, b.localPath(u"down.txt"_s)));
    QCOMPARE(testsupport::readAll(b.localPath(u"down.txt"_s)), "off,5.6.7.8,\r\n"_ba);
    QVERIFY(b.sink.shown.isEmpty());
    const QStringList cmds = b.server.commands();
    QVERIFY(cmds.contains(u"STOR "_s + remote));
    QVERIFY(cmds.contains(u"RETR "_s + remote));
    QVERIFY(!b.server.verbs().contains(u"CWD"_s));
}

void TstFtpTransfer::downloadNeverReplacesLocalFile() {
    Bench b;
    QVERIFY2(b.server.isRunning(), qPrintable(b.server.errorString()));
    QVERIFY(testsupport::writeAll(b.serverPath(u"ipdata.txt"_s), "on,9.9.9.9,server\r\n"_ba));
    QVERIFY(testsupport::writeAll(b.localPath(u"ipdata.txt"_s), "off,1.1.1.1,local\r\n"_ba));

    QVERIFY(b.get(u"ipdata.txt"_s, b.localPath(u"ipdata.txt"_s)));
    QCOMPARE(testsupport::readAll(b.localPath(u"ipdata.txt"_s)), "off,1.1.1.1,local\r\n"_ba);
    QVERIFY(b.sink.shown.isEmpty());
    QCOMPARE(b.localFiles(), QStringList{u"ipdata.txt"_s});
    // It still logs in, so wrong settings show even with a working copy present.
    const QStringList verbs = b.server.verbs();
    QVERIFY(verbs.contains(u"PASS"_s));
    QVERIFY(!verbs.contains(u"RETR"_s));
}

void TstFtpTransfer::refusedDownloadIsSilent_data() {
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QString>("localFile"); // relative to the local folder
    QTest::addColumn<int>("breakAfter");    // 0: no fault
    QTest::addColumn<qint64>("maxBytes");
    QTest::newRow("no remote file") << u"missing.txt"_s << u"ipdata.txt"_s << 0 << qint64(1 << 20);
    QTest::newRow("remote folder") << u"www/"_s << u"ipdata.txt"_s << 0 << qint64(1 << 20);
    QTest::newRow("control character in path") << u"ip\ndata.txt"_s << u"ipdata.txt"_s << 0 << qint64(1 << 20);
    QTest::newRow("no local folder") << u"ipdata.txt"_s << u"nowhere/ipdata.txt"_s << 0 << qint64(1 << 20);
    QTest::newRow("broken off") << u"ipdata.txt"_s << u"ipdata.txt"_s << 1000 << qint64(1 << 20);
    QTest::newRow("larger than the cap") << u"ipdata.txt"_s << u"ipdata.txt"_s << 0 << qint64(4096);
}

// A refused or broken download shows nothing, returns true and leaves no file at all.
void TstFtpTransfer::refusedDownloadIsSilent() {
    QFETCH(QString, remote);
    QFETCH(QString, localFile);
    QFETCH(int, breakAfter);
    QFETCH(qint64, maxBytes);
    FtpServer::Options o;
    if (breakAfter > 0)
        o.breakAfter = breakAfter;
    FtpLimits limits = testLimits();
    limits.maxDownloadBytes = maxBytes;
    Bench b(o, limits);
    QVERIFY2(b.server.isRunning(), qPrintable(b.server.errorString()));
    QVERIFY(QDir().mkpath(b.serverPath(u"www"_s)));
    QVERIFY(testsupport::writeAll(b.serverPath(u"ipdata.txt"_s), pseudoRandom(64 * 1024)));

    QVERIFY(b.get(remote, b.localPath(localFile)));
    QVERIFY(b.sink.shown.isEmpty());
    QVERIFY(b.localFiles().isEmpty());
    QVERIFY(!QFileInfo::exists(b.localPath(localFile)));
}

void TstFtpTransfer::connectFailureShowsOneMessage_data() {
    QTest::addColumn<bool>("upload");
    QTest::addColumn<QString>("server"); // "ok" for the test server
    QTest::addColumn<QString>("user");   // empty for the right one
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("code");
    for (const bool up : {false, true}) {
        const char *tag = up ? "put" : "get";
        QTest::addRow("%s: wrong password", tag) << up << u"ok"_s << QString() << u"wrong"_s << 67;
        QTest::addRow("%s: unknown user", tag) << up << u"ok"_s << u"nobody"_s << u"secret"_s << 67;
        QTest::addRow("%s: nothing listens", tag) << up << u"refused"_s << QString() << u"secret"_s << 7;
        QTest::addRow("%s: not a host", tag) << up << u"bad host:21"_s << QString() << u"secret"_s << 3;
        QTest::addRow("%s: command in password", tag)
            << up << u"ok"_s << QString() << u"secret\r\nDELE ipdata.txt"_s << 43;
    }
}

// Wrong settings: one message, false, and no transfer tried.
void TstFtpTransfer::connectFailureShowsOneMessage() {
    QFETCH(bool, upload);
    QFETCH(QString, server);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(int, code);
    Bench b;
    QVERIFY2(b.server.isRunning(), qPrintable(b.server.errorString()));
    const QByteArray serverCopy = "on,9.9.9.9,\r\n"_ba;
    QVERIFY(testsupport::writeAll(b.serverPath(u"ipdata.txt"_s), serverCopy));
    QVERIFY(testsupport::writeAll(b.localPath(u"up.txt"_s), "off,1.1.1.1,\r\n"_ba));
    const QString host = server == u"ok"_s        ? b.server.hostPort()
                         : server == u"refused"_s ? u"127.0.0.1:"_s + QString::number(unusedLocalPort())
                                                  : server;
    const QString who = user.isEmpty() ? b.server.options().user : user;

    const bool ok = upload ? b.client.FtpPut(host, who, password, u"ipdata.txt"_s, b.localPath(u"up.txt"_s))
                           : b.client.FTPGet(host, who, password, u"ipdata.txt"_s, b.localPath(u"down.txt"_s));
    QVERIFY(!ok);
    QCOMPARE(b.sink.shown.size(), 1);
    QCOMPARE(b.sink.shown[0].text, u"InternetConnect:GetLastError="_s + QString::number(code));
    QCOMPARE(b.sink.shown[0].title, upload ? u"Zentrow<FtpPut>"_s : u"Zentrow<FtpGet>"_s);
    QCOMPARE(b.sink.shown[0].style, int(MessageSink::Exclamation));
    QVERIFY(!sawTransfer(b.server.verbs()));
    QVERIFY(!b.server.verbs().contains(u"DELE"_s));
    QCOMPARE(testsupport::readAll(b.serverPath(u"ipdata.txt"_s)), serverCopy);
    QCOMPARE(b.localFiles(), QStringList{u"up.txt"_s});
}

// A peer that accepts the connection but never greets: the call ends with a timeout.
void TstFtpTransfer::silentServerTimesOut() {
    QTcpServer mute; // never accepts: the kernel completes the handshake, nobody answers
    QVERIFY(mute.listen(QHostAddress::LocalHost, 0));
    RecordingSink sink;
    FtpLimits limits = testLimits();
    limits.connectTimeout = std::chrono::seconds(3);
    CurlFtpClient client(sink, limits);
    QTemporaryDir tmp;
    QVERIFY(!client.FTPGet(u"127.0.0.1:"_s + QString::number(mute.serverPort()), u"u"_s, u"p"_s, u"ipdata.txt"_s,
                           tmp.filePath(u"ipdata.txt"_s)));
    QCOMPARE(sink.shown.size(), 1);
    QCOMPARE(sink.shown[0].text, u"InternetConnect:GetLastError=28"_s);
    QVERIFY(QDir(tmp.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

void TstFtpTransfer::refusedUploadIsReported_data() {
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QString>("localFile");
    QTest::addColumn<int>("breakAfter");
    QTest::addColumn<int>("code"); // 0: any code but 0
    QTest::newRow("no remote folder") << u"/nowhere/ipdata.txt"_s << u"up.txt"_s << 0 << 25;
    QTest::newRow("remote path is a folder") << u"www/"_s << u"up.txt"_s << 0 << 3;
    QTest::newRow("no local file") << u"ipdata.txt"_s << u"missing.txt"_s << 0 << 37;
    QTest::newRow("broken off") << u"ipdata.txt"_s << u"up.txt"_s << 1000 << 0;
}

// The server refused the file or the transfer broke off: the user is told and the result is false.
void TstFtpTransfer::refusedUploadIsReported() {
    QFETCH(QString, remote);
    QFETCH(QString, localFile);
    QFETCH(int, breakAfter);
    QFETCH(int, code);
    FtpServer::Options o;
    if (breakAfter > 0)
        o.breakAfter = breakAfter;
    Bench b(o);
    QVERIFY2(b.server.isRunning(), qPrintable(b.server.errorString()));
    QVERIFY(QDir().mkpath(b.serverPath(u"www"_s)));
    QVERIFY(testsupport::writeAll(b.localPath(u"up.txt"_s), pseudoRandom(64 * 1024)));

    QVERIFY(!b.put(remote, b.localPath(localFile)));
    QCOMPARE(b.sink.shown.size(), 1);
    const QString prefix = u"FtpPutFile:GetLastError="_s;
    QVERIFY2(b.sink.shown[0].text.startsWith(prefix), qPrintable(b.sink.shown[0].text));
    const int shownCode = b.sink.shown[0].text.mid(prefix.size()).toInt();
    if (code != 0)
        QCOMPARE(shownCode, code);
    else
        QVERIFY(shownCode != 0);
    QCOMPARE(b.sink.shown[0].title, u"Zentrow<FtpPut>"_s);
    QCOMPARE(b.sink.shown[0].style, int(MessageSink::Exclamation));
}

QTEST_GUILESS_MAIN(TstFtpTransfer)
#include "tst_ftptransfer.moc"
