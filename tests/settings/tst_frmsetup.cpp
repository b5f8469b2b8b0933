#include "settings/frmsetup.h"
#include "settings/twips.h"
#include "shell/frmmain.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <array>

using namespace Qt::Literals::StringLiterals;

namespace {

// One run of the program in its own folder.
struct Run {
    QTemporaryDir dir;
    SettingsStore store{dir.path()};
    frmMain main{store};
    Run() { main.show(); }
    frmSetup *open() {
        main.mnuSet_Click();
        return main.setupWindow();
    }
};

// Each text its own value, so that a crossed wire shows.
const QStringList kTexts = {u"ftp.example.jp"_s, u"利用者ﾕｰｻﾞ"_s, u"p@ss;w=rd\"#[x]"_s,
                            u"/public_html/ゲート/ipdata.txt"_s, u"http://example.jp/cgi-bin/nomrel.cgi"_s};
QList<QLineEdit *> boxes(frmSetup *w) {
    return {w->txtFtpSv, w->txtUser, w->txtPass, w->txtPath, w->txtChkAdd};
}
QList<QString *> fields(SettingsRecord &r) {
    return {&r.strFtpSv, &r.strFtpUser, &r.strFtpPass, &r.strFtpPath, &r.strIpAdd};
}

bool wholeTextSelected(QLineEdit *box) {
    return box->hasFocus() && box->selectionStart() == 0 && box->selectionLength() == box->text().size();
}

// Texts filled, stored chkAuto, intIpChk and intFtpTls, shown checks and option, a click on the switches.
using Switches = std::array<int, 8>;

} // namespace

class tst_frmsetup : public QObject {
    Q_OBJECT
private slots:
    void mapping_data() {
        QTest::addColumn<Switches>("s");
        QTest::newRow("first start") << Switches{0, 0, 0, 0, 0, 0, 0, 0};
        QTest::newRow("odd values") << Switches{1, 2, -7, -1, 0, 1, 1, 0};
        QTest::newRow("all switched on") << Switches{1, 0, 0, 0, 0, 0, 0, 1};
        QTest::newRow("all switched off") << Switches{1, 1, 1, 1, 1, 1, 1, 1};
    }
    // The record shows in the window, and O K stores what the window shows.
    void mapping() {
        QFETCH(Switches, s);
        const auto [filled, chkAuto, ipChk, ftpTls, checked, option, tlsChecked, click] = s;
        Run run;
        SettingsRecord rec;
        for (int i = 0; filled && i < 5; ++i)
            *fields(rec)[i] = kTexts[i];
        rec.intChkAuto = qint16(chkAuto);
        rec.intIpChk = qint16(ipChk);
        rec.intFtpTls = qint16(ftpTls);
        run.store.record() = rec;
        frmSetup *w = run.open();
        for (int i = 0; i < 5; ++i)
            QCOMPARE(boxes(w)[i]->text(), *fields(rec)[i]);
        QCOMPARE(w->chkAuto->isChecked(), bool(checked));
        QCOMPARE(w->chkFtpTls->isChecked(), bool(tlsChecked));
        QVERIFY(w->optSel[option]->isChecked() && !w->optSel[1 - option]->isChecked());
        QCOMPARE(w->txtPass->displayText(), QString(rec.strFtpPass.size(), u'*')); // the password never shows
        if (click) {
            QTest::mouseClick(w->chkAuto, Qt::LeftButton);
            QTest::mouseClick(w->optSel[1 - option], Qt::LeftButton);
            QTest::mouseClick(w->chkFtpTls, Qt::LeftButton);
        }
        QTest::mouseClick(w->cmdOk, Qt::LeftButton);
        rec.intChkAuto = qint16(checked != click);
        rec.intIpChk = qint16(click ? 1 - option : option);
        rec.intFtpTls = qint16(tlsChecked != click);
        QCOMPARE(run.store.record(), rec);
    }

    // Open, edit, close, open again, end the run: the main window fits the child while it is open, the
    // edits are kept on closing and reach zent.ini on ending.
    void lifecycle() {
        auto near = [](float twips, float expected) { return qAbs(twips - expected) <= 15; }; // 1 px
        Run run;
        frmSetup *w = run.open();
        QVERIFY(w);
        QVERIFY(near(run.main.Width(), twips::outerWidth(w) + 250));
        QVERIFY(near(run.main.Height(), twips::outerHeight(w) + 1000));
        QVERIFY(!run.main.mnuCont->isEnabled() && run.main.mnuSet->isEnabled());
        SettingsRecord expected;
        w->txtPath->setText(expected.strFtpPath = u"/ゲート/ipdata.txt"_s);
        QTest::mouseClick(w->chkAuto, Qt::LeftButton);
        expected.intChkAuto = 1;
        QCOMPARE(run.open(), w); // the command again keeps the window and its edits
        w->close();              // as the close box does
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!run.main.setupWindow());
        QCOMPARE(run.store.record(), expected);
        {
            SettingsStore onDisk(run.dir.path()); // written already: a crash now loses nothing
            onDisk.LoadSetData();
            QCOMPARE(onDisk.record(), expected);
        }
        QVERIFY(near(run.main.Width(), 7800) && near(run.main.Height(), 800));
        QVERIFY(run.main.mnuCont->isEnabled() && run.main.mnuSet->isEnabled());

        w = run.open(); // reads the record again
        QVERIFY(w->chkAuto->isChecked());
        QTest::mouseClick(w->optSel[1], Qt::LeftButton);
        QTest::mouseClick(w->chkFtpTls, Qt::LeftButton);
        expected.intIpChk = expected.intFtpTls = 1;
        // Typed keys stop where the stored form would outgrow what a read gives back: 189 bytes
        // of password, whose Base64 form is 252 characters; a double-byte character that does not fit
        // is refused whole.
        QTest::keyClicks(w->txtPass, QString(188, u'p'));
        QTest::sendKeyEvent(QTest::Click, w->txtPass, Qt::Key_unknown, u"あ"_s, Qt::NoModifier);
        QTest::keyClicks(w->txtPass, u"qr"_s);
        expected.strFtpPass = QString(188, u'p') + u'q';
        run.main.close();
        SettingsStore next(run.dir.path());
        next.LoadSetData();
        QCOMPARE(next.record(), expected);
    }

    // Tab visits the controls in order, the option group once at its selected button; a text box
    // reached by Tab or by a focusing click has its whole text selected.
    void focusAndSelection() {
        Run run;
        QVERIFY(QTest::qWaitForWindowActive(&run.main));
        for (int i = 0; i < 5; ++i)
            *fields(run.store.record())[i] = kTexts[i];
        run.store.record().intIpChk = 1;
        frmSetup *w = run.open();
        QVERIFY(wholeTextSelected(w->txtFtpSv));
        const QList<QWidget *> order = {w->txtUser,   w->txtPass,   w->txtPath, w->chkFtpTls, w->chkAuto,
                                        w->optSel[1], w->txtChkAdd, w->cmdOk,   w->txtFtpSv};
        for (QWidget *next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
            if (auto *box = qobject_cast<QLineEdit *>(next))
                QVERIFY(wholeTextSelected(box));
        }
        // A second click, in the box that has the focus, places the caret as usual.
        const QPoint end(w->txtUser->width() - 4, w->txtUser->height() / 2);
        QTest::mouseClick(w->txtUser, Qt::LeftButton, {}, end);
        QVERIFY(wholeTextSelected(w->txtUser));
        QTest::mouseClick(w->txtUser, Qt::LeftButton, {}, end);
        QVERIFY(!w->txtUser->hasSelectedText());
    }
};

QTEST_MAIN(tst_frmsetup)
#include "tst_frmsetup.moc"
