// zent.ini and its numbers as the original runtime reads and writes them, whatever the file held before.
#include "engine/codepage.h"
#include "engine/profile.h"
#include "engine/settingsstore.h"
#include "engine/vbnumber.h"
#include "tests/support/testsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <csignal>
#include <sys/resource.h>

using namespace Qt::Literals::StringLiterals;
using namespace testsupport;

namespace {
const double kError = qQNaN(); // Val raises an error
constexpr auto sj = &codepage::toAnsi;
const QByteArray kStd = "[Sec]\r\nKey=Val\r\n"_ba;
constexpr auto kOthersRead = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther;
// A null file stands for none; a null result for a refused write that leaves the file as it was.
using Read = std::array<QByteArray, 4>;          // file, section, key, result
using Write = std::array<QByteArray, 5>;         // file, section, key, value, result
using Number = std::tuple<QString, double, int>; // text, Val (kError: an error), toInt16

// Bytes of every kind, CR, LF, "[", "]", "=" and ";" among them.
const QByteArray kGarbage = QCryptographicHash::hash("zentrow5582", QCryptographicHash::Sha512);

} // namespace

class tst_settings : public QObject {
    Q_OBJECT
    std::optional<QTemporaryDir> dir_;
    QString ini() const { return dir_->filePath(u"zent.ini"_s); }
    // Every name in the folder, to see that no temporary file was left behind.
    QStringList entries() const { return QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden); }

private slots:
    void init() { QVERIFY(dir_.emplace().isValid()); }
    void cleanup() { dir_.reset(); }

    // What Val gives, and what the 16-bit conversion of the stored settings makes of it.
    void number_data() {
        QTest::addColumn<Number>("n");
        auto row = [](const char *name, const QString &text, double val, int int16) {
            QTest::newRow(name) << Number{text, val, int16};
        };
        row("blanks inside", u" 2 45 9"_s, 2459, 2459);
        row("stops at a word", u"\t24 and 57"_s, 24, 24);
        row("no digits", u"x1"_s, 0, 0);
        row("exponent, half to even down", u"25E-1"_s, 2.5, 2);
        row("exponent D with a sign", u"1D+20"_s, 1e20, 0);
        row("half to even up", u"3.5"_s, 3.5, 4);
        row("rounds out of range", u"32767.5"_s, 32767.5, 0);
        row("rounds into range", u"-32768.5"_s, -32768.5, -32768);
        row("E without digits, type character", u"5E%"_s, 5, 5);
        row("type character after a fraction", u"50.5%"_s, kError, 0);
        row("type character after an exponent", u"2E1&"_s, kError, 0);
        row("overflow", u"1e999"_s, kError, 0);
        row("hex 16 bits", u"&hFFFF"_s, -1, -1);
        row("hex 16 bits forced", u"&HFFFF%"_s, -1, -1);
        row("hex 32 bits", u"&H9aA0f"_s, 0x9AA0F, 0);
        row("hex 32 bits forced", u"&HFFFF&"_s, 65535, 0);
        row("hex 32 bits, all set", u"&HFFFFFFFF"_s, -1, -1);
        row("hex too wide", u"&H1FFFFFFFF"_s, kError, 0);
        row("octal", u"&O17"_s, 15, 15);
        row("octal stops at 8", u"&o108"_s, 8, 8);
    }
    void number() {
        QFETCH(Number, n);
        const auto &[text, val, int16] = n;
        QCOMPARE(vbnumber::Val(text).value_or(kError), val); // NaN equals NaN here
        QCOMPARE(int(vbnumber::toInt16(text)), int16);
    }

    void read_data() {
        QTest::addColumn<Read>("r");
        QTest::newRow("no file") << Read{QByteArray(), "Sec", "Key", "def"};
        QTest::newRow("names ignore case") << Read{kStd, "sEC", "kEY", "Val"};
        QTest::newRow("spaces of the caller") << Read{kStd, "  Sec ", " Key  ", "Val"};
        QTest::newRow("blanks in the file")
            << Read{" \t[ \tSec\v ] \r\n \t Key \v= \t Val \t\v\r\n", "Sec", "Key", "Val"};
        QTest::newRow("only blanks") << Read{"[S]\r\nk= \t\r\nx=1\r\n", "S", "k", ""};
        QTest::newRow("empty key") << Read{"[S]\r\n =v\r\n", "S", "", "v"};
        QTest::newRow("quotes") << Read{"[S]\r\nk= \"  a b  \" \r\n", "S", "k", "  a b  "};
        QTest::newRow("a key of katakana is another key")
            << Read{"[S]\r\n\xB7\xB0=1\r\nk=2\r\n", "S", "k", "2"};
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
        QTest::newRow("255 bytes, a first half last")
            << Read{"[S]\r\nk=" + y300.left(254) + "\x82", "S", "k", y300.left(254) + "\x82"};
        const QByteArray full = "[S]\r\nk=1\r\n" + QByteArray(profile::kMaxFileBytes - 10, '\n');
        QTest::newRow("as large as a profile can be") << Read{full, "S", "k", "1"};
        QTest::newRow("one byte larger") << Read{full + '\n', "S", "k", "def"};
        QTest::newRow("garbage, then the section")
            << Read{kGarbage.repeated(1 << 17) + "\n[S]\nk=1", "S", "k", "1"};
        QTest::newRow("section without ]") << Read{"[S\r\nk=1\r\n", "S", "k", "1"};
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
        const QByteArray garbage = kGarbage.repeated(100),
                         big = kStd + QByteArray(profile::kMaxFileBytes, '\n');
        QTest::newRow("garbage, kept") << Write{garbage, "S", "k", "v", garbage + "\r\n[S]\r\nk=v\r\n"};
        QTest::newRow("section without ]") << Write{"[S \r\nk=1\r\n", "S", "k", "2", "[S \r\nk=2\r\n"};
        QTest::newRow("larger than a profile can be: never replaced") << Write{big, "Sec", "Key", "v", {}};
        QTest::newRow("fails part way: the file stays whole")
            << Write{kStd, "Sec", "Key", QByteArray(1 << 21, 'v'), {}};
        QTest::newRow("value ends at a NUL")
            << Write{kStd, "Sec", "Key", QByteArray("\0v", 2), "[Sec]\r\nKey=\r\n"};
        // Names a read could never find again would add a line with every write.
        QTest::newRow("= in the key") << Write{kStd, "Sec", "a=b", "v", {}};
        QTest::newRow("line break in the key") << Write{kStd, "Sec", "k\r", "v", {}};
    }
    void write() {
        QFETCH(Write, w);
        const auto &[file, section, key, value, result] = w;
        QVERIFY(file.isNull() || (writeAll(ini(), file) && QFile::setPermissions(ini(), kOthersRead)));
        // A file past 1 MiB fails part way, as on a full disk.
        rlimit old{};
        ::getrlimit(RLIMIT_FSIZE, &old);
        const rlimit limit{1 << 20, old.rlim_max};
        ::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const bool written = profile::writeString(section, key, value, ini());
        ::setrlimit(RLIMIT_FSIZE, &old);
        QCOMPARE(written, !result.isNull());
        QCOMPARE(readAll(ini()), result.isNull() ? file : result);
        // The file holds the FTP password: a new one is its owner's alone; an existing one keeps its mode.
        QCOMPARE(fileMode(ini()), file.isNull() ? 0600u : 0604u);
        QCOMPARE(entries(), QStringList{u"zent.ini"_s});
    }

    // Saved settings hold the FTP password: a file others could read becomes its owner's alone.
    void ownerOnly() {
        QVERIFY(writeAll(ini(), {}) && QFile::setPermissions(ini(), kOthersRead));
        SettingsStore(dir_->path()).SaveSetData();
        QCOMPARE(fileMode(ini()), 0600u);
    }
};

QTEST_GUILESS_MAIN(tst_settings)
#include "tst_settings.moc"
