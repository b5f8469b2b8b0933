// Faults of the local files: a profile in a bad state loads without harm and saves into a sound
// file; a device that refuses a write leaves zent.ini and ipdata.txt as they were.
#include "controller/ipdata.h"
#include "settings/profile.h"
#include "settings/settingsstore.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using namespace testsupport;

namespace {

QByteArray randomBytes(qsizetype words, quint32 start) {
    QList<quint32> out(words);
    QRandomGenerator(start).fillRange(out.data(), out.size());
    return QByteArray(reinterpret_cast<const char *>(out.constData()), words * 4);
}

void save(const QString &folder, const SettingsRecord &rec) {
    SettingsStore s(folder);
    s.record() = rec;
    s.SaveSetData();
    s.SaveConData();
}

SettingsRecord load(const QString &folder) {
    SettingsStore s(folder);
    s.LoadSetData();
    s.LoadConData();
    return s.record();
}

// A 64 KiB tmpfs, or a change to its flags.
bool mountSmall(const QByteArray &dir, unsigned long flags = 0) {
    return ::mount("zentrow-test", dir.constData(), "tmpfs", MS_NOSUID | MS_NODEV | flags,
                   "size=64k,mode=0700") == 0;
}

} // namespace

class TstFaultsFiles : public QObject {
    Q_OBJECT
private slots:
    void profileContent_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("keepsSettings"); // the settings in it load
        const QByteArray settings = "[SetData]\r\nFtpUser=old\r\n[ConData]\r\nPvnMsg=old\r\n"_ba;
        QTest::newRow("garbage bytes") << randomBytes(5000, 1) << false;
        QTest::newRow("section without ]")
            << "[SetData\r\nFtpUser=old\r\n[ConData\r\nPvnMsg=old\r\n"_ba << true;
        QTest::newRow("huge, settings at the end") << randomBytes(1 << 21, 2) + "\r\n" + settings << true;
        QTest::newRow("larger than a profile can be") << settings + randomBytes(1 << 22, 3) << false;
    }
    // Loading never fails; a save gives a file that loads back to exactly what was saved, keeps what
    // it does not own and does not grow with further saves; a file too large to be a profile stays.
    void profileContent() {
        QFETCH(QByteArray, content);
        QFETCH(bool, keepsSettings);
        const bool writable = content.size() <= profile::kMaxFileBytes;
        QTemporaryDir dir;
        const QString ini = dir.filePath(u"zent.ini"_s);
        QVERIFY(writeAll(ini, content));
        const SettingsRecord loaded = load(dir.path());
        QCOMPARE(loaded.strFtpUser + loaded.strPvnMsg, keepsSettings ? u"oldold"_s : QString());

        SettingsRecord rec; // strWanIp left empty: a later run loads it as strLastWanIp
        rec.strPvnMsg = u"閉鎖中です"_s;
        rec.intTimer = 2;
        rec.strFtpUser = u"new"_s;
        save(dir.path(), rec);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"zent.ini"_s});
        const QByteArray once = readAll(ini);
        QCOMPARE(once == content, !writable);
        QVERIFY(keepsSettings || !writable || once.startsWith(content)); // appended to, nothing of it lost
        QCOMPARE(load(dir.path()), writable ? rec : loaded);
        save(dir.path(), rec);
        QCOMPARE(readAll(ini), once);
    }

    void refusedWrite_data() {
        QTest::addColumn<bool>("full"); // or else read-only
        QTest::newRow("full device") << true;
        QTest::newRow("read-only device") << false;
    }
    // The write fails as a whole: the old files stay byte for byte, no temporary is left, and
    // once the fault is gone the next save works.
    void refusedWrite() {
        QFETCH(bool, full);
        QTemporaryDir tmp;
        const QString ini = tmp.filePath(u"zent.ini"_s), ipdataPath = tmp.filePath(u"ipdata.txt"_s);
        const QByteArray path = QFile::encodeName(tmp.path());
        // In a mount namespace of its own, the tmpfs goes with the process, even on a crash.
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 || !mountSmall(path))
            QSKIP(qPrintable(u"no tmpfs of its own: "_s + qt_error_string()));
        const auto unmount = qScopeGuard([&] { ::umount2(path.constData(), MNT_DETACH); });
        SettingsRecord rec;
        rec.strPvnMsg = u"first"_s;
        save(tmp.path(), rec);
        QVERIFY(ipdata::write(ipdataPath, {u"on"_s, u"203.0.113.7"_s, u"m"_s}));
        const QByteArray iniBefore = readAll(ini), ipdataBefore = readAll(ipdataPath);
        QVERIFY(iniBefore.contains("first"));
        if (full) { // every last byte of the device goes to one file
            const int fd = ::open((path + "/filler").constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
            while (fd >= 0 && ::write(fd, "f", 1) == 1) {
            }
            QVERIFY(errno == ENOSPC && ::close(fd) == 0);
        }
        QVERIFY(full || mountSmall(path, MS_REMOUNT | MS_RDONLY));
        const QStringList names = QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden);

        rec.strPvnMsg = u"second, a longer message than the first one"_s;
        save(tmp.path(), rec);
        QVERIFY(!ipdata::write(ipdataPath, {u"off"_s, u"198.51.100.9"_s, u"a longer closed message"_s}));
        QCOMPARE(readAll(ini), iniBefore);
        QCOMPARE(readAll(ipdataPath), ipdataBefore);
        QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden), names);

        QVERIFY(full ? QFile::remove(tmp.filePath(u"filler"_s)) : mountSmall(path, MS_REMOUNT));
        save(tmp.path(), rec);
        QCOMPARE(load(tmp.path()), rec);
        QVERIFY(ipdata::write(ipdataPath, {u"off"_s}));
    }
};

QTEST_GUILESS_MAIN(TstFaultsFiles)
#include "tst_faults_files.moc"
