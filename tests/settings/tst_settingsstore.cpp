#include "settings/codepage.h"
#include "settings/settingsstore.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;
using testsupport::readAll;
using testsupport::writeAll;

namespace {

QByteArray sj(const QString &text) { return codepage::toAnsi(text); }

mode_t modeOf(const QString &path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

const QByteArray kEmptyProfile = "[SetData]\r\nFtpSv=\r\nFtpUser=\r\nFtpPass=\r\nFtpPath=\r\nIpAdd=\r\nChkAuto=0\r\nIpChk=0\r\n"
                                 "[ConData]\r\nWanIp=\r\nPvnSt=\r\nPvnIp=\r\nPvnMsg=\r\nTimer=0\r\n"_ba;

} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    QString folder() const { return dir_->path(); }
    QString ini() const { return dir_->filePath(u"zent.ini"_s); }

    // A run's end followed by the next run's start.
    SettingsRecord restart(const SettingsRecord &rec) {
        SettingsStore end(folder());
        end.record() = rec;
        end.SaveSetData();
        end.SaveConData();
        SettingsStore start(folder());
        start.LoadSetData();
        start.LoadConData();
        return start.record();
    }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
    }
    void cleanup() { dir_.reset(); }

    void firstRun() {
        SettingsStore store(folder());
        store.record().strFtpSv = u"stale"_s;
        store.record().intTimer = 3;
        store.LoadSetData();
        store.LoadConData();
        QCOMPARE(store.record(), SettingsRecord{});
        QVERIFY(!QFile::exists(ini()));

        store.SaveSetData();
        store.SaveConData();
        QCOMPARE(readAll(ini()), kEmptyProfile);
        QCOMPARE(modeOf(ini()), mode_t(0600));
    }

    void textsRoundTrip_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("ASCII") << u"ftp.example.jp"_s;
        QTest::newRow("Japanese") << u"ｺﾝﾄﾛｰﾗ 停止中です～①∥"_s;
        QTest::newRow("symbols") << u"p@ss:w=rd;\"q\" #1\\~"_s;
        QTest::newRow("empty") << QString();
    }
    void textsRoundTrip() {
        QFETCH(QString, text);
        SettingsRecord rec;
        rec.strWanIp = u"203.0.113.7"_s;
        rec.strPvnSt = u"off"_s;
        rec.strPvnIp = u"198.51.100.2"_s;
        rec.strPvnMsg = text;
        rec.intTimer = 4;
        rec.strFtpSv = text;
        rec.strFtpUser = text;
        rec.strFtpPass = text;
        rec.strFtpPath = u"/public_html/cgi-bin/ipdata.txt"_s;
        rec.strIpAdd = u"http://example.jp/nomrel.cgi"_s;
        rec.intChkAuto = 1;
        rec.intIpChk = 1;

        SettingsRecord expected = rec;
        expected.strLastWanIp = rec.strWanIp;
        expected.strWanIp.clear();
        QCOMPARE(restart(rec), expected);

        const QByteArray file = readAll(ini());
        QVERIFY(file.contains("\r\nFtpUser=" + sj(text) + "\r\n"));
        QVERIFY(file.contains("\r\nPvnMsg=" + sj(text) + "\r\n"));
        // The password is stored only as Base64 of its CP932 bytes.
        QVERIFY(file.contains("\r\nFtpPass=" + sj(text).toBase64() + "\r\n"));
        if (!text.isEmpty())
            QCOMPARE(file.count(sj(text)), 3); // FtpSv, FtpUser, PvnMsg
    }

    void numbersLoad_data() {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("expected");
        QTest::newRow("Timer 3") << "ConData"_ba << "Timer"_ba << "3"_ba << 3;
        QTest::newRow("Timer blank 4") << "ConData"_ba << "Timer"_ba << " 4"_ba << 4;
        QTest::newRow("Timer 2.5") << "ConData"_ba << "Timer"_ba << "2.5"_ba << 2;
        QTest::newRow("Timer 3.5") << "ConData"_ba << "Timer"_ba << "3.5"_ba << 4;
        QTest::newRow("Timer -1") << "ConData"_ba << "Timer"_ba << "-1"_ba << -1;
        QTest::newRow("Timer letters") << "ConData"_ba << "Timer"_ba << "abc"_ba << 0;
        QTest::newRow("Timer empty") << "ConData"_ba << "Timer"_ba << ""_ba << 0;
        QTest::newRow("Timer out of range") << "ConData"_ba << "Timer"_ba << "40000"_ba << 0;
        QTest::newRow("ChkAuto 1") << "SetData"_ba << "ChkAuto"_ba << "1"_ba << 1;
        QTest::newRow("IpChk unchecked value") << "SetData"_ba << "IpChk"_ba << "7"_ba << 7;
    }
    void numbersLoad() {
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, stored);
        QFETCH(int, expected);
        const QByteArray file = '[' + section + "]\r\n" + key + '=' + stored + "\r\n";
        QVERIFY(writeAll(ini(), file));
        SettingsStore store(folder());
        store.LoadSetData();
        store.LoadConData();
        const SettingsRecord &r = store.record();
        const int actual = key == "Timer" ? r.intTimer : key == "ChkAuto" ? r.intChkAuto : r.intIpChk;
        QCOMPARE(actual, expected);
        QCOMPARE(readAll(ini()), file);
    }

    void numbersSaved() {
        SettingsRecord rec;
        rec.intTimer = -1;
        rec.intChkAuto = 32767;
        rec.intIpChk = -32768;
        const SettingsRecord back = restart(rec);
        QCOMPARE(back.intTimer, qint16(-1));
        QCOMPARE(back.intChkAuto, qint16(32767));
        QCOMPARE(back.intIpChk, qint16(-32768));
        const QByteArray file = readAll(ini());
        QVERIFY(file.contains("\r\nTimer=-1\r\n"));
        QVERIFY(file.contains("\r\nChkAuto=32767\r\n"));
        QVERIFY(file.contains("\r\nIpChk=-32768\r\n"));
    }

    // The address passes from one run to the next; a run that never saw one passes on nothing.
    void wanIpHandOver() {
        SettingsRecord rec;
        rec.strWanIp = u"203.0.113.7"_s;
        SettingsRecord next = restart(rec);
        QCOMPARE(next.strLastWanIp, u"203.0.113.7"_s);
        QCOMPARE(next.strWanIp, QString());
        next = restart(next);
        QCOMPARE(next.strLastWanIp, QString());
        QVERIFY(readAll(ini()).contains("\r\nWanIp=\r\n"));
    }

    void longMessage_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("loaded");
        QTest::newRow("300 ASCII") << QString(300, u'm') << QString(255, u'm');
        QTest::newRow("200 double-byte") << QString(200, u'閉') << QString(127, u'閉');
        QTest::newRow("mixed, cut before a double-byte")
            << u"ab"_s + QString(150, u'ﾃ') + QString(60, u'鎖') << u"ab"_s + QString(150, u'ﾃ') + QString(51, u'鎖');
    }
    void longMessage() {
        QFETCH(QString, message);
        QFETCH(QString, loaded);
        SettingsRecord rec;
        rec.strPvnMsg = message;
        QCOMPARE(restart(rec).strPvnMsg, loaded);
        QVERIFY(readAll(ini()).contains("\r\nPvnMsg=" + sj(message) + "\r\n"));
    }

    void passwordStoredForm_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("password");
        QTest::newRow("valid") << "cEBzcw=="_ba << u"p@ss"_s;
        QTest::newRow("Japanese") << sj(u"パス"_s).toBase64() << u"パス"_s;
        QTest::newRow("not Base64") << "!!!"_ba << QString();
        QTest::newRow("missing") << QByteArray() << QString();
    }
    void passwordStoredForm() {
        QFETCH(QByteArray, stored);
        QFETCH(QString, password);
        QVERIFY(writeAll(ini(), stored.isNull() ? "[SetData]\r\n"_ba : "[SetData]\r\nFtpPass=" + stored + "\r\n"));
        SettingsStore store(folder());
        store.LoadSetData();
        QCOMPARE(store.record().strFtpPass, password);
    }

    void otherContentKept() {
        const QByteArray before = "; written by hand\r\n[Other]\r\nx=1\r\n\r\n[condata]\r\nExtra=keep\r\ntimer = 2\r\n"_ba;
        QVERIFY(writeAll(ini(), before));
        SettingsStore store(folder());
        store.LoadSetData();
        store.LoadConData();
        QCOMPARE(store.record().intTimer, qint16(2));
        store.record().intTimer = 1;
        store.SaveSetData();
        store.SaveConData();
        QCOMPARE(readAll(ini()),
                 "; written by hand\r\n[Other]\r\nx=1\r\n\r\n[condata]\r\nExtra=keep\r\ntimer =1\r\n"
                 "WanIp=\r\nPvnSt=\r\nPvnIp=\r\nPvnMsg=\r\n"
                 "[SetData]\r\nFtpSv=\r\nFtpUser=\r\nFtpPass=\r\nFtpPath=\r\nIpAdd=\r\nChkAuto=0\r\nIpChk=0\r\n"_ba);
    }

    void modeAfterSaves() {
        QVERIFY(writeAll(ini(), "[ConData]\r\nTimer=1\r\n"_ba));
        QVERIFY(QFile::setPermissions(ini(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        SettingsStore store(folder());
        store.SaveConData();
        QCOMPARE(modeOf(ini()), mode_t(0640));
        store.SaveSetData();
        QCOMPARE(modeOf(ini()), mode_t(0600));
        store.SaveConData();
        QCOMPARE(modeOf(ini()), mode_t(0600));
    }

    void missingFolder() {
        const QString gone = dir_->filePath(u"gone"_s);
        SettingsStore store(gone);
        store.record().strFtpSv = u"kept"_s;
        store.SaveSetData();
        store.SaveConData();
        QVERIFY(!QFileInfo::exists(gone));
        QCOMPARE(store.record().strFtpSv, u"kept"_s);
        store.LoadSetData();
        QCOMPARE(store.record().strFtpSv, QString());
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
