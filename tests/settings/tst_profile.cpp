#include "settings/codepage.h"
#include "settings/profile.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <csignal>
#include <optional>

#include <sys/resource.h>

using namespace Qt::Literals::StringLiterals;
using namespace testsupport;

namespace {
constexpr auto sj = &codepage::toAnsi;
const QByteArray kStd = "[Sec]\r\nKey=Val\r\n"_ba;
// A null file stands for none; a null result for a refused write that leaves the file as it was.
using Read = std::array<QByteArray, 4>;  // file, section, key, result
using Write = std::array<QByteArray, 5>; // file, section, key, value, result
} // namespace

class TestProfile : public QObject {
    Q_OBJECT
    std::optional<QTemporaryDir> dir_;
    QString ini() const { return dir_->filePath(u"zent.ini"_s); }
    // Every name in the folder, to see that no temporary file was left behind.
    QStringList entries() const { return QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden); }

private slots:
    void init() { QVERIFY(dir_.emplace().isValid()); }
    void cleanup() { dir_.reset(); }

    void read_data() {
        QTest::addColumn<Read>("r");
        QTest::newRow("no file") << Read{QByteArray(), "Sec", "Key", "def"};
        QTest::newRow("names ignore case") << Read{kStd, "sEC", "kEY", "Val"};
        QTest::newRow("spaces of the caller") << Read{kStd, "  Sec ", " Key  ", "Val"};
        QTest::newRow("blanks in the file")
            << Read{" \t[ \tSec\v ] \r\n \t Key \v= \t Val \t\v\r\n", "Sec", "Key", "Val"};
        QTest::newRow("quotes") << Read{"[S]\r\nk= \"  a b  \" \r\n", "S", "k", "  a b  "};
        QTest::newRow("comment line") << Read{"[S]\r\n ;k=1\r\n", "S", ";k", "def"};
        QTest::newRow("before the first section") << Read{"k=1\r\n[S]\r\n", "S", "k", "def"};
        const QByteArray twice = "[S]\r\na=1\r\nA=2\r\n[T]\r\n[s]\r\nb=3\r\n";
        QTest::newRow("first key") << Read{twice, "S", "a", "1"};
        QTest::newRow("first section only") << Read{twice, "S", "b", "def"};
        QTest::newRow("CR and LF lines") << Read{"[A]\ra=1\r[S]\nk=2", "S", "k", "2"};
        // ゾ ends in the byte of "]"; ア and ヂ differ only in a second byte that is a letter.
        QTest::newRow("] as a second byte") << Read{sj(u"[ゾ]\r\nk=1\r\n"_s), sj(u"ゾ"_s), "k", "1"};
        QTest::newRow("second bytes keep their case")
            << Read{sj(u"[S]\r\nヂ=1\r\nア=2\r\n"_s), "S", sj(u"ア"_s), "2"};
        const QByteArray y300(300, 'y'), a127 = sj(QString(127, u'あ'));
        QTest::newRow("cut to 255 bytes") << Read{"[S]\r\nk=" + y300, "S", "k", y300.left(255)};
        QTest::newRow("255 bytes with double-byte") << Read{"[S]\r\nk=x" + a127, "S", "k", "x" + a127};
        QTest::newRow("no half character") << Read{"[S]\r\nk=" + a127 + sj(u"あ"_s), "S", "k", a127};
    }
    void read() {
        QFETCH(Read, r);
        const auto &[file, section, key, result] = r;
        if (!file.isNull())
            QVERIFY(writeAll(ini(), file));
        QCOMPARE(profile::getString(section, key, "def  "_ba, 256, ini()), result);
        QCOMPARE(readAll(ini()), file); // reading never creates or changes the file
        QCOMPARE(entries().size(), file.isNull() ? 0 : 1);
    }

    void write_data() {
        QTest::addColumn<Write>("w");
        QTest::newRow("new file") << Write{QByteArray(), "  Sec ", " key  ", " v ", "[Sec]\r\nkey= v \r\n"};
        QTest::newRow("replace in place") << Write{"[sec]\n \tKEY = old \nother=1\r\nkey=2\r\n", "SEC", "key",
                                                   "new", "[sec]\n \tKEY =new\nother=1\r\nkey=2\r\n"};
        QTest::newRow("new key after the last key")
            << Write{"[S]\na=1\n;c\n\n[T]\n", "S", "b", "2", "[S]\na=1\nb=2\r\n;c\n\n[T]\n"};
        QTest::newRow("new key after the header") << Write{"[S]\n;c\n", "s", "b", "2", "[S]\nb=2\r\n;c\n"};
        QTest::newRow("no final break") << Write{"[S]\r\na=1", "S", "b", "2", "[S]\r\na=1\r\nb=2\r\n"};
        QTest::newRow("first section") << Write{"[S]\na=1\n[S]\n", "S", "b", "2", "[S]\na=1\nb=2\r\n[S]\n"};
        QTest::newRow("new section at the end")
            << Write{"junk\nk=0\n[A]", "B", "k", "v", "junk\nk=0\n[A]\r\n[B]\r\nk=v\r\n"};
        QTest::newRow("value ends at a line break")
            << Write{"[S]\nk=1\nTimer=0\n", "S", "k", "a\r\nTimer=9", "[S]\nk=a\nTimer=0\n"};
        // Names a read could never find again would add a line with every write.
        QTest::newRow("= in the key") << Write{kStd, "Sec", "a=b", "v", {}};
        QTest::newRow("line break in the key") << Write{kStd, "Sec", "k\r", "v", {}};
    }
    void write() {
        QFETCH(Write, w);
        const auto &[file, section, key, value, result] = w;
        if (!file.isNull()) {
            QVERIFY(writeAll(ini(), file));
            QVERIFY(QFile::setPermissions(ini(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        }
        QCOMPARE(profile::writeString(section, key, value, ini()), !result.isNull());
        QCOMPARE(readAll(ini()), result.isNull() ? file : result);
        // The file holds the FTP password: a new one is its owner's alone; an existing one keeps its mode.
        QCOMPARE(fileMode(ini()), file.isNull() ? 0600u : 0604u);
        QCOMPARE(entries(), QStringList{u"zent.ini"_s});
    }

    // A size limit fails the write part way, as a full disk does: the old file stays whole, no stray file.
    void failedWriteKeepsOldFile() {
        QVERIFY(writeAll(ini(), kStd));
        rlimit old{};
        ::getrlimit(RLIMIT_FSIZE, &old);
        const rlimit small{4096, old.rlim_max};
        ::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &small);
        const bool written = profile::writeString("Sec"_ba, "Key"_ba, QByteArray(70000, 'z'), ini());
        ::setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!written);
        QCOMPARE(readAll(ini()), kStd);
        QCOMPARE(entries(), QStringList{u"zent.ini"_s});
    }
};

QTEST_GUILESS_MAIN(TestProfile)
#include "tst_profile.moc"
