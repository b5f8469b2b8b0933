#include "controller/ipdata.h"
#include "settings/codepage.h"
#include "tests/support/testsupport.h"

#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;
using testsupport::readAll;
using testsupport::writeAll;

class tst_ipdata : public QObject {
    Q_OBJECT
private slots:
    // `written` by write() over a longer file (none: `bytes` put there as they are), then read; "|" between
    // the fields.
    void file_data() {
        QTest::addColumn<QString>("written");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("read");
        // 閉鎖中です, ｺﾝﾄﾛｰﾗ and 表示 (0x5C as a trail byte), and characters only CP932 has.
        const QString ja = u"off|1.2.3.4|閉鎖中ですｺﾝﾄﾛｰﾗ表示～①∥"_s;
        const QByteArray jaAnsi =
            "off,1.2.3.4,\x95\xC2\x8D\xBD\x92\x86\x82\xC5\x82\xB7\xBA\xDD\xC4\xDB\xB0\xD7\x95\x5C"
            "\x8E\xA6\x81\x60\x87\x40\x81\x61"_ba;
        auto row = [](const char *name, const QString &written, const QByteArray &bytes,
                      const QString &read) { QTest::newRow(name) << written << bytes << read; };
        const QString open = u"on|203.0.113.7|closed for now"_s;
        row("open", open, "on,203.0.113.7,closed for now\r\n"_ba, open);
        row("japanese in CP932", ja, jaAnsi + "\r\n", ja);
        row("lacking characters, one ? each", u"on||€😀"_s, "on,,??\r\n"_ba, u"on||??"_s);
        row("commas full-width, line breaks dropped, three fields", u"off||a,b\r\n|c\n"_s,
            codepage::toAnsi(u"off,,a，b，c\r\n"_s), u"off||a，b，c"_s);
        row("lines joined", {}, "on,,ab\r\ncd\nef\r\n"_ba, u"on||abcdef"_s);
        row("japanese split across lines", {}, jaAnsi.left(15) + "\r\n" + jaAnsi.mid(15), ja);
        row("empty file", {}, {}, {});
        row("not CP932", {}, "on,\x82,\xFF\x81"_ba, u"on|\uFFFD|\uFFFD\uFFFD"_s);
    }
    void file() {
        QFETCH(QString, written);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, read);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ipdata.txt"_s);
        QVERIFY(writeAll(path, written.isNull() ? bytes : "on,9.9.9.9,an older and much longer line\r\n"_ba));
        QVERIFY(written.isNull() || ipdata::write(path, written.split(u'|')));
        QCOMPARE(readAll(path), bytes);
        const ipdata::ReadResult r = ipdata::read(path);
        QCOMPARE(r.status, ipdata::ReadStatus::Ok);
        QCOMPARE(r.fields.join(u'|'), read);
    }

    // Only a regular file is read, a FIFO is never opened; beyond the bound the gateway script uses too, a
    // file reads as closed, as the gateway shows it. Nothing is written where no file can be.
    void refuses() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ipdata.txt"_s);
        QVERIFY(!ipdata::write(dir.filePath(u"gone/ipdata.txt"_s), {u"on"_s}));
        QCOMPARE(ipdata::read(path).status, ipdata::ReadStatus::Missing);
        const QByteArray open = "on,203.0.113.7,"_ba;
        QVERIFY(writeAll(path, QByteArray(65536 - open.size(), '\n') + open));
        QCOMPARE(ipdata::read(path).fields, (QStringList{u"on"_s, u"203.0.113.7"_s, {}}));
        QVERIFY(writeAll(path, QByteArray(65537 - open.size(), '\n') + open));
        QCOMPARE(ipdata::read(path).fields, (QStringList{u"off"_s, {}, {}}));
        QVERIFY(QFile::remove(path) && ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        QCOMPARE(ipdata::read(path).status, ipdata::ReadStatus::Unreadable);
    }
};

QTEST_GUILESS_MAIN(tst_ipdata)
#include "tst_ipdata.moc"
