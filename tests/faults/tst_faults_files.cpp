// Faults of the local files: a profile in a bad state loads without harm and saves into a
// sound file; a device that refuses a write leaves zent.ini and ipdata.txt as they were.
#include "controller/ipdata.h"
#include "settings/profile.h"
#include "settings/settingsstore.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using testsupport::readAll;
using testsupport::writeAll;

namespace {

QStringList filesIn(const QString &dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

QByteArray randomBytes(qsizetype size, quint32 seed, bool printable) {
    QRandomGenerator rng(seed);
    QByteArray out(size, '\0');
    for (char &c : out)
        c = printable ? "ab=[]; \r\n\t,x"[rng.bounded(13)] : char(rng.bounded(256));
    return out;
}

SettingsRecord sample(const QString &tag) {
    SettingsRecord r;
    r.strWanIp = u"203.0.113.7"_s;
    r.strPvnSt = u"on"_s;
    r.strPvnIp = u"198.51.100.2"_s;
    r.strPvnMsg = u"閉鎖中です "_s + tag;
    r.intTimer = 2;
    r.strFtpSv = u"ftp.example.jp"_s;
    r.strFtpUser = u"user-"_s + tag;
    r.strFtpPass = u"p@ss"_s;
    r.strFtpPath = u"/www/ipdata.txt"_s;
    r.strIpAdd = u"http://example.jp/nomrel.cgi"_s;
    r.intChkAuto = 1;
    r.intIpChk = 0;
    return r;
}

// What a later run loads after `saved` was saved.
SettingsRecord asLoaded(SettingsRecord saved) {
    saved.strLastWanIp = saved.strWanIp;
    saved.strWanIp.clear();
    return saved;
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

// A small tmpfs of this process's own, gone with the process even if a test crashes.
class SmallDevice {
public:
    explicit SmallDevice(const QString &dir) : path_(QFile::encodeName(dir)) {
        mounted_ = ::mount("zentrow-test", path_.constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                           "size=64k,mode=0700") == 0;
    }
    ~SmallDevice() {
        if (mounted_)
            ::umount2(path_.constData(), MNT_DETACH);
    }
    bool isMounted() const { return mounted_; }
    bool setReadOnly(bool ro) {
        return ::mount(nullptr, path_.constData(), nullptr, MS_REMOUNT | MS_NOSUID | MS_NODEV | (ro ? MS_RDONLY : 0),
                       "size=64k,mode=0700") == 0;
    }
    // Fills every last byte with one file; false when the device never filled up.
    bool fill() {
        const int fd = ::open((path_ + "/filler").constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        const QByteArray block(4096, 'f');
        while (::write(fd, block.constData(), size_t(block.size())) > 0) {
        }
        bool full = errno == ENOSPC;
        while (full && ::write(fd, "f", 1) == 1) {
        }
        full = full && errno == ENOSPC;
        ::close(fd);
        return full;
    }
    bool empty() { return ::unlink((path_ + "/filler").constData()) == 0; }

private:
    QByteArray path_;
    bool mounted_ = false;
};

// A file size limit of 0 for this process: every write to a file fails with EFBIG.
class NoFileGrowth {
public:
    NoFileGrowth() {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit none = old_;
        none.rlim_cur = 0;
        ::setrlimit(RLIMIT_FSIZE, &none);
    }
    ~NoFileGrowth() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    NoFileGrowth(const NoFileGrowth &) = delete;
    NoFileGrowth &operator=(const NoFileGrowth &) = delete;

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

} // namespace

class TstFaultsFiles : public QObject {
    Q_OBJECT

    // Why mounting is not possible here; empty when it is.
    QString noMounts_;

private slots:
    void initTestCase();
    void profileContent_data();
    void profileContent();
    void refusedWrite_data();
    void refusedWrite();
};

void TstFaultsFiles::initTestCase() {
    // Mounts made after this stay inside this process and vanish with it.
    if (::unshare(CLONE_NEWNS) != 0)
        noMounts_ = u"no mount namespace of its own: "_s + QString::fromLocal8Bit(std::strerror(errno));
    else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        noMounts_ = u"mounts cannot be made private: "_s + QString::fromLocal8Bit(std::strerror(errno));
}

void TstFaultsFiles::profileContent_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("keepsSettings"); // the settings in it load
    QTest::addColumn<bool>("writable");      // a save replaces it

    const QByteArray settings = "[SetData]\r\nFtpSv=ftp.example.jp\r\nFtpUser=user-old\r\n"
                                "[ConData]\r\nTimer=3\r\nPvnMsg=old\r\n"_ba;
    QTest::newRow("garbage text") << randomBytes(20000, 1, true) << false << true;
    QTest::newRow("binary") << randomBytes(20000, 2, false) << false << true;
    QTest::newRow("NUL bytes") << QByteArray(4096, '\0') << false << true;
    QTest::newRow("UTF-16 with BOM") << "\xFF\xFE[\0S\0e\0t\0D\0a\0t\0a\0]\0\r\0\n\0"_ba << false << true;
    QTest::newRow("section without ]") << "[SetData\r\nFtpSv=ftp.example.jp\r\nFtpUser=user-old\r\n"
                                          "[ConData\r\nTimer=3\r\nPvnMsg=old\r\n"_ba
                                       << true << true;
    QTest::newRow("settings after binary") << randomBytes(20000, 3, false) + "\r\n" + settings << true << true;
    QTest::newRow("huge, settings at the end")
        << randomBytes(profile::kMaxFileBytes / 2, 4, true) + "\r\n" + settings << true << true;
    QTest::newRow("larger than a profile can be")
        << settings + randomBytes(profile::kMaxFileBytes, 5, true) << false << false;
}

// Loading never fails; saving gives a file that loads back to exactly what was saved, keeps
// what it does not own, and does not grow with further saves.
void TstFaultsFiles::profileContent() {
    QFETCH(QByteArray, content);
    QFETCH(bool, keepsSettings);
    QFETCH(bool, writable);
    QTemporaryDir dir;
    const QString ini = dir.filePath(u"zent.ini"_s);
    QVERIFY(writeAll(ini, content));

    const SettingsRecord loaded = load(dir.path());
    if (keepsSettings) {
        QCOMPARE(loaded.strFtpSv, u"ftp.example.jp"_s);
        QCOMPARE(loaded.strFtpUser, u"user-old"_s);
        QCOMPARE(loaded.intTimer, qint16(3));
        QCOMPARE(loaded.strPvnMsg, u"old"_s);
    } else {
        QCOMPARE(loaded.strFtpSv, QString());
        QCOMPARE(loaded.intTimer, qint16(0));
    }

    const SettingsRecord rec = sample(u"new"_s);
    save(dir.path(), rec);
    QCOMPARE(filesIn(dir.path()), QStringList{u"zent.ini"_s});
    const QByteArray once = readAll(ini);
    if (!writable) {
        QCOMPARE(once, content);
        return;
    }
    QCOMPARE(load(dir.path()), asLoaded(rec));
    if (!keepsSettings)
        QVERIFY(once.startsWith(content)); // appended to, nothing of it lost
    save(dir.path(), rec);
    QCOMPARE(readAll(ini), once);
}

void TstFaultsFiles::refusedWrite_data() {
    QTest::addColumn<QString>("fault");
    QTest::newRow("full device") << u"full"_s;
    QTest::newRow("read-only device") << u"read-only device"_s;
    QTest::newRow("read-only folder") << u"read-only folder"_s;
    QTest::newRow("file size limit") << u"size limit"_s;
}

// The write fails as a whole: the old files stay byte for byte, no temporary is left, and
// once the fault is gone the next save works.
void TstFaultsFiles::refusedWrite() {
    QFETCH(QString, fault);
    QTemporaryDir tmp;
    const QString folder = tmp.filePath(u"program"_s);
    QVERIFY(QDir().mkpath(folder));
    std::unique_ptr<SmallDevice> device;
    if (fault == u"full" || fault == u"read-only device") {
        if (!noMounts_.isEmpty())
            QSKIP(qPrintable(noMounts_));
        device = std::make_unique<SmallDevice>(folder);
        if (!device->isMounted())
            QSKIP("tmpfs cannot be mounted here");
    }
    if (fault == u"read-only folder" && ::geteuid() == 0)
        QSKIP("root writes into read-only folders; the read-only device row refuses root too");

    const SettingsRecord first = sample(u"first"_s);
    save(folder, first);
    const QString ini = QDir(folder).filePath(u"zent.ini"_s);
    const QString ipdataPath = QDir(folder).filePath(u"ipdata.txt"_s);
    QVERIFY(ipdata::write(ipdataPath, {u"on"_s, u"203.0.113.7"_s, u"m"_s}));
    const QByteArray iniBefore = readAll(ini);
    const QByteArray ipdataBefore = readAll(ipdataPath);
    QVERIFY(!iniBefore.isEmpty() && !ipdataBefore.isEmpty());

    if (fault == u"full")
        QVERIFY(device->fill());
    else if (fault == u"read-only device")
        QVERIFY(device->setReadOnly(true));
    else if (fault == u"read-only folder")
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    const QStringList names = filesIn(folder);

    const SettingsRecord second = sample(u"second, a longer message than the first one"_s);
    bool written;
    {
        std::optional<NoFileGrowth> limit;
        if (fault == u"size limit")
            limit.emplace();
        save(folder, second);
        written = ipdata::write(ipdataPath, {u"off"_s, u"198.51.100.9"_s, u"a longer closed message"_s});
    }
    QCOMPARE(readAll(ini), iniBefore);
    QCOMPARE(readAll(ipdataPath), ipdataBefore);
    QVERIFY(!written);
    QCOMPARE(filesIn(folder), names);
    QCOMPARE(load(folder), asLoaded(first));

    if (fault == u"full")
        QVERIFY(device->empty());
    else if (fault == u"read-only device")
        QVERIFY(device->setReadOnly(false));
    else if (fault == u"read-only folder")
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    save(folder, second);
    QCOMPARE(load(folder), asLoaded(second));
    QVERIFY(ipdata::write(ipdataPath, {u"off"_s}));
}

QTEST_GUILESS_MAIN(TstFaultsFiles)
#include "tst_faults_files.moc"
