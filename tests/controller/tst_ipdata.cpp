#include "controller/ipdata.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;
using testsupport::readAll;
using testsupport::writeAll;

namespace {
// 閉鎖中です, ｺﾝﾄﾛｰﾗ and 表示 (0x5C as a trail byte) in CP932.
const QString kJa = u"閉鎖中ですｺﾝﾄﾛｰﾗ表示"_s;
const QByteArray kJaAnsi = "\x95\xC2\x8D\xBD\x92\x86\x82\xC5\x82\xB7\xBA\xDD\xC4\xDB\xB0\xD7\x95\x5C\x8E\xA6"_ba;
} // namespace

class tst_ipdata : public QObject {
    Q_OBJECT
private slots:
    // A file as it reads; with `exact`, also the very bytes write() makes of those fields.
    void file_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<bool>("exact");
        QTest::newRow("open") << "on,203.0.113.7,closed for now\r\n"_ba
                              << QStringList{u"on"_s, u"203.0.113.7"_s, u"closed for now"_s} << true;
        QTest::newRow("empty message") << "off,203.0.113.7,\r\n"_ba << QStringList{u"off"_s, u"203.0.113.7"_s, {}}
                                       << true;
        QTest::newRow("comma carried as a fourth field")
            << "off,1.2.3.4,a,b\r\n"_ba << QStringList{u"off"_s, u"1.2.3.4"_s, u"a"_s, u"b"_s} << true;
        QTest::newRow("japanese in CP932") << "off,1.2.3.4,"_ba + kJaAnsi + "\r\n"
                                           << QStringList{u"off"_s, u"1.2.3.4"_s, kJa} << true;
        QTest::newRow("lines joined") << "on,1.2.3.4,ab\r\ncd\nef\r\n"_ba
                                      << QStringList{u"on"_s, u"1.2.3.4"_s, u"abcdef"_s} << false;
        QTest::newRow("japanese split across lines")
            << "off,,"_ba + kJaAnsi.left(3) + "\r\n" + kJaAnsi.mid(3) << QStringList{u"off"_s, {}, kJa} << false;
        QTest::newRow("empty file") << QByteArray() << QStringList{QString()} << false;
        QTest::newRow("not CP932") << "on,\x82,\xFF"_ba << QStringList{u"on"_s, u"\uFFFD"_s, u"\uFFFD"_s} << false;
    }
    void file() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, fields);
        QFETCH(bool, exact);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ipdata.txt"_s);
        QVERIFY(writeAll(path, bytes));
        const ipdata::ReadResult r = ipdata::read(path);
        QCOMPARE(r.status, ipdata::ReadStatus::Ok);
        QCOMPARE(r.fields, fields);
        if (exact) {
            QVERIFY(ipdata::write(path, fields));
            QCOMPARE(readAll(path), bytes);
        }
    }

    // The whole file is replaced, as one line, or nothing is left behind.
    void write() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ipdata.txt"_s);
        QVERIFY(writeAll(path, "on,9.9.9.9,an older and much longer line than the next\r\n"_ba));
        QVERIFY(ipdata::write(path, {u"off"_s, {}, u"a\r\nb\nc"_s}));
        QCOMPARE(readAll(path), "off,,abc\r\n"_ba);
        QVERIFY(!ipdata::write(dir.filePath(u"missing/ipdata.txt"_s), {u"on"_s}));
        QVERIFY(QDir().mkdir(dir.filePath(u"folder"_s)));
        QVERIFY(!ipdata::write(dir.filePath(u"folder"_s), {u"on"_s}));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"ipdata.txt"_s});
    }

    void readRefuses_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<ipdata::ReadStatus>("status");
        QTest::newRow("missing") << u"missing"_s << ipdata::ReadStatus::Missing;
        QTest::newRow("folder") << u"folder"_s << ipdata::ReadStatus::Unreadable;
        QTest::newRow("fifo, never opened") << u"fifo"_s << ipdata::ReadStatus::Unreadable;
        QTest::newRow("one byte over the cap") << u"huge"_s << ipdata::ReadStatus::Unreadable;
        QTest::newRow("exactly the cap") << u"cap"_s << ipdata::ReadStatus::Ok;
    }
    void readRefuses() {
        QFETCH(QString, kind);
        QFETCH(ipdata::ReadStatus, status);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ipdata.txt"_s);
        if (kind == u"folder")
            QVERIFY(QDir().mkdir(path));
        else if (kind == u"fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind != u"missing")
            QVERIFY(writeAll(path, QByteArray(ipdata::kMaxFileBytes + (kind == u"huge"), ',')));
        const ipdata::ReadResult r = ipdata::read(path);
        QCOMPARE(r.status, status);
        QCOMPARE(qint64(r.fields.size()), status == ipdata::ReadStatus::Ok ? ipdata::kMaxFileBytes + 1 : 0);
    }
};

QTEST_GUILESS_MAIN(tst_ipdata)
#include "tst_ipdata.moc"
