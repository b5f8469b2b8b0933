// zentrow --check as a service runs it: a process with no display, on a program folder, against
// the real FTP server, the address-echo CGI under a real web server and a scripted mail server.
#include "engine/wancheck.h"
#include "tests/support/cgiserver.h"
#include "tests/support/ftpserver.h"
#include "tests/support/scriptedserver.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using namespace testsupport;

namespace {

struct Run {
    int status;
    QByteArray out, err;
};

// A program with no display at all, as a systemd timer starts it.
Run zentrow(const QStringList &args, const QString &exe = QStringLiteral(ZENTROW_EXE)) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
        env.remove(name);
    env.insert(u"TZ"_s, u"UTC0"_s); // the log's offset then reads "+00:00"
    p.setProcessEnvironment(env);
    // As a user, not as root, whom no folder's mode stops.
    p.setChildProcessModifier([] {
        if (::geteuid() == 0)
            for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
                ::prctl(PR_CAPBSET_DROP, cap);
    });
    p.start(exe, args);
    if (!p.waitForFinished(60000))
        p.kill();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

} // namespace

class tst_headlesscheck : public QObject {
    Q_OBJECT
private slots:
    // While a window runs on the folder, a second window and a check are refused and write nothing;
    // once it is gone, even killed, the folder is free again. A folder that cannot be written is no
    // folder in use, and a window without a display names the check instead. Then one check after
    // another: what it says, its status, what reaches the server, zent.ini and the log.
    void checks() {
        ScriptedServer mail([](ScriptedServer &, ScriptedServer::Socket &c) {
            c.send("220 mx ESMTP\r\n");
            c.readLine();
            c.send("250-mx Hello pc [192.0.2.44]\r\n250 HELP\r\n"); // the check waits for the whole reply
            c.readLine();
            c.send("221 bye\r\n");
        });
        QTemporaryDir dir, site;
        FtpServer ftp(site.path()), pasv(site.path(), {.fault = u"pasv-closed"_s}),
            quiet(site.path(), {.fault = u"quit-silent"_s});
        // The gateway beside the file the server takes, and an echo on ::1 that says a global address.
        for (const QString &cgi : {u"nomrel.cgi"_s, u"Porvane.cgi"_s})
            QVERIFY(QFile::copy(QStringLiteral(ZENTROW_SOURCE "/gateway/") + cgi, site.filePath(cgi)));
        QVERIFY(writeAll(site.filePath(u"global.cgi"_s),
                         "print \"Content-Type: text/plain\n\nIPADDR=[2400:4050:A:B:0:0:0:7]=IPADDR\";"));
        EchoCgiServer web(site.path()), web6(site.path(), u"::1"_s);
        QVERIFY2(web.serve() && web6.serve(), qPrintable(web.errorText() + web6.errorText()));
        QVERIFY(writeAll(site.filePath(u"ipdata.txt"_s), "on,198.51.100.1,closed\r\n"));
        QVERIFY(QDir(site.path()).mkdir(u"elsewhere"_s)); // a folder without a page
        QVERIFY(writeAll(dir.filePath(u"zentrow.log"_s), QByteArray((1 << 20) - 50, 'x')));
        // zent.ini as a user writes it (the password "secret"): automatic mode and the echo CGI, unless
        // `how` says manual, smtp, smtp down or page (a page for the echo); gone: the server's file is
        // removed first; down: no FTP server listens,
        // pasv: one whose passive ports are closed, quit: one that never answers QUIT; v6: IPv6 mode,
        // with the echo on ::1 (v6 local: the real one, saying ::1; v6 v4only: none there). The gateway
        // page (the folder's address, where Porvane.cgi is the index) is asked after each upload, unless
        // no page; elsewhere: the file goes to a folder the page does not read; 403: the page's address
        // is that folder; unreachable: nothing listens there.
        const auto server = [&](const QString &how) {
            return how == u"pasv"_s ? &pasv : how == u"quit"_s ? &quiet : &ftp;
        };
        const auto settings = [&](const QString &wanIp, const QString &how, const QString &port) {
            const QString ini =
                u"[SetData]\r\nFtpSv=%1\r\nFtpUser=zentrow\r\nFtpPass=c2VjcmV0\r\nFtpPath=/%7ipdata.txt\r\n"
                "IpAdd=%2\r\nChkAuto=%3\r\nIpChk=%4\r\n%6[ConData]\r\nWanIp=%5\r\n"_s;
            const QString sv =
                how == u"down"_s ? u"127.0.0.1:%1"_s.arg(unusedLocalPort()) : server(how)->hostPort();
            QString echo = web.baseUrl() + (how == u"page"_s ? u"Porvane.cgi"_s : u"nomrel.cgi"_s);
            const bool v6 = how.startsWith(u"v6"_s);
            if (v6)
                echo = how == u"v6 v4only"_s
                           ? echo.replace(u"127.0.0.1"_s, u"localhost"_s)
                           : web6.baseUrl() + (how == u"v6"_s ? u"global.cgi"_s : u"nomrel.cgi"_s);
            const bool bySmtp = how.startsWith(u"smtp"_s); // "smtp down": no mail server listens
            const QString add =
                bySmtp ? u"127.0.0.1:%1"_s.arg(how == u"smtp"_s ? mail.port() : unusedLocalPort()) : echo;
            const QString page = how == u"no page"_s ? QString()
                                 : how == u"unreachable"_s
                                     ? u"http://127.0.0.1:%1/"_s.arg(unusedLocalPort())
                                     : web.baseUrl() + (how == u"403"_s ? u"elsewhere/"_s : u""_s);
            const QString more = (port.isEmpty() ? QString() : u"LinkPort="_s + port + u"\r\n"_s) +
                                 (v6 ? u"IpVer=6\r\n"_s : QString()) + // missing in older files
                                 (page.isEmpty() ? QString() : u"PvnUrl="_s + page + u"\r\n"_s);
            const QString text = ini.arg(sv, add)
                                     .arg(how != u"manual"_s)
                                     .arg(bySmtp)
                                     .arg(wanIp)
                                     .arg(more)
                                     .arg(how == u"elsewhere"_s ? u"elsewhere/"_s : QString());
            writeAll(dir.filePath(u"zent.ini"_s), text.toLatin1());
        };
        settings(u"198.51.100.1"_s, u"no page"_s, {});
        const QByteArray ini = readAll(dir.filePath(u"zent.ini"_s));
        const QStringList check{u"--check"_s, u"--program-folder"_s, dir.path()},
            toolkit{u"-platform"_s, u"offscreen"_s};
        // zentrow-check alone, `zentrow --check` and `zentrow-check --check` take turns.
        const QStringList checkers{QStringLiteral(ZENTROW_CHECK_EXE), QStringLiteral(ZENTROW_EXE),
                                   QStringLiteral(ZENTROW_CHECK_EXE)};
        QProcess window;
        window.start(QStringLiteral(ZENTROW_EXE),
                     {u"--program-folder"_s, dir.path(), u"-platform"_s, u"offscreen"_s});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(dir.filePath(u"zentrow.lock"_s)), 10000);
        const Run second = zentrow({u"--program-folder"_s, dir.path(), u"-platform"_s, u"offscreen"_s});
        QCOMPARE(second.status, 6);
        QVERIFY(second.err.contains("既に動いています"));
        QCOMPARE(zentrow(check).status, 6);
        QCOMPARE(zentrow(QStringList{u"--gateway"_s, u"open"_s} + check.mid(1), checkers[0]).status, 6);
        QCOMPARE(readAll(dir.filePath(u"zent.ini"_s)), ini);
        ::kill(pid_t(window.processId()), SIGKILL);
        QVERIFY(window.waitForFinished(10000));
        const Run bare = zentrow({u"--program-folder"_s, dir.path()});
        QVERIFY(bare.status == 1 && bare.err.count('\n') == 1 && bare.err.contains("zentrow --check"));
        QTemporaryDir locked;
        QVERIFY(QFile::setPermissions(locked.path(), QFile::ReadOwner | QFile::ExeOwner));
        for (const QString &exe : checkers.first(2)) { // the check, and the window
            const Run r = zentrow(QStringList{u"--program-folder"_s, locked.path()} +
                                      (exe == checkers[0] ? QStringList() : toolkit),
                                  exe);
            QVERIFY2(r.status == 5 && r.err.contains(locked.path().toUtf8() + "\n") &&
                         r.err.contains("(Permission denied)"),
                     r.err.constData());
        }
        QVERIFY(
            writeAll(dir.filePath(u"ipdata.txt"_s), "off,198.51.100.1,stale\r\n")); // left by a killed run

        const QList<std::tuple<QString, int, QString, int>> steps{
            // the address last published, how to check, the link port and a command (none: a check); the
            // status, the line it prints (after " — " what to do) and the lines on standard error (the box
            // with the code says it too)
            {{}, 0, u"cgi 127.0.0.1 published"_s, 0},
            {u"198.51.100.2,down"_s, 3, u"cgi 127.0.0.1 upload failed: InternetConnect:GetLastError=7"_s, 2},
            {u"127.0.0.1,pasv"_s, 3,
             u"cgi 127.0.0.1 unchanged; gateway file not read: FtpGetFile:GetLastError=7"_s, 2},
            {u"198.51.100.2,quit"_s, 0, u"cgi 127.0.0.1 published, confirmed"_s, 0}, // 3 s for each QUIT
            {u"198.51.100.3,manual"_s, 4, u"cgi 127.0.0.1 not uploaded: manual mode"_s, 2},
            {u"198.51.100.4,page"_s, 2, u"cgi - no address: the answer is not an address"_s, 1},
            {u"192.0.2.1,smtp down"_s, 2, u"smtp - no address: the mail server did not answer"_s, 1},
            {u"192.0.2.1,smtp"_s, 0, u"smtp 192.0.2.44 published, confirmed"_s, 0},
            // The page does not show it: published all the same, not uploaded again by the next check.
            {u"192.0.2.44,elsewhere"_s, 7,
             u"cgi 127.0.0.1 published (gateway closed), page shows on,192.0.2.44"_s, 3},
            {{}, 0, u"cgi 127.0.0.1 unchanged (gateway closed)"_s, 0}, // as zent.ini was left
            {u"198.51.100.5,403"_s, 7, u"cgi 127.0.0.1 published, page answered 403"_s, 3},
            {u"198.51.100.6,unreachable"_s, 7,
             u"cgi 127.0.0.1 published, page not reachable: Couldn't connect to server"_s, 3},
            {u"127.0.0.1,,4096"_s, 0, u"cgi 127.0.0.1:4096 published, confirmed"_s, 0}, // with a link port
            {{}, 0, u"cgi 127.0.0.1:4096 unchanged"_s, 0},
            {u"127.0.0.1:4096,,8080"_s, 0, u"cgi 127.0.0.1:8080 published, confirmed"_s, 0},
            // No file on the server and no state remembered: the state written is "off", never empty.
            {u"127.0.0.1,gone,8080"_s, 0, u"cgi 127.0.0.1:8080 published (gateway closed), confirmed"_s, 0},
            {{}, 0, u"cgi 127.0.0.1:8080 unchanged (gateway closed)"_s, 0},
            {u"127.0.0.1:8080,manual,8080,--gateway open"_s, 0, u"gateway opened, confirmed"_s, 0},
            {u"127.0.0.1:8080,down,8080,--message x"_s, 3,
             u"message not changed: upload failed: InternetConnect:GetLastError=7"_s, 2},
            // Uploaded at once also in manual mode, as one file.
            {u"127.0.0.1:8080,manual,8080,--gateway close --message \"closed, for now\""_s, 0,
             u"gateway closed, message changed, confirmed"_s, 0},
            {u"127.0.0.1:8080,v6 local,8080"_s, 2,
             u"cgi - no address: the answer is not a global IPv6 address"_s, 3},
            {u"127.0.0.1:8080,v6 v4only,8080"_s, 2, u"cgi - no address: Couldn't connect to server"_s, 1},
            {u"127.0.0.1:8080,v6,8080"_s, 0,
             u"cgi [2400:4050:a:b::7]:8080 published (gateway closed), confirmed"_s, 0},
        };
        int turn = 0;
        QByteArrayList lines;
        bool elsewhere = false; // the file goes to a folder the page does not read
        for (const auto &[before, status, line, errors] : steps) {
            const QStringList what = before.split(u','),
                              command = QProcess::splitCommand(before.section(u',', 3));
            if (!before.isEmpty()) {
                settings(what[0], what[1], what.value(2));
                elsewhere = what[1] == u"elsewhere"_s;
            }
            if (what.value(1) == u"gone"_s)
                QFile::remove(site.filePath(u"ipdata.txt"_s));
            FtpServer *used = server(what.value(1));
            const qsizetype stored = used->verbs().count(u"STOR"_s);
            const int which = turn++ % 3; // `zentrow` beside a toolkit option
            const QStringList args =
                (command.isEmpty() ? (which ? check : check.mid(1)) : command + check.mid(1)) +
                (which == 1 ? toolkit : QStringList());
            const Run run = zentrow(args, checkers[which]);
            lines << run.out;
            const QByteArray said = line.toUtf8();
            QVERIFY2(run.out == said + '\n' || (run.out.startsWith(said + " — ") && run.out.count('\n') == 1),
                     run.out.constData());
            QCOMPARE(run.status, status);
            QCOMPARE(run.err.count('\n'), errors);
            QVERIFY(status != 7 || run.err.startsWith("Porvane 確認: ipdata.txt はサーバに置きましたが"));
            const QStringList err = QString::fromUtf8(run.err).split(u'\n');
            if (line.contains(u"GetLastError"_s)) // the box's explanation ends the log's line
                QVERIFY(err[0] == u"Zentrow<FtpGet>: "_s + line.section(u": "_s, -1) &&
                        QString::fromUtf8(run.out).endsWith(u" — "_s + err[1].section(u": "_s, 1) + u'\n'));
            QVERIFY(!QFileInfo::exists(dir.filePath(u"ipdata.txt"_s)));
            // Only a published address is recorded; a command detects none.
            const bool published = line.contains(u" published"_s);
            const QString recorded =
                command.isEmpty() && (published || !status) ? line.section(u' ', 1, 1) : what[0];
            QVERIFY(readAll(dir.filePath(u"zent.ini"_s)).contains("WanIp=" + recorded.toLatin1() + "\r\n"));
            const bool uploaded = published || (!command.isEmpty() && status == 0);
            QCOMPARE(used->verbs().count(u"STOR"_s), stored + (uploaded ? 1 : 0));
            QVERIFY(!line.contains(u"global"_s) ||
                    run.err.contains("IPv6 のグローバルアドレスを返していません"));
            // What is published is what the gateway page links to, exactly while the gateway is open; a
            // check's line says when it is closed.
            const QByteArrayList file =
                readAll(site.filePath(elsewhere ? u"elsewhere/ipdata.txt"_s : u"ipdata.txt"_s)).split(',');
            const auto page = wancheck::CurlHttpFetcher().fetch(web.baseUrl(), wancheck::IpVersion::V4);
            const bool open = file[0] == "on";
            QVERIFY(open || file[0] == "off");
            QVERIFY(!published || file.value(1) == recorded.toLatin1());
            QVERIFY(status || elsewhere ||
                    page.value_or("").contains("=\"http://" + file.value(1) + "/\"") == open);
            QVERIFY(status || run.out.contains("(gateway closed)") == (!open && command.isEmpty()));
        }
        settings(u"x"_s, {}, u"8o"_s); // a port, by hand, that is none: refused, nothing uploaded or logged
        const Run refused = zentrow(check);
        QVERIFY(refused.status == 5 && refused.err.contains("「公開ﾎﾟｰﾄ」の 8o はポート番号ではありません"));
        // A state that is none, two commands at once, a message the file cannot hold: refused the same.
        for (const QStringList &bad : {QStringList{u"--gateway"_s, u"maybe"_s},
                                       {u"--check"_s, u"--message=x"_s},
                                       {u"--message=a\nb"_s},
                                       {u"--message"_s, QString(128, u'あ')}})
            QCOMPARE(zentrow(bad + check.mid(1), checkers[turn++ % 2]).status, 1);
        // The state and message the commands left, the comma full-width.
        QCOMPARE(readAll(site.filePath(u"ipdata.txt"_s)),
                 "off,[2400:4050:a:b::7]:8080,closed\x81\x43 for now\r\n"_ba);
        const QByteArray older = readAll(dir.filePath(u"zentrow.log.1"_s));
        // The first line filled the log to its cap, the next one started a new log.
        QCOMPARE(older.size(), 1 << 20);
        const QByteArray log = older + readAll(dir.filePath(u"zentrow.log"_s));
        QCOMPARE(log.count('\n'), steps.size());
        for (const QByteArray &line : std::as_const(lines))
            QVERIFY(log.contains(' ' + line));
        QVERIFY(QString::fromUtf8(log.mid(1 << 20))
                    .contains(QRegularExpression(u"^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\+00:00 "_s)));
        QVERIFY(!log.contains("secret") && !log.contains("zentrow"));
    }
};

QTEST_GUILESS_MAIN(tst_headlesscheck)
#include "tst_headlesscheck.moc"
