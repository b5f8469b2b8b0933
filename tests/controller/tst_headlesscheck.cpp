// zentrow --check as a service runs it: a process with no display, on a program folder, against
// the real FTP server and the address-echo CGI under a real web server.
#include "settings/codepage.h"
#include "settings/settingsstore.h"
#include "tests/support/cgiserver.h"
#include "tests/support/ftpserver.h"
#include "tests/support/scriptedserver.h"
#include "tests/support/testsupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace Qt::Literals::StringLiterals;
using namespace testsupport;

namespace {

struct Run {
    int status;
    QString out, err;
};

// The program with no display at all, as a systemd timer starts it.
QProcessEnvironment headless() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
        env.remove(name);
    return env;
}

Run zentrow(const QStringList &args) {
    QProcess p;
    p.setProcessEnvironment(headless());
    p.start(QStringLiteral(ZENTROW_EXE), args);
    if (!p.waitForFinished(60000))
        p.kill();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

// A program folder whose zent.ini points at the servers: automatic mode, the CGI.
struct Folder {
    QTemporaryDir dir, site, www;
    std::unique_ptr<FtpServer> ftp = std::make_unique<FtpServer>(site.path());
    const QString ftpHost = ftp->hostPort();
    EchoCgiServer web{www.path()};
    QStringList check() const { return {u"--check"_s, u"--program-folder"_s, dir.path()}; }
    QString file(const QString &name) const { return dir.filePath(name); }
    QByteArray serverFile() const { return readAll(site.filePath(u"ipdata.txt"_s)); }
    void settings(const QString &lastWanIp, int chkAuto = 1, int ipChk = 0, const QString &ipAdd = {}) {
        SettingsStore store(dir.path());
        SettingsRecord &rec = store.record();
        rec.strFtpSv = ftpHost;
        rec.strFtpUser = u"zentrow"_s;
        rec.strFtpPass = u"secret"_s;
        rec.strFtpPath = u"/ipdata.txt"_s;
        rec.strIpAdd = ipAdd.isEmpty() ? web.baseUrl() + u"nomrel.cgi"_s : ipAdd;
        rec.intChkAuto = qint16(chkAuto);
        rec.intIpChk = qint16(ipChk);
        rec.strWanIp = rec.strLastWanIp = lastWanIp;
        store.SaveSetData();
        store.SaveConData();
    }
};

} // namespace

class tst_headlesscheck : public QObject {
    Q_OBJECT
private slots:
    // One check after another, each a process of its own; what it says, its status, what reaches the
    // server, zent.ini and the log.
    void checks() {
        Folder f;
        QVERIFY2(f.web.serve(), qPrintable(f.web.errorText()));
        QVERIFY(QFile::copy(QStringLiteral(ZENTROW_SOURCE "/gateway/nomrel.cgi"), f.www.filePath(u"nomrel.cgi"_s)));
        QVERIFY(writeAll(f.site.filePath(u"ipdata.txt"_s), "off,198.51.100.1,closed\r\n"));
        f.settings(u"198.51.100.1"_s);
        // A working copy left by a killed run, and a log at its cap.
        QVERIFY(writeAll(f.file(u"ipdata.txt"_s), "on,198.51.100.1,stale\r\n"));
        QVERIFY(writeAll(f.file(u"zentrow.log"_s), QByteArray((1 << 20) - 10, 'x')));
        struct Step {
            QString before;
            int status;
            QString line;
        };
        const QList<Step> steps{
            {{}, 0, u"cgi 127.0.0.1 published"_s},
            {{}, 0, u"cgi 127.0.0.1 unchanged"_s},
            {u"198.51.100.2,down"_s, 3, u"cgi 127.0.0.1 upload failed: InternetConnect:GetLastError=7"_s},
            {u"198.51.100.2,up"_s, 0, u"cgi 127.0.0.1 published"_s},
            {u"198.51.100.3,manual"_s, 4, u"cgi 127.0.0.1 not uploaded: manual mode"_s},
        };
        for (const Step &step : steps) {
            const QStringList what = step.before.split(u',');
            if (what.value(1) == u"down"_s) {
                f.ftp.reset();
            } else if (what.value(1) == u"up"_s) {
                FtpServer::Options back;
                back.port = f.ftpHost.section(u':', 1);
                f.ftp = std::make_unique<FtpServer>(f.site.path(), back);
            }
            if (!step.before.isEmpty())
                f.settings(what[0], what[1] == u"manual"_s ? 0 : 1);
            const qsizetype stored = f.ftp ? f.ftp->verbs().count(u"STOR"_s) : 0;
            const Run run = zentrow(f.check());
            QCOMPARE(run.out, step.line + u'\n');
            QCOMPARE(run.status, step.status);
            QVERIFY(!QFileInfo::exists(f.file(u"ipdata.txt"_s)));
            const QByteArray ini = readAll(f.file(u"zent.ini"_s));
            // Recorded as published only when it was.
            QVERIFY(ini.contains("WanIp=" + (step.status ? what[0] : u"127.0.0.1"_s).toLatin1() + "\r\n"));
            if (f.ftp)
                QCOMPARE(f.ftp->verbs().count(u"STOR"_s), stored + (step.line.endsWith(u"published"_s) ? 1 : 0));
        }
        QCOMPARE(f.serverFile(), "off,127.0.0.1,closed\r\n"_ba); // the server's state, not the stale copy's
        QVERIFY(steps[2].line.contains(u"GetLastError=7"_s));
        const QByteArray log = readAll(f.file(u"zentrow.log"_s));
        QCOMPARE(log.count('\n'), steps.size());
        for (const Step &step : steps)
            QVERIFY(log.contains(' ' + step.line.toUtf8() + '\n'));
        QVERIFY(QRegularExpression(u"^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d "_s)
                    .match(QString::fromUtf8(log))
                    .hasMatch());
        QCOMPARE(readAll(f.file(u"zentrow.log.1"_s)).size(), (1 << 20) - 10);
        QVERIFY(!log.contains("secret") && !log.contains("zentrow"));
    }

    // The mail server method: the check waits for the reply.
    void smtp() {
        ScriptedServer mail([](ScriptedServer &, ScriptedServer::Socket &c) {
            c.send("220 mx ESMTP\r\n");
            c.readLine();
            c.send("250-mx Hello pc [192.0.2.44]\r\n250 HELP\r\n");
            c.readLine();
            c.send("221 bye\r\n");
        });
        Folder f;
        f.settings(u"192.0.2.1"_s, 1, 1, u"127.0.0.1:%1"_s.arg(mail.port()));
        const Run run = zentrow(f.check());
        QCOMPARE(run.out, u"smtp 192.0.2.44 published\n"_s);
        QCOMPARE(f.serverFile(), ",192.0.2.44,\r\n"_ba);
    }

    // One program per folder: while a window runs on it, a second window and a check are refused and
    // write nothing; once the window is gone, even killed, the folder is free again.
    void oneProgramPerFolder() {
        Folder f;
        f.settings(u"192.0.2.1"_s);
        const QByteArray ini = readAll(f.file(u"zent.ini"_s));
        QProcess window;
        QProcessEnvironment offscreen = QProcessEnvironment::systemEnvironment();
        offscreen.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        window.setProcessEnvironment(offscreen);
        window.start(QStringLiteral(ZENTROW_EXE), {u"--program-folder"_s, f.dir.path()});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(f.file(u"zentrow.lock"_s)), 10000);
        const Run second = zentrow({u"--program-folder"_s, f.dir.path(), u"-platform"_s, u"offscreen"_s});
        QCOMPARE(second.status, 6);
        QVERIFY(second.err.contains(u"既に動いています"_s));
        QCOMPARE(zentrow(f.check()).status, 6);
        QCOMPARE(readAll(f.file(u"zent.ini"_s)), ini);
        ::kill(pid_t(window.processId()), SIGKILL);
        QVERIFY(window.waitForFinished(10000));
        QCOMPARE(zentrow(f.check()).status, 2); // the CGI is not there: no address
    }
};

QTEST_GUILESS_MAIN(tst_headlesscheck)
#include "tst_headlesscheck.moc"
