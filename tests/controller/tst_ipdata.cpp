#include "controller/ipdata.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

namespace {
// 閉鎖中です and ｺﾝﾄﾛｰﾗ in CP932; 表示 has 0x5C as its second byte.
const QString kClosedJa = u"閉鎖中です"_s;
const QByteArray kClosedJaAnsi = "\x95\xC2\x8D\xBD\x92\x86\x82\xC5\x82\xB7"_ba;
const QString kKana = u"ｺﾝﾄﾛｰﾗ"_s;
const QByteArray kKanaAnsi = "\xBA\xDD\xC4\xDB\xB0\xD7"_ba;
const QString kShow = u"表示"_s;
const QByteArray kShowAnsi = "\x95\x5C\x8E\xA6"_ba;
} // namespace

class TstIpData : public QObject {
    Q_OBJECT
private slots:
    void decode_data();
    void decode();
    void encode_data();
    void encode();
    void fileRoundTrip_data();
    void fileRoundTrip();
    void carriedFieldSurvivesRewrite();
    void writeReplacesWholeOrNothing();
    void readRefusesWhatIsNotTheFile_data();
    void readRefusesWhatIsNotTheFile();
    void garbageNeverCrashes();
};

void TstIpData::decode_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("open") << "on,203.0.113.7,closed for now\r\n"_ba
                          << QStringList{u"on"_s, u"203.0.113.7"_s, u"closed for now"_s};
    QTest::newRow("closed, empty message") << "off,203.0.113.7,\r\n"_ba
                                           << QStringList{u"off"_s, u"203.0.113.7"_s, QString()};
    QTest::newRow("two lines joined") << "on,203.0.113.7,ab\r\ncd\r\n"_ba
                                      << QStringList{u"on"_s, u"203.0.113.7"_s, u"abcd"_s};
    QTest::newRow("LF lines joined") << "off,1.2.3.4,ab\ncd\n"_ba << QStringList{u"off"_s, u"1.2.3.4"_s, u"abcd"_s};
    QTest::newRow("line break inside a field") << "o\r\nn,1.2.3.4,x"_ba
                                               << QStringList{u"on"_s, u"1.2.3.4"_s, u"x"_s};
    QTest::newRow("comma in message: fourth field") << "off,203.0.113.7,a,b\r\n"_ba
                                                    << QStringList{u"off"_s, u"203.0.113.7"_s, u"a"_s, u"b"_s};
    QTest::newRow("empty fields kept") << ",,,\r\n"_ba << QStringList{QString(), QString(), QString(), QString()};
    QTest::newRow("empty file") << QByteArray() << QStringList{QString()};
    QTest::newRow("japanese message") << "off,1.2.3.4,"_ba + kClosedJaAnsi + "\r\n"_ba
                                      << QStringList{u"off"_s, u"1.2.3.4"_s, kClosedJa};
    QTest::newRow("half-width katakana and 0x5C trail byte")
        << "off,,"_ba + kKanaAnsi + kShowAnsi + "\r\n"_ba << QStringList{u"off"_s, QString(), kKana + kShow};
    QTest::newRow("japanese split across lines")
        << "off,,"_ba + kClosedJaAnsi.left(4) + "\r\n"_ba + kClosedJaAnsi.mid(4)
        << QStringList{u"off"_s, QString(), kClosedJa};
    QTest::newRow("not CP932") << "\xFF,\x81"_ba << QStringList{u"\uFFFD"_s, u"\uFFFD"_s};
    QTest::newRow("lead byte before a comma") << "on,\x82,x"_ba << QStringList{u"on"_s, u"\uFFFD"_s, u"x"_s};
}

void TstIpData::decode() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, fields);
    QCOMPARE(ipdata::decode(bytes), fields);
}

void TstIpData::encode_data() {
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("carried field") << QStringList{u"off"_s, u"203.0.113.7"_s, u"a"_s, u"b"_s}
                                   << "off,203.0.113.7,a,b\r\n"_ba;
    QTest::newRow("japanese in CP932") << QStringList{u"off"_s, u"1.2.3.4"_s, kClosedJa + kKana + kShow}
                                       << "off,1.2.3.4,"_ba + kClosedJaAnsi + kKanaAnsi + kShowAnsi + "\r\n"_ba;
    QTest::newRow("no CP932 for it") << QStringList{u"off"_s, QString(), u"x\U0001F600y"_s} << "off,,x?y\r\n"_ba;
    QTest::newRow("line breaks dropped") << QStringList{u"off"_s, QString(), u"a\r\nb\nc"_s} << "off,,abc\r\n"_ba;
}

void TstIpData::encode() {
    QFETCH(QStringList, fields);
    QFETCH(QByteArray, bytes);
    QCOMPARE(ipdata::encode(fields), bytes);
}

void TstIpData::fileRoundTrip_data() {
    QTest::addColumn<QStringList>("written");
    QTest::addColumn<QStringList>("read");
    const QStringList open{u"on"_s, u"203.0.113.7"_s, u"closed"_s};
    QTest::newRow("open") << open << open;
    const QStringList ja{u"off"_s, u"198.51.100.1"_s, kClosedJa + kKana + kShow};
    QTest::newRow("japanese") << ja << ja;
    QTest::newRow("comma splits") << QStringList{u"off"_s, u"1.2.3.4"_s, u"a,b"_s}
                                  << QStringList{u"off"_s, u"1.2.3.4"_s, u"a"_s, u"b"_s};
}

void TstIpData::fileRoundTrip() {
    QFETCH(QStringList, written);
    QFETCH(QStringList, read);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"ipdata.txt"_s);
    QVERIFY(ipdata::write(path, written));
    const QByteArray bytes = testsupport::readAll(path);
    QVERIFY(bytes.endsWith("\r\n"));
    QCOMPARE(bytes.count('\n'), 1);
    const ipdata::ReadResult r = ipdata::read(path);
    QCOMPARE(r.status, ipdata::ReadStatus::Ok);
    QCOMPARE(r.fields, read);
}

// The part after a typed comma is carried unchanged by every later write.
void TstIpData::carriedFieldSurvivesRewrite() {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"ipdata.txt"_s);
    QVERIFY(ipdata::write(path, {u"off"_s, u"1.2.3.4"_s, u"a,"_s + kClosedJa}));
    QStringList fields = ipdata::read(path).fields;
    QCOMPARE(fields.size(), 4);
    QCOMPARE(fields.at(2), u"a"_s);
    fields[0] = u"on"_s;
    fields[1] = u"5.6.7.8"_s;
    QVERIFY(ipdata::write(path, fields));
    QCOMPARE(testsupport::readAll(path), "on,5.6.7.8,a,"_ba + kClosedJaAnsi + "\r\n"_ba);
}

void TstIpData::writeReplacesWholeOrNothing() {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"ipdata.txt"_s);
    QVERIFY(testsupport::writeAll(path, "on,9.9.9.9,an older and much longer line than the next\r\n"_ba));
    QVERIFY(ipdata::write(path, {u"off"_s, u"1.2.3.4"_s, u"m"_s}));
    QCOMPARE(testsupport::readAll(path), "off,1.2.3.4,m\r\n"_ba);

    // Cannot be written: false, and nothing is left behind.
    QVERIFY(!ipdata::write(dir.filePath(u"missing/ipdata.txt"_s), {u"on"_s}));
    QVERIFY(QDir().mkdir(dir.filePath(u"folder"_s)));
    QVERIFY(!ipdata::write(dir.filePath(u"folder"_s), {u"on"_s}));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"ipdata.txt"_s});
}

void TstIpData::readRefusesWhatIsNotTheFile_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<ipdata::ReadStatus>("status");
    QTest::newRow("missing") << u"missing"_s << ipdata::ReadStatus::Missing;
    QTest::newRow("folder") << u"folder"_s << ipdata::ReadStatus::Unreadable;
    QTest::newRow("dangling link") << u"dangling"_s << ipdata::ReadStatus::Unreadable;
    QTest::newRow("fifo, never opened") << u"fifo"_s << ipdata::ReadStatus::Unreadable;
    QTest::newRow("one byte over the cap") << u"huge"_s << ipdata::ReadStatus::Unreadable;
    QTest::newRow("exactly the cap") << u"cap"_s << ipdata::ReadStatus::Ok;
}

void TstIpData::readRefusesWhatIsNotTheFile() {
    QFETCH(QString, kind);
    QFETCH(ipdata::ReadStatus, status);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"ipdata.txt"_s);
    if (kind == u"folder")
        QVERIFY(QDir().mkdir(path));
    else if (kind == u"dangling")
        QVERIFY(QFile::link(dir.filePath(u"nowhere"_s), path));
    else if (kind == u"fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == u"huge")
        QVERIFY(testsupport::writeAll(path, QByteArray(ipdata::kMaxFileBytes + 1, ',')));
    else if (kind == u"cap")
        QVERIFY(testsupport::writeAll(path, QByteArray(ipdata::kMaxFileBytes, ',')));
    const ipdata::ReadResult r = ipdata::read(path);
    QCOMPARE(r.status, status);
    if (status != ipdata::ReadStatus::Ok)
        QVERIFY(r.fields.isEmpty());
    else
        QCOMPARE(qint64(r.fields.size()), ipdata::kMaxFileBytes + 1);
}

// Random bytes, CP932 lead bytes at the end, NULs: read, never a crash.
void TstIpData::garbageNeverCrashes() {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"ipdata.txt"_s);
    quint32 seed = 12345;
    QByteArray junk;
    for (int i = 0; i < 200000; ++i) {
        seed = seed * 1103515245u + 12345u;
        junk.append(char(seed >> 23));
    }
    for (const QByteArray &bytes : {junk, junk + "\x81"_ba, "\0\0,\0"_ba, "\xFC\r\n\x40"_ba}) {
        QVERIFY(testsupport::writeAll(path, bytes));
        const ipdata::ReadResult r = ipdata::read(path);
        QCOMPARE(r.status, ipdata::ReadStatus::Ok);
        QCOMPARE(r.fields.size(), bytes.count(',') + 1);
    }
}

QTEST_GUILESS_MAIN(TstIpData)
#include "tst_ipdata.moc"
