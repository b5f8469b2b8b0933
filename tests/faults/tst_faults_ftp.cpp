// Faults of the FTP peer. Each one ends the call with the right message (or none), leaves the
// local files as they were, and the same client transfers normally right after it.
#include "controller/ftptransfer.h"
#include "tests/support/recordingsink.h"
#include "tests/support/scriptedserver.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QHash>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;

namespace {

// Larger than the socket buffers, so a close in the middle of the data falls in the middle.
const QByteArray kContent = "on,203.0.113.7,\r\n"_ba + QByteArray("0123456789abcdef").repeated(1 << 14);

// An FTP server just good enough for a log-in and one transfer. At `step` (a verb, "greeting",
// "transfer", "data" or "end": the reply after the data) it sends `reply` instead of its answer and
// goes on, or hangs up when `reply` is null; `answer` is false once the dialogue ends.
void dialogue(ScriptedServer &server, ScriptedServer::Socket &c, const QByteArray &step,
              const QByteArray &reply) {
    auto answer = [&](const QByteArray &at, const QByteArray &normal) {
        return at != step ? c.send(normal) : !reply.isNull() && c.send(reply);
    };
    const QHash<QByteArray, QByteArray> replies{
        {"USER", "331 Password required.\r\n"},
        {"PASS", "230 Logged in.\r\n"},
        {"EPSV", "229 Entering passive mode (|||" + QByteArray::number(server.port()) + "|)\r\n"},
        {"TYPE", "200 Binary.\r\n"},
        {"QUIT", "221 Goodbye.\r\n"}};
    bool goOn = answer("greeting", "220 scripted server\r\n");
    for (std::optional<QByteArray> line; goOn && (line = c.readLine());) {
        const QByteArray verb = line->split(' ').constFirst().toUpper();
        if (verb != "STOR" && verb != "RETR") {
            goOn = answer(verb, replies.value(verb, "502 Command not implemented.\r\n")) && verb != "QUIT";
            continue;
        }
        goOn = answer("transfer", "150 About to open data connection.\r\n");
        // The client connected for the data before; after a refusal it goes on with its next command.
        const auto data = goOn ? server.accept() : nullptr;
        if (!data || step == "transfer")
            continue;
        // In the middle of the data, both connections go.
        const qsizetype size = step == "data" ? kContent.size() / 2 : kContent.size();
        if (verb == "STOR")
            data->read(size);
        else
            data->send(QByteArrayView(kContent).first(size));
        if (step == "data")
            return;
        data->close();
        goOn = answer("end", "226 Transfer complete.\r\n");
    }
}

} // namespace

class TstFaultsFtp : public QObject {
    Q_OBJECT
private slots:
    void scriptedServerFault_data() {
        QTest::addColumn<QByteArray>("step");  // as dialogue() takes them
        QTest::addColumn<QByteArray>("reply"); // sent at that step instead; null: the server hangs up
        QTest::addColumn<QString>("message");  // the upload's, a pattern; a download's only before the log-in
        const QString connect = u"InternetConnect:GetLastError="_s, put = u"FtpPutFile:GetLastError="_s;
        const std::tuple<const char *, QByteArray, QByteArray, QString> faults[] = {
            {"greeting line of 1 MB", "greeting", QByteArray(1 << 20, '2'), connect + u"56"_s},
            {"passive reply without a port", "EPSV", "229 Passive mode (|||port|)\r\n", put + u"13"_s},
            {"passive reply without a line end", "EPSV", "229 Passive mode (|||", put + u"28"_s},
            {"refused: no room on the server", "transfer", "452 No room.\r\n", put + u"25"_s},
            {"closed in the middle of the data", "data", {}, put + u"(55|56)"_s},
            {"closed before confirming the data", "end", {}, put + u"56"_s},
            {"data not confirmed", "end", "451 Local error.\r\n", put + u"18"_s}};
        for (const auto &[name, step, reply, message] : faults)
            QTest::newRow(name) << step << reply << message;
    }
    // A download, then an upload, each meeting the fault.
    void scriptedServerFault() {
        QFETCH(QByteArray, step);
        QFETCH(QByteArray, reply);
        QFETCH(QString, message);
        QTemporaryDir tmp;
        const QString source = tmp.filePath(u"up.txt"_s), target = tmp.filePath(u"ipdata.txt"_s);
        QVERIFY(testsupport::writeAll(source, kContent));
        ScriptedServer peer([&](ScriptedServer &s, ScriptedServer::Socket &c) {
            dialogue(s, c, s.connections() <= 2 ? step : QByteArray(), reply);
        });
        QVERIFY(peer.isRunning());
        RecordingSink sink;
        // Long enough never to flake on a loaded machine; the silent rows wait for them to run out.
        CurlFtpClient client(sink, {3s, 3s});
        const QString host = u"127.0.0.1:%1"_s.arg(peer.port());
        auto get = [&] { return client.download(host, u"u"_s, u"p"_s, u"ipdata.txt"_s, target); };
        auto put = [&] { return client.FtpPut(host, u"u"_s, u"p"_s, u"ipdata.txt"_s, source); };
        const bool beforeLogIn = message.startsWith(u"InternetConnect"_s);
        QCOMPARE(get(), beforeLogIn ? FtpClient::GetStatus::Failed : FtpClient::GetStatus::Broken);
        QVERIFY(!put());
        QString shown;
        for (const Box &b : std::as_const(sink.boxes))
            shown += b.title + u' ' + b.text + u'\n';
        const QString expected = (beforeLogIn ? u"Zentrow<FtpGet> "_s + message + u'\n' : QString()) +
                                 u"Zentrow<FtpPut> "_s + message + u'\n';
        QVERIFY2(QRegularExpression(u'^' + expected + u'$').match(shown).hasMatch(), qPrintable(shown));
        // Nothing half-written, nothing left over, the source untouched.
        QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"up.txt"_s});
        QCOMPARE(testsupport::readAll(source), kContent);
        // The same client goes on working.
        QVERIFY(put() && get() == FtpClient::GetStatus::Fetched);
        QCOMPARE(testsupport::readAll(target), kContent);
        QCOMPARE(peer.connections(), 4);
        QCOMPARE(sink.boxes.size(), beforeLogIn ? 2 : 1);
    }
};

QTEST_GUILESS_MAIN(TstFaultsFtp)
#include "tst_faults_ftp.moc"
