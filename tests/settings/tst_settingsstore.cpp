#include "settings/codepage.h"
#include "settings/settingsstore.h"
#include "tests/support/testsupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace Qt::Literals::StringLiterals;
using namespace testsupport;

class TestSettingsStore : public QObject {
    Q_OBJECT
    std::optional<QTemporaryDir> dir_;
    QString ini() const { return dir_->filePath(u"zent.ini"_s); }

    // A run's end, then the next run's start.
    SettingsRecord restart(const SettingsRecord &rec) {
        SettingsStore end(dir_->path()), start(dir_->path());
        end.record() = rec;
        end.SaveSetData();
        end.SaveConData();
        start.LoadSetData();
        start.LoadConData();
        return start.record();
    }

private slots:
    void init() { QVERIFY(dir_.emplace().isValid()); }
    void cleanup() { dir_.reset(); }

    void firstRun() {
        SettingsStore store(dir_->path());
        store.record().strFtpSv = u"stale"_s;
        store.record().intTimer = 3;
        store.record().intFtpTls = 1;
        store.LoadSetData();
        store.LoadConData();
        QCOMPARE(store.record(), SettingsRecord{});
        QVERIFY(!QFile::exists(ini()));
        store.SaveSetData();
        store.SaveConData();
        QCOMPARE(
            readAll(ini()),
            "[SetData]\r\nFtpSv=\r\nFtpUser=\r\nFtpPass=\r\nFtpPath=\r\nIpAdd=\r\nChkAuto=0\r\nIpChk=0\r\n"
            "FtpTls=0\r\n[ConData]\r\nWanIp=\r\nPvnSt=\r\nPvnIp=\r\nPvnMsg=\r\nTimer=0\r\n"_ba);
    }

    // A run's end and the next start give back the record; the address of this run, published, becomes
    // the last known one.
    void roundTrip() {
        const QString text = u"ｺﾝﾄﾛｰﾗ 停止中～①∥ p@ss:w=rd;\"q\" #1\\~"_s;
        // A file others may read becomes its owner's alone once it holds the password.
        QVERIFY(writeAll(ini(), ""_ba));
        QVERIFY(QFile::setPermissions(ini(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        // clang-format off
        const SettingsRecord rec{u"203.0.113.7"_s, u"203.0.113.7"_s, u"off"_s, u"198.51.100.2"_s, text + u'M', -1,
                                 text + u'S', text + u'U', text, u"/public_html/ipdata.txt"_s,
                                 u"http://example.jp/nomrel.cgi"_s, 32767, -32768, 1};
        // clang-format on
        SettingsRecord expected = rec;
        expected.strWanIp.clear();
        QCOMPARE(restart(rec), expected);
        const QByteArray file = readAll(ini());
        // The password is stored only as Base64 of its CP932 bytes.
        QVERIFY(file.contains("\r\nFtpPass=" + codepage::toAnsi(text).toBase64() + "\r\n"));
        QCOMPARE(file.count(codepage::toAnsi(text)), 3); // FtpSv, FtpUser, PvnMsg
        QCOMPARE(fileMode(ini()), 0600u);
        // A run that never saw an address passes none on.
        QCOMPARE(restart(expected).strLastWanIp, QString());
    }

    // A timer written by hand reads as the original runtime reads numbers.
    void timerByHand() {
        QVERIFY(writeAll(ini(), "[ConData]\r\nTimer= 3.5\r\n"_ba));
        SettingsStore store(dir_->path());
        store.LoadConData();
        QCOMPARE(store.record().intTimer, qint16(4)); // half to even
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
