#include "engine/codepage.h"
#include "engine/ipdata.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;
using namespace testsupport;

// Fields `written` by write() over a longer file (none: `bytes` put there as they are), the file's `bytes`,
// the fields `read`; "|" between the fields.
using File = std::tuple<QString, QByteArray, QString>;

class tst_ipdata : public QObject {
    Q_OBJECT
private slots:
    void file_data() {
        QTest::addColumn<File>("f");
        // 閉鎖中です, ｺﾝﾄﾛｰﾗ and 表示 (0x5C as a trail byte), and characters only CP932 has.
        const QString ja = u"off|1.2.3.4|閉鎖中ですｺﾝﾄﾛｰﾗ表示～①∥"_s,
                      open = u"on|203.0.113.7|closed for now"_s;
        const QByteArray jaAnsi =
            "off,1.2.3.4,\x95\xC2\x8D\xBD\x92\x86\x82\xC5\x82\xB7\xBA\xDD\xC4\xDB\xB0\xD7\x95\x5C"
            "\x8E\xA6\x81\x60\x87\x40\x81\x61"_ba;
        QTest::newRow("open") << File{open, "on,203.0.113.7,closed for now\r\n"_ba, open};
        QTest::newRow("japanese in CP932") << File{ja, jaAnsi + "\r\n", ja};
        QTest::newRow("lacking characters, one ? each") << File{u"on||€😀"_s, "on,,??\r\n"_ba, u"on||??"_s};
        QTest::newRow("state off unless on, commas full-width, line breaks dropped, three fields")
            << File{u"ON||a,b\r\n|c\n"_s, codepage::toAnsi(u"off,,a，b，c\r\n"_s), u"off||a，b，c"_s};
        QTest::newRow("lines joined") << File{{}, "on,,ab\r\ncd\nef\r\n"_ba, u"on||abcdef"_s};
        QTest::newRow("japanese split across lines")
            << File{{}, jaAnsi.left(15) + "\r\n" + jaAnsi.mid(15), ja};
        QTest::newRow("empty file") << File{};
        QTest::newRow("not CP932") << File{{}, "on,\x82,\xFF\x81"_ba, u"on|\uFFFD|\uFFFD\uFFFD"_s};
        // Beyond the bound the gateway script uses too, a file reads as closed, as the gateway shows it.
        const QByteArray bound = QByteArray(65536 - 15, '\n') + "on,203.0.113.7,";
        QTest::newRow("65536 bytes") << File{{}, bound, u"on|203.0.113.7|"_s};
        QTest::newRow("65537 bytes: closed") << File{{}, '\n' + bound, u"off||"_s};
    }
    void file() {
        QFETCH(File, f);
        const auto &[written, bytes, read] = f;
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ipdata.txt"_s);
        QVERIFY(writeAll(path, written.isNull() ? bytes : "on,9.9.9.9,an older and much longer line\r\n"_ba));
        QVERIFY(written.isNull() || ipdata::write(path, written.split(u'|')));
        QCOMPARE(readAll(path), bytes);
        const ipdata::ReadResult r = ipdata::read(path);
        QCOMPARE(r.status, ipdata::ReadStatus::Ok);
        QCOMPARE(r.fields.join(u'|'), read);
    }

    // Only a regular file is read, a FIFO is never opened. Nothing is written where no file can be,
    // and a write that fails part way (a full disk; here past a file size limit) leaves the file whole.
    void refuses() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ipdata.txt"_s), kept = dir.filePath(u"kept.txt"_s);
        QVERIFY(!ipdata::write(dir.filePath(u"gone/ipdata.txt"_s), {u"on"_s}));
        rlimit old{};
        ::getrlimit(RLIMIT_FSIZE, &old);
        const rlimit limit{1 << 20, old.rlim_max};
        ::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const bool written =
            writeAll(kept, "on,,\r\n"_ba) && ipdata::write(kept, {{}, {}, QString(1 << 21, u'x')});
        ::setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!written);
        QCOMPARE(readAll(kept), "on,,\r\n"_ba);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"kept.txt"_s});
        QCOMPARE(ipdata::read(path).status, ipdata::ReadStatus::Missing);
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        QCOMPARE(ipdata::read(path).status, ipdata::ReadStatus::Unreadable);
    }
};

QTEST_GUILESS_MAIN(tst_ipdata)
#include "tst_ipdata.moc"
