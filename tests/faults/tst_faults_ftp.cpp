// Faults of the FTP peer. Each one ends the call with the right message (or none), leaves the
// local files as they were, and the same client transfers normally right after it.
#include "controller/ftptransfer.h"
#include "controller/messagebox.h"
#include "tests/support/ftpserver.h"
#include "tests/support/scriptedserver.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

class RecordingSink final : public MessageSink {
public:
    void show(const QString &text, const QString &title, int) override { shown << title + u' ' + text; }
    QStringList shown;
};

// Long enough never to flake on a loaded machine; the silent rows wait for them to run out.
FtpLimits faultLimits() {
    FtpLimits l;
    l.connectTimeout = std::chrono::seconds(3);
    l.transferTimeout = std::chrono::seconds(3);
    return l;
}

QByteArray pseudoRandom(int size) {
    QByteArray out;
    quint32 seed = 7;
    for (int i = 0; i < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        out.append(char(seed >> 24));
    }
    return out;
}

// Larger than one socket buffer, so a drop in the middle really falls in the middle.
const QByteArray kContent = "on,203.0.113.7,\r\n"_ba + pseudoRandom(256 * 1024);

// What the scripted server does at one step of the dialogue.
enum class Act {
    Replace, // sends `reply` instead of its answer and goes on
    Close,   // closes the control connection (and a data connection) instead of answering
    Reset,   // the same with a TCP reset
    Silent,  // says nothing more
};

// Steps: greeting, USER, PASS, PWD, passive (EPSV and PASV), TYPE, SIZE, transfer (STOR and
// RETR), data (in the middle of the data), end (the reply after the data).
struct Fault {
    QByteArray step;
    Act act = Act::Replace;
    QByteArray reply;
};

// An FTP server just good enough for a log-in and one transfer, misbehaving at one step.
void dialogue(ScriptedServer &server, ScriptedServer::Socket &c, const Fault &fault) {
    std::unique_ptr<ScriptedServer::Listener> passive;
    // Answers `normal` at `step`, or misbehaves; false when the dialogue ends here.
    auto answer = [&](const QByteArray &step, const QByteArray &normal) {
        if (fault.step != step)
            return c.send(normal);
        switch (fault.act) {
        case Act::Replace:
            return c.send(fault.reply);
        case Act::Close:
            c.close();
            return false;
        case Act::Reset:
            c.reset();
            return false;
        case Act::Silent:
            c.waitForClose();
            return false;
        }
        return false;
    };
    if (!answer("greeting", "220 scripted server\r\n"))
        return;
    while (const auto line = c.readLine()) {
        const QByteArray verb = line->split(' ').constFirst().toUpper();
        bool goOn = true;
        if (verb == "USER") {
            goOn = answer("USER", "331 Password required.\r\n");
        } else if (verb == "PASS") {
            goOn = answer("PASS", "230 Logged in.\r\n");
        } else if (verb == "PWD") {
            goOn = answer("PWD", "257 \"/\" is the current directory.\r\n");
        } else if (verb == "EPSV" || verb == "PASV") {
            passive = server.listen();
            const quint16 p = passive->port();
            goOn = answer("passive", verb == "EPSV"
                                         ? "229 Entering extended passive mode (|||" + QByteArray::number(p) + "|).\r\n"
                                         : "227 Entering passive mode (127,0,0,1," + QByteArray::number(p >> 8) +
                                               ',' + QByteArray::number(p & 0xFF) + ").\r\n");
        } else if (verb == "TYPE") {
            goOn = answer("TYPE", "200 Type set to: Binary.\r\n");
        } else if (verb == "SIZE") {
            goOn = answer("SIZE", "213 " + QByteArray::number(kContent.size()) + "\r\n");
        } else if (verb == "STOR" || verb == "RETR") {
            if (!answer("transfer", "150 File status okay. About to open data connection.\r\n"))
                return;
            if (fault.step == "transfer")
                continue; // a refusal: the client goes on with its next command
            const auto data = passive ? passive->accept() : nullptr;
            if (!data)
                return;
            if (fault.step == "data") {
                if (fault.act == Act::Silent) {
                    c.waitForClose();
                    return;
                }
                // Half of it, then both connections go.
                if (verb == "STOR")
                    data->readSome(kContent.size() / 2);
                else
                    data->send(QByteArrayView(kContent).first(kContent.size() / 2));
                fault.act == Act::Reset ? (data->reset(), c.reset()) : (data->close(), c.close());
                return;
            }
            if (verb == "STOR")
                data->readUntilClosed();
            else
                data->send(kContent);
            data->close();
            goOn = answer("end", "226 Transfer complete.\r\n");
        } else if (verb == "QUIT") {
            c.send("221 Goodbye.\r\n");
            return;
        } else {
            goOn = c.send("502 Command not implemented.\r\n");
        }
        if (!goOn)
            return;
    }
}

QStringList filesIn(const QString &dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

Q_DECLARE_METATYPE(Act)

class TstFaultsFtp : public QObject {
    Q_OBJECT
private slots:
    void scriptedServerFault_data();
    void scriptedServerFault();
    void uploadWithoutPermission();
};

void TstFaultsFtp::scriptedServerFault_data() {
    QTest::addColumn<bool>("upload");
    QTest::addColumn<QByteArray>("step");
    QTest::addColumn<Act>("act");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("message"); // a pattern; empty: no message at all

    const QString connect = u"InternetConnect:GetLastError="_s;
    const QString put = u"FtpPutFile:GetLastError="_s;
    for (const bool up : {false, true}) {
        const char *tag = up ? "put" : "get";
        const QString title = up ? u"Zentrow<FtpPut> "_s : u"Zentrow<FtpGet> "_s;
        // A failed transfer is reported for an upload, silent for a download.
        const bool transferResult = !up;
        auto transferMessage = [&](const QString &code) { return up ? title + put + code : QString(); };

        // Replies the client cannot parse.
        QTest::addRow("%s: greeting is not FTP", tag)
            << up << "greeting"_ba << Act::Replace << "SSH-2.0-OpenSSH_9.2\r\n"_ba << false << title + connect + u"28"_s;
        QTest::addRow("%s: greeting without a line end", tag)
            << up << "greeting"_ba << Act::Replace << "220 ready"_ba << false << title + connect + u"28"_s;
        QTest::addRow("%s: greeting line of 1 MB", tag)
            << up << "greeting"_ba << Act::Replace << QByteArray(1 << 20, '2') << false << title + connect + u"56"_s;
        QTest::addRow("%s: log-in answer not a number", tag)
            << up << "PASS"_ba << Act::Replace << "OK, in you come\r\n"_ba << false << title + connect + u"28"_s;
        QTest::addRow("%s: passive replies without a port", tag)
            << up << "passive"_ba << Act::Replace << "229 Entering passive mode (|||port|)\r\n"_ba << transferResult
            << transferMessage(u"13"_s);
        QTest::addRow("%s: passive port out of range", tag)
            << up << "passive"_ba << Act::Replace << "229 Entering passive mode (|||70000|)\r\n"_ba
            << transferResult << transferMessage(u"13"_s);

        // The connection dropped.
        QTest::addRow("%s: closed at the greeting", tag)
            << up << "greeting"_ba << Act::Close << QByteArray() << false << title + connect + u"56"_s;
        QTest::addRow("%s: closed at the log-in", tag)
            << up << "PASS"_ba << Act::Close << QByteArray() << false << title + connect + u"56"_s;
        QTest::addRow("%s: reset at the log-in", tag)
            << up << "USER"_ba << Act::Reset << QByteArray() << false << title + connect + u"56"_s;
        QTest::addRow("%s: closed before the transfer", tag)
            << up << "passive"_ba << Act::Close << QByteArray() << transferResult << transferMessage(u"56"_s);
        // Sending or receiving, whichever meets the drop first.
        QTest::addRow("%s: closed in the middle of the data", tag)
            << up << "data"_ba << Act::Close << QByteArray() << transferResult << transferMessage(u"(55|56)"_s);
        QTest::addRow("%s: reset in the middle of the data", tag)
            << up << "data"_ba << Act::Reset << QByteArray() << transferResult << transferMessage(u"(55|56)"_s);
        QTest::addRow("%s: closed before confirming the data", tag)
            << up << "end"_ba << Act::Close << QByteArray() << transferResult << transferMessage(u"56"_s);

        // Silence: the time limit ends the call.
        QTest::addRow("%s: silent after the log-in", tag)
            << up << "passive"_ba << Act::Silent << QByteArray() << transferResult << transferMessage(u"28"_s);
        QTest::addRow("%s: silent data connection", tag)
            << up << "data"_ba << Act::Silent << QByteArray() << transferResult << transferMessage(u"28"_s);
    }
    // Refusals of the file only an upload meets.
    QTest::newRow("put: no room on the server") << true << "transfer"_ba << Act::Replace
                                                << "452 Insufficient storage space.\r\n"_ba << false
                                                << u"Zentrow<FtpPut> "_s + put + u"25"_s;
    QTest::newRow("put: data not confirmed") << true << "end"_ba << Act::Replace
                                             << "451 Local error in processing.\r\n"_ba << false
                                             << u"Zentrow<FtpPut> "_s + put + u"18"_s;
}

void TstFaultsFtp::scriptedServerFault() {
    QFETCH(bool, upload);
    QFETCH(QByteArray, step);
    QFETCH(Act, act);
    QFETCH(QByteArray, reply);
    QFETCH(bool, result);
    QFETCH(QString, message);

    QTemporaryDir tmp;
    const QString local = tmp.filePath(u"local"_s);
    const QString root = tmp.filePath(u"srv"_s);
    QVERIFY(QDir().mkpath(local) && QDir().mkpath(root));
    const QString source = QDir(local).filePath(u"up.txt"_s);
    if (upload)
        QVERIFY(testsupport::writeAll(source, kContent));
    const QStringList before = filesIn(local);

    const Fault fault{step, act, reply};
    ScriptedServer peer([&fault](ScriptedServer &s, ScriptedServer::Socket &c) { dialogue(s, c, fault); });
    QVERIFY(peer.isRunning());
    RecordingSink sink;
    CurlFtpClient client(sink, faultLimits());
    const QString host = u"127.0.0.1:"_s + QString::number(peer.port());
    const QString target = QDir(local).filePath(u"ipdata.txt"_s);
    const bool ok = upload ? client.FtpPut(host, u"u"_s, u"p"_s, u"ipdata.txt"_s, source)
                           : client.FTPGet(host, u"u"_s, u"p"_s, u"ipdata.txt"_s, target);

    QCOMPARE(peer.connections(), 1);
    if (message.isEmpty()) {
        QCOMPARE(sink.shown, QStringList());
    } else {
        QCOMPARE(sink.shown.size(), 1);
        const QRegularExpression expected(QRegularExpression::anchoredPattern(message));
        QVERIFY2(expected.match(sink.shown[0]).hasMatch(), qPrintable(sink.shown[0]));
    }
    QCOMPARE(ok, result);
    // Nothing half-written, nothing left over, the source untouched.
    QCOMPARE(filesIn(local), before);
    if (upload)
        QCOMPARE(testsupport::readAll(source), kContent);

    // The same client goes on working.
    FtpServer real(root);
    QVERIFY2(real.isRunning(), qPrintable(real.errorString()));
    QVERIFY(testsupport::writeAll(source, "off,198.51.100.1,\r\n"_ba));
    QVERIFY(client.FtpPut(real.hostPort(), real.options().user, real.options().password, u"ipdata.txt"_s, source));
    QVERIFY(client.FTPGet(real.hostPort(), real.options().user, real.options().password, u"ipdata.txt"_s, target));
    QCOMPARE(testsupport::readAll(target), "off,198.51.100.1,\r\n"_ba);
    QCOMPARE(sink.shown.size(), message.isEmpty() ? 0 : 1);
}

// A real server that refuses the file: the server's copy and the local folder stay as they were.
void TstFaultsFtp::uploadWithoutPermission() {
    QTemporaryDir tmp;
    const QString local = tmp.filePath(u"local"_s);
    const QString root = tmp.filePath(u"srv"_s);
    QVERIFY(QDir().mkpath(local) && QDir().mkpath(root));
    const QByteArray serverCopy = "on,203.0.113.7,\r\n"_ba;
    QVERIFY(testsupport::writeAll(QDir(root).filePath(u"ipdata.txt"_s), serverCopy));
    const QString source = QDir(local).filePath(u"up.txt"_s);
    QVERIFY(testsupport::writeAll(source, "off,198.51.100.1,\r\n"_ba));
    FtpServer::Options o;
    o.readOnly = true;
    FtpServer server(root, o);
    QVERIFY2(server.isRunning(), qPrintable(server.errorString()));
    RecordingSink sink;
    CurlFtpClient client(sink, faultLimits());

    QVERIFY(!client.FtpPut(server.hostPort(), o.user, o.password, u"ipdata.txt"_s, source));
    QCOMPARE(sink.shown, QStringList{u"Zentrow<FtpPut> FtpPutFile:GetLastError=25"_s});
    QVERIFY(server.verbs().contains(u"STOR"_s));
    QCOMPARE(testsupport::readAll(QDir(root).filePath(u"ipdata.txt"_s)), serverCopy);
    QCOMPARE(filesIn(root), QStringList{u"ipdata.txt"_s});
    QCOMPARE(filesIn(local), QStringList{u"up.txt"_s});
}

QTEST_GUILESS_MAIN(TstFaultsFtp)
#include "tst_faults_ftp.moc"
