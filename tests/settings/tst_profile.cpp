#include "settings/codepage.h"
#include "settings/profile.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using testsupport::readAll;
using testsupport::writeAll;

namespace {

QByteArray sj(const QString &text) { return codepage::toAnsi(text); }

QByteArray nulOnly() { return QByteArray(1, '\0'); }

// Every name in the folder, to see that no temporary file was left behind.
QStringList entries(const QString &dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

mode_t modeOf(const QString &path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

} // namespace

class TestProfile : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    QTemporaryDir &tmp() { return *dir_; }
    QString ini() const { return dir_->filePath(u"zent.ini"_s); }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
    }
    void cleanup() {
        QFile::setPermissions(dir_->filePath(u"d"_s), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        dir_.reset();
    }

    void read_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("expected");

        const QByteArray std = "[Sec]\r\nKey=Val\r\n"_ba;
        QTest::newRow("names ignore case") << std << "sEC"_ba << "kEY"_ba << 256 << "Val"_ba;
        QTest::newRow("blanks on the file side")
            << " \t[ \tSec\v ] \r\n \t Key \v= \t Val \t\v\r\n"_ba << "Sec"_ba << "Key"_ba << 256 << "Val"_ba;
        QTest::newRow("spaces of the caller") << std << "  Sec "_ba << " Key  "_ba << 256 << "Val"_ba;
        QTest::newRow("tab of the caller") << std << "\tSec"_ba << "Key"_ba << 256 << "def"_ba;
        QTest::newRow("missing key") << std << "Sec"_ba << "Nope"_ba << 256 << "def"_ba;
        QTest::newRow("double quotes") << "[S]\r\nk= \"  a b  \" \r\n"_ba << "S"_ba << "k"_ba << 256 << "  a b  "_ba;
        QTest::newRow("single quotes") << "[S]\r\nk='x'\r\n"_ba << "S"_ba << "k"_ba << 256 << "x"_ba;
        QTest::newRow("mixed quotes") << "[S]\r\nk=\"x'\r\n"_ba << "S"_ba << "k"_ba << 256 << "\"x'"_ba;
        QTest::newRow("one quote") << "[S]\r\nk=\"\r\n"_ba << "S"_ba << "k"_ba << 256 << "\""_ba;
        QTest::newRow("empty quotes") << "[S]\r\nk=\"\"\r\n"_ba << "S"_ba << "k"_ba << 256 << ""_ba;
        QTest::newRow("comment line") << "[S]\r\n ;k=1\r\n"_ba << "S"_ba << ";k"_ba << 256 << "def"_ba;
        QTest::newRow("semicolon in a value") << "[S]\r\nk=a;b\r\n"_ba << "S"_ba << "k"_ba << 256 << "a;b"_ba;
        QTest::newRow("hash is no comment") << "[S]\r\n#k=1\r\n"_ba << "S"_ba << "#k"_ba << 256 << "1"_ba;
        QTest::newRow("name ends at the first ]") << "[S]x]\r\nk=1\r\n"_ba << "S"_ba << "k"_ba << 256 << "1"_ba;
        QTest::newRow("missing ] opens a section") << "[S \r\nk=1\r\n"_ba << "S"_ba << "k"_ba << 256 << "1"_ba;
        QTest::newRow("before the first section") << "k=1\r\n[S]\r\n"_ba << "S"_ba << "k"_ba << 256 << "def"_ba;
        QTest::newRow("before the first section, empty name")
            << "k=1\r\n[S]\r\n"_ba << ""_ba << "k"_ba << 256 << "def"_ba;
        QTest::newRow("empty section name") << "[]\r\nk=1\r\n"_ba << ""_ba << "k"_ba << 256 << "1"_ba;
        QTest::newRow("first section only")
            << "[S]\r\na=1\r\n[T]\r\nb=9\r\n[s]\r\na=2\r\nb=3\r\n"_ba << "S"_ba << "b"_ba << 256 << "def"_ba;
        QTest::newRow("first key wins") << "[S]\r\na=1\r\nA=2\r\n"_ba << "S"_ba << "a"_ba << 256 << "1"_ba;
        QTest::newRow("line without =") << "[S]\r\nk\r\nk=1\r\n"_ba << "S"_ba << "k"_ba << 256 << "1"_ba;
        QTest::newRow("only a line without =") << "[S]\r\nk\r\n"_ba << "S"_ba << "k"_ba << 256 << "def"_ba;
        QTest::newRow("LF lines") << "[A]\na=1\n[S]\nk=2\n"_ba << "S"_ba << "k"_ba << 256 << "2"_ba;
        QTest::newRow("CR lines") << "[A]\ra=1\r[S]\rk=2\r"_ba << "S"_ba << "k"_ba << 256 << "2"_ba;
        QTest::newRow("no final line break") << "[S]\r\nk=2"_ba << "S"_ba << "k"_ba << 256 << "2"_ba;
        QTest::newRow("value cut to size - 1") << "[S]\r\nk=val1\r\n"_ba << "S"_ba << "k"_ba << 4 << "val"_ba;
        QTest::newRow("size 1") << "[S]\r\nk=val1\r\n"_ba << "S"_ba << "k"_ba << 1 << ""_ba;
        QTest::newRow("size 0") << "[S]\r\nk=val1\r\n"_ba << "S"_ba << "k"_ba << 0 << ""_ba;
        QTest::newRow("default cut") << std << "S"_ba << "x"_ba << 3 << "de"_ba;
        QTest::newRow("NUL ends a value") << "[S]\r\nk=ab\0cd\r\n"_ba << "S"_ba << "k"_ba << 256 << "ab"_ba;

        const QByteArray v255(255, 'x'), v300(300, 'y');
        QTest::newRow("255 bytes whole") << "[S]\r\nk=" + v255 + "\r\n" << "S"_ba << "k"_ba << 256 << v255;
        QTest::newRow("300 bytes cut") << "[S]\r\nk=" + v300 + "\r\n" << "S"_ba << "k"_ba << 256 << v300.left(255);
        const QByteArray a127 = sj(QString(127, u'あ'));
        QTest::newRow("double-byte fits") << "[S]\r\nk=x" + a127 + "\r\n" << "S"_ba << "k"_ba << 256 << "x" + a127;
        QTest::newRow("no half character")
            << "[S]\r\nk=" + a127 + sj(u"あ"_s) + "\r\n" << "S"_ba << "k"_ba << 256 << a127;
        QTest::newRow("no half character, small")
            << "[S]\r\nk=a" + sj(u"ソ"_s) + "\r\n" << "S"_ba << "k"_ba << 3 << "a"_ba;

        // ゾ ends in 0x5D, the byte of "]"; ア and ヂ differ only in a second byte that is a letter.
        QTest::newRow("] as a second byte") << sj(u"[ゾ]\r\nk=1\r\n"_s) << sj(u"ゾ"_s) << "k"_ba << 256 << "1"_ba;
        QTest::newRow("second bytes keep their case")
            << sj(u"[S]\r\nヂ=1\r\nア=2\r\n"_s) << "S"_ba << sj(u"ア"_s) << 256 << "2"_ba;
        QTest::newRow("full-width letters ignore case")
            << sj(u"[Ｓｅｃ]\r\nｋ=1\r\n"_s) << sj(u"ＳＥＣ"_s) << sj(u"Ｋ"_s) << 256 << "1"_ba;
        QTest::newRow("Japanese value") << sj(u"[S]\r\nk=ｺﾝﾄﾛｰﾗ 停止\r\n"_s) << "S"_ba << "k"_ba << 256
                                        << sj(u"ｺﾝﾄﾛｰﾗ 停止"_s);
        QTest::newRow("invalid bytes match exactly")
            << "[S]\r\n\xFD=1\r\n\xFE=2\r\n"_ba << "S"_ba << "\xFE"_ba << 256 << "2"_ba;
    }
    void read() {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(int, size);
        QFETCH(QByteArray, expected);
        QVERIFY(writeAll(ini(), file));
        QCOMPARE(profile::getString(section, key, "def"_ba, size, ini()), expected);
        QCOMPARE(profile::getString(section, key, "def"_ba, size, ini()), expected);
        QCOMPARE(readAll(ini()), file);
    }

    void readDefault_data() {
        QTest::addColumn<QByteArray>("def");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("trailing spaces dropped") << "  d  "_ba << "  d"_ba;
        QTest::newRow("tab kept") << "d\t"_ba << "d\t"_ba;
        QTest::newRow("empty") << ""_ba << ""_ba;
        QTest::newRow("NUL") << nulOnly() << ""_ba;
    }
    void readDefault() {
        QFETCH(QByteArray, def);
        QFETCH(QByteArray, expected);
        QCOMPARE(profile::getString("S"_ba, "k"_ba, def, 256, ini()), expected);
        QVERIFY(!QFile::exists(ini())); // reading never creates the file
        QVERIFY(writeAll(ini(), "[S]\r\nx=1\r\n"_ba));
        QCOMPARE(profile::getString("S"_ba, "k"_ba, def, 256, ini()), expected);
    }

    void write_data() {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("new file") << false << ""_ba << "Sec"_ba << "key"_ba << "value"_ba
                                  << "[Sec]\r\nkey=value\r\n"_ba;
        QTest::newRow("empty file") << true << ""_ba << "Sec"_ba << "key"_ba << "value"_ba
                                    << "[Sec]\r\nkey=value\r\n"_ba;
        QTest::newRow("caller spaces trimmed") << false << ""_ba << "  Sec "_ba << " key  "_ba << " v "_ba
                                               << "[Sec]\r\nkey= v \r\n"_ba;
        QTest::newRow("empty value") << false << ""_ba << "S"_ba << "k"_ba << ""_ba << "[S]\r\nk=\r\n"_ba;
        QTest::newRow("value verbatim") << false << ""_ba << "S"_ba << "k"_ba << "\"q\";x=y"_ba
                                        << "[S]\r\nk=\"q\";x=y\r\n"_ba;
        QTest::newRow("replace keeps spelling and order")
            << true << "[sec]\r\nKEY=old\r\nother=1\r\n"_ba << "SEC"_ba << "key"_ba << "new"_ba
            << "[sec]\r\nKEY=new\r\nother=1\r\n"_ba;
        QTest::newRow("replace keeps the key's blanks")
            << true << "[S]\r\n \tk = old \r\n"_ba << "S"_ba << "k"_ba << "new"_ba << "[S]\r\n \tk =new\r\n"_ba;
        QTest::newRow("replace keeps LF") << true << "[S]\nk=1\nj=2\n"_ba << "S"_ba << "k"_ba << "3"_ba
                                          << "[S]\nk=3\nj=2\n"_ba;
        QTest::newRow("replace the last line") << true << "[S]\r\nk=v"_ba << "S"_ba << "k"_ba << "v2"_ba
                                               << "[S]\r\nk=v2\r\n"_ba;
        QTest::newRow("first matching key replaced") << true << "[S]\r\nk=1\r\nK=2\r\n"_ba << "S"_ba << "k"_ba
                                                     << "3"_ba << "[S]\r\nk=3\r\nK=2\r\n"_ba;
        QTest::newRow("new key after the last key")
            << true << "[S]\r\na=1\r\n;c=1\r\n\r\n[T]\r\nx=1\r\n"_ba << "S"_ba << "b"_ba << "2"_ba
            << "[S]\r\na=1\r\nb=2\r\n;c=1\r\n\r\n[T]\r\nx=1\r\n"_ba;
        QTest::newRow("new key after a line without =")
            << true << "[S]\r\nraw\r\n\r\n"_ba << "S"_ba << "b"_ba << "2"_ba << "[S]\r\nraw\r\nb=2\r\n\r\n"_ba;
        QTest::newRow("new key after the header") << true << "[S]\r\n;c\r\n[T]\r\n"_ba << "S"_ba << "b"_ba << "2"_ba
                                                  << "[S]\r\nb=2\r\n;c\r\n[T]\r\n"_ba;
        QTest::newRow("header without line break") << true << "[S]"_ba << "s"_ba << "b"_ba << "2"_ba
                                                    << "[S]\r\nb=2\r\n"_ba;
        QTest::newRow("last key without line break") << true << "[S]\r\na=1"_ba << "S"_ba << "b"_ba << "2"_ba
                                                     << "[S]\r\na=1\r\nb=2\r\n"_ba;
        QTest::newRow("first matching section only")
            << true << "[S]\r\na=1\r\n[S]\r\nb=1\r\n"_ba << "S"_ba << "b"_ba << "2"_ba
            << "[S]\r\na=1\r\nb=2\r\n[S]\r\nb=1\r\n"_ba;
        QTest::newRow("new section at the end") << true << "[A]\r\nx=1\r\n\r\n"_ba << "B"_ba << "k"_ba << "v"_ba
                                                << "[A]\r\nx=1\r\n\r\n[B]\r\nk=v\r\n"_ba;
        QTest::newRow("new section, no final break") << true << "[A]\r\nx=1"_ba << "B"_ba << "k"_ba << "v"_ba
                                                     << "[A]\r\nx=1\r\n[B]\r\nk=v\r\n"_ba;
        QTest::newRow("new section after LF lines") << true << "[A]\nx=1\n"_ba << "B"_ba << "k"_ba << "v"_ba
                                                    << "[A]\nx=1\n[B]\r\nk=v\r\n"_ba;
        QTest::newRow("text before the first section kept")
            << true << "junk\r\n; c\r\nk=0\r\n[A]\r\n"_ba << "A"_ba << "k"_ba << "v"_ba
            << "junk\r\n; c\r\nk=0\r\n[A]\r\nk=v\r\n"_ba;
        QTest::newRow("CP932 bytes verbatim") << false << ""_ba << sj(u"設定"_s) << sj(u"ｷｰ"_s)
                                              << sj(u"～①∥\\~"_s) << sj(u"[設定]\r\nｷｰ=～①∥\\~\r\n"_s);
        QTest::newRow("line break in the value")
            << true << "[S]\r\nk=1\r\nTimer=0\r\n"_ba << "S"_ba << "k"_ba << "a\r\nTimer=9"_ba
            << "[S]\r\nk=a\r\nTimer=0\r\n"_ba;
    }
    void write() {
        QFETCH(bool, exists);
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, expected);
        if (exists)
            QVERIFY(writeAll(ini(), file));
        QVERIFY(profile::writeString(section, key, value, ini()));
        QCOMPARE(readAll(ini()), expected);
        QCOMPARE(entries(tmp().path()), QStringList{u"zent.ini"_s});
    }

    // Written values as a later read sees them.
    void roundTrip_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("blanks vanish") << " \tv \t"_ba << "v"_ba;
        QTest::newRow("quotes vanish") << "'v '"_ba << "v "_ba;
        QTest::newRow("Japanese") << sj(u"ｺﾝﾄﾛｰﾗ ゾ表"_s) << sj(u"ｺﾝﾄﾛｰﾗ ゾ表"_s);
        QTest::newRow("empty") << ""_ba << ""_ba;
    }
    void roundTrip() {
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, expected);
        QVERIFY(writeAll(ini(), "[S]\r\nk=old\r\n"_ba));
        QVERIFY(profile::writeString("S"_ba, "k"_ba, value, ini()));
        QCOMPARE(profile::getString("S"_ba, "k"_ba, ""_ba, 256, ini()), expected);
        QVERIFY(profile::writeString("N"_ba, "k"_ba, value, ini()));
        QCOMPARE(profile::getString("n"_ba, "K"_ba, ""_ba, 256, ini()), expected);
    }

    // Names that could never be found again are refused, so the file cannot grow with each write.
    void refusedNames_data() {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("key");
        QTest::newRow("] in the section") << "a]b"_ba << "k"_ba;
        QTest::newRow("tab around the section") << "\tS"_ba << "k"_ba;
        QTest::newRow("= in the key") << "S"_ba << "a=b"_ba;
        QTest::newRow("key opens a section") << "S"_ba << "[k"_ba;
        QTest::newRow("key is a comment") << "S"_ba << ";k"_ba;
        QTest::newRow("line break in the key") << "S"_ba << "k\r"_ba;
    }
    void refusedNames() {
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        const QByteArray before = "[S]\r\nk=1\r\n"_ba;
        QVERIFY(writeAll(ini(), before));
        QVERIFY(!profile::writeString(section, key, "v"_ba, ini()));
        QCOMPARE(readAll(ini()), before);
    }

    void readNeverCreates() {
        QCOMPARE(profile::getString("S"_ba, "k"_ba, ""_ba, 256, ini()), QByteArray());
        QVERIFY(!QFile::exists(ini()));
        QVERIFY(entries(tmp().path()).isEmpty());
    }

    void newFileOwnerOnly() {
        QVERIFY(profile::writeString("S"_ba, "k"_ba, "v"_ba, ini()));
        QCOMPARE(modeOf(ini()), mode_t(0600));
        // An existing file keeps its mode.
        QVERIFY(QFile::setPermissions(ini(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        QVERIFY(profile::writeString("S"_ba, "k"_ba, "w"_ba, ini()));
        QCOMPARE(modeOf(ini()), mode_t(0644));
        QCOMPARE(readAll(ini()), "[S]\r\nk=w\r\n"_ba);
    }

    void failedWriteChangesNothing_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("missing folder") << u"missing"_s;
        QTest::newRow("parent is a file") << u"file"_s;
        QTest::newRow("path is a folder") << u"folder"_s;
        QTest::newRow("path is a pipe") << u"pipe"_s;
        QTest::newRow("read-only folder") << u"readonly"_s;
    }
    void failedWriteChangesNothing() {
        QFETCH(QString, how);
        const QString dir = tmp().filePath(u"d"_s);
        QVERIFY(QDir().mkpath(dir));
        QString path = dir + u"/zent.ini"_s;
        const QByteArray before = "[S]\r\nk=1\r\n"_ba;
        if (how == u"missing") {
            path = tmp().filePath(u"none/zent.ini"_s);
        } else if (how == u"file") {
            QVERIFY(writeAll(dir + u"/f"_s, before));
            path = dir + u"/f/zent.ini"_s;
        } else if (how == u"folder") {
            QVERIFY(QDir().mkpath(path));
        } else if (how == u"pipe") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else {
            if (::geteuid() == 0)
                QSKIP("root writes into read-only folders; the other rows force the failure");
            QVERIFY(writeAll(path, before));
            QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner));
        }
        const QStringList names = entries(dir);
        QVERIFY(!profile::writeString("S"_ba, "k"_ba, "2"_ba, path));
        // Reading a pipe or a folder gives the default at once.
        QCOMPARE(profile::getString("S"_ba, "k"_ba, "d"_ba, 256, path), how == u"readonly" ? "1"_ba : "d"_ba);
        QCOMPARE(entries(dir), names);
        QVERIFY(!QFile::exists(tmp().filePath(u"none"_s)));
        if (how == u"readonly")
            QCOMPARE(readAll(path), before);
        if (how == u"file")
            QCOMPARE(readAll(dir + u"/f"_s), before);
    }

    void largeValues() {
        const QByteArray big(70000, 'z');
        QVERIFY(profile::writeString("S"_ba, "k"_ba, big, ini()));
        QVERIFY(profile::writeString("S"_ba, "j"_ba, "after"_ba, ini()));
        QCOMPARE(readAll(ini()), "[S]\r\nk=" + big + "\r\nj=after\r\n");
        QCOMPARE(profile::getString("S"_ba, "k"_ba, ""_ba, 256, ini()), big.left(255));
        QCOMPARE(profile::getString("S"_ba, "k"_ba, ""_ba, 100000, ini()), big);
        QCOMPARE(profile::getString("S"_ba, "j"_ba, ""_ba, 256, ini()), "after"_ba);
    }

    void binaryGarbage() {
        QRandomGenerator rng(932);
        for (int round = 0; round < 20; ++round) {
            QByteArray junk(1 + rng.bounded(4000), '\0');
            for (char &c : junk)
                c = static_cast<char>(rng.bounded(256));
            if (round % 2)
                junk.append('\x83'); // a first half at the very end
            QVERIFY(writeAll(ini(), junk));
            profile::getString(junk.left(5), junk.mid(5, 3), junk.right(4), 256, ini());
            QVERIFY(profile::writeString("Zentrow"_ba, "k"_ba, "v"_ba, ini()));
            const QByteArray after = readAll(ini());
            QVERIFY(after.size() > junk.size());
            QCOMPARE(profile::getString("Zentrow"_ba, "k"_ba, ""_ba, 256, ini()), "v"_ba);
        }
    }
};

QTEST_GUILESS_MAIN(TestProfile)
#include "tst_profile.moc"
