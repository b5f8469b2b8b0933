#include "windows/frmmain.h"
#include "windows/frmsetup.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

class tst_frmsetup : public QObject {
    Q_OBJECT
private slots:
    // The window shows the record (ChkAuto checked only at 1, IpChk and FtpTls on unless 0); what it
    // shows is in zent.ini once O K closes it. Typed keys stop at 189 password bytes, 252 in Base64,
    // which a read gives back whole; a double-byte character that does not fit is refused whole. The
    // link port follows the page's address and takes a port only: 0, a letter, 65536 and a sixth digit
    // are refused.
    void whatIsShownComesBack() {
        QTemporaryDir dir;
        SettingsStore store(dir.path());
        frmMain main(store);
        store.record().intChkAuto = 2;
        store.record().intIpChk = -7;
        store.record().intFtpTls = -1;
        store.record().strFtpSv = store.record().strFtpUser = u"old"_s;
        main.show();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        main.mnuSet->trigger();
        frmSetup *w = main.setupWindow();
        // The server's box has the focus; a box's text is selected as the focus comes, so typing replaces it.
        for (const QString &typed : {u"ftp.example"_s, u"me"_s}) {
            QTest::keyClicks(QApplication::focusWidget(), typed);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QTest::keyClicks(w->txtPass, QString(188, u'p'));
        QTest::sendKeyEvent(QTest::Click, w->txtPass, Qt::Key_unknown, u"あ"_s, Qt::NoModifier);
        QTest::keyClicks(w->txtPass, u"qr"_s);
        QCOMPARE(w->txtPass->displayText(), QString(189, u'*')); // the password never shows
        QTest::mouseClick(w->chkFtpTls, Qt::LeftButton);
        QTest::mouseClick(w->txtPvnUrl, Qt::LeftButton);
        QTest::keyClicks(w->txtPvnUrl, u"http://h/"_s);
        QTest::keyClick(w->txtPvnUrl, Qt::Key_Tab);
        QTest::keyClicks(QApplication::focusWidget(), u"06553x651"_s);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space); // IPv6 で公開
        QTest::mouseClick(w->cmdOk, Qt::LeftButton);
        SettingsStore onDisk(dir.path());
        onDisk.LoadSetData();
        const SettingsRecord &r = onDisk.record();
        QCOMPARE((QList<int>{r.intChkAuto, r.intIpChk, r.intFtpTls, r.intIpVer}), (QList<int>{0, 1, 0, 6}));
        QCOMPARE(r.strFtpPass, QString(188, u'p') + u'q');
        QCOMPARE(r.strFtpSv + r.strFtpUser + r.strPvnUrl + r.strLinkPort, u"ftp.examplemehttp://h/65535"_s);
    }
};

QTEST_MAIN(tst_frmsetup)
#include "tst_frmsetup.moc"
