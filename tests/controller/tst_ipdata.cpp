#include "controller/ipdata.h"
#include "settings/codepage.h"
#include "tests/support/testsupport.h"

#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;
using testsupport::readAll;
using testsupport::writeAll;

namespace {
QByteArray ansi(const QString &s) { return codepage::toAnsi(s); }
// 閉鎖中です, ｺﾝﾄﾛｰﾗ and 表示 (0x5C as a trail byte) in CP932.
const QString kJa = u"閉鎖中ですｺﾝﾄﾛｰﾗ表示"_s;
const QByteArray kJaAnsi = "\x95\xC2\x8D\xBD\x92\x86\x82\xC5\x82\xB7\xBA\xDD\xC4\xDB\xB0\xD7\x95\x5C\x8E\xA6"_ba;
} // namespace

class tst_ipdata : public QObject {
    Q_OBJECT
private slots:
    // `written` by write() over a longer file (none: `bytes` put there as they are), then read.
    void file_data() {
        QTest::addColumn<QStringList>("written");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("read");
        const QStringList open{u"on"_s, u"203.0.113.7"_s, u"closed for now"_s}, ja{u"off"_s, u"1.2.3.4"_s, kJa};
        QTest::newRow("open") << open << "on,203.0.113.7,closed for now\r\n"_ba << open;
        QTest::newRow("japanese in CP932") << ja << "off,1.2.3.4,"_ba + kJaAnsi + "\r\n" << ja;
        QTest::newRow("commas full-width, always three fields")
            << QStringList{u"off"_s, {}, u"a,b"_s, u"c"_s} << ansi(u"off,,a，b，c\r\n"_s) << QStringList{u"off"_s, {}, u"a，b，c"_s};
        QTest::newRow("line breaks dropped")
            << QStringList{u"off"_s, {}, u"a\r\nb\nc"_s} << "off,,abc\r\n"_ba << QStringList{u"off"_s, {}, u"abc"_s};
        QTest::newRow("lines joined") << QStringList() << "on,,ab\r\ncd\nef\r\n"_ba << QStringList{u"on"_s, {}, u"abcdef"_s};
        QTest::newRow("japanese split across lines")
            << QStringList() << "off,1.2.3.4,"_ba + kJaAnsi.left(3) + "\r\n" + kJaAnsi.mid(3) << ja;
        QTest::newRow("empty file") << QStringList() << QByteArray() << QStringList{QString()};
        QTest::newRow("not CP932") << QStringList() << "on,\x82,\xFF"_ba << QStringList{u"on"_s, u"\uFFFD"_s, u"\uFFFD"_s};
    }
    void file() {
        QFETCH(QStringList, written);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, read);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ipdata.txt"_s);
        QVERIFY(writeAll(path, written.isEmpty() ? bytes : "on,9.9.9.9,an older and much longer line\r\n"_ba));
        QVERIFY(written.isEmpty() || ipdata::write(path, written));
        QCOMPARE(readAll(path), bytes);
        const ipdata::ReadResult r = ipdata::read(path);
        QCOMPARE(r.status, ipdata::ReadStatus::Ok);
        QCOMPARE(r.fields, read);
    }

    // Only a regular file is read, a FIFO is never opened; beyond the bound the gateway script uses
    // too, a file reads as closed, as the gateway shows it.
    void readRefuses() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ipdata.txt"_s);
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
