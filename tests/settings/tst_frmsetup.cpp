#include "settings/frmsetup.h"
#include "settings/profile.h"
#include "settings/twips.h"
#include "shell/frmmain.h"
#include "tests/support/testsupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QInputMethodQueryEvent>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOption>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

// One run of the program in its own folder.
struct Run {
    QTemporaryDir dir;
    SettingsStore store{dir.path()};
    std::unique_ptr<frmMain> main;

    Run() {
        main = std::make_unique<frmMain>(store);
        main->show();
    }
    frmSetup *open() {
        main->mnuSet_Click();
        return main->setupWindow();
    }
};

SettingsRecord filledRecord() {
    SettingsRecord r;
    r.strFtpSv = u"ftp.example.jp"_s;
    r.strFtpUser = u"利用者ﾕｰｻﾞ"_s;
    r.strFtpPass = u"p@ss;w=rd\"#[x]"_s;
    r.strFtpPath = u"/public_html/ゲート/ipdata.txt"_s;
    r.strIpAdd = u"http://example.jp/cgi-bin/nomrel.cgi"_s;
    r.intChkAuto = 1;
    r.intIpChk = 1;
    r.strPvnMsg = u"休止中"_s;
    return r;
}

// Replaces the box's text as a user does: focus, then keystrokes.
void type(QLineEdit *box, const QString &text) {
    SelectAllText(box);
    if (text.isEmpty())
        QTest::keyClick(box, Qt::Key_Delete);
    for (QChar c : text)
        QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

void clickIndicator(QAbstractButton *b) {
    QStyleOptionButton opt;
    opt.initFrom(b);
    const auto element =
        qobject_cast<QRadioButton *>(b) ? QStyle::SE_RadioButtonIndicator : QStyle::SE_CheckBoxIndicator;
    QTest::mouseClick(b, Qt::LeftButton, {}, b->style()->subElementRect(element, &opt, b).center());
}

QPoint closeBox(QMdiSubWindow *w) {
    QStyleOptionTitleBar opt;
    opt.initFrom(w);
    opt.subControls = QStyle::SC_All;
    opt.titleBarFlags = w->windowFlags();
    opt.titleBarState = w->windowState();
    const int border = 4; // what the sub-window itself lays its title bar out with
    opt.rect = QRect(border, border, w->width() - 2 * border,
                     w->style()->pixelMetric(QStyle::PM_TitleBarHeight, &opt, w) - border);
    return w->style()->subControlRect(QStyle::CC_TitleBar, &opt, QStyle::SC_TitleBarCloseButton, w).center();
}

bool wholeTextSelected(QLineEdit *box) {
    return box->hasFocus() && box->selectionStart() == 0 && box->selectionLength() == box->text().size();
}

constexpr float kPixel = 15; // one pixel at 96 dpi, the rounding allowed on every size

} // namespace

class tst_frmsetup : public QObject {
    Q_OBJECT
private slots:
    void firstStart();
    void mapping_data();
    void mapping();
    void passwordMask_data();
    void passwordMask();
    void closing_data();
    void closing();
    void focusAndSelection_data();
    void focusAndSelection();
    void endingWritesProfile_data();
    void endingWritesProfile();
};

void tst_frmsetup::firstStart() {
    Run run; // no zent.ini in the folder
    frmSetup *w = run.open();
    for (QLineEdit *box : {w->txtFtpSv, w->txtUser, w->txtPass, w->txtPath, w->txtChkAdd})
        QVERIFY(box->text().isEmpty());
    QVERIFY(!w->chkAuto->isChecked());
    QVERIFY(w->optSel[0]->isChecked());
    QVERIFY(!w->optSel[1]->isChecked());
    w->cmdOk->click();
    QCOMPARE(run.store.record(), SettingsRecord());
}

// One control per row: what a stored value shows, and what the user's input stores.
void tst_frmsetup::mapping_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QVariant>("shown");
    QTest::addColumn<QVariant>("input"); // text to type, or the button to click (-1 none)
    QTest::addColumn<QVariant>("saved");
    auto text = [](const char *name, const QString &stored, const QString &typed) {
        QTest::newRow(name) << QString::fromLatin1(name) << QVariant(stored) << QVariant(stored)
                            << QVariant(typed) << QVariant(typed);
    };
    text("txtFtpSv", u"ftp.example.jp"_s, u"ftp2.例え.jp"_s);
    text("txtUser", u"ﾕｰｻﾞ太郎"_s, u"user-2"_s);
    text("txtPass", u"p@ss;w=rd\"#[x]"_s, u"!\"#$%&'()=~|`{}*+<>?_ \\,"_s);
    text("txtPath", u"/public_html/ipdata.txt"_s, u"/home/利用者/ﾎﾟｰﾀﾙ/ipdata.txt"_s);
    text("txtChkAdd", u"http://example.jp/nomrel.cgi"_s, u"smtp.example.jp"_s);
    QTest::newRow("txtFtpSv cleared")
        << u"txtFtpSv"_s << QVariant(u"ftp.example.jp"_s) << QVariant(u"ftp.example.jp"_s)
        << QVariant(QString()) << QVariant(QString());
    auto sw = [](const char *row, const char *control, int stored, int shown, int input, int saved) {
        QTest::newRow(row) << QString::fromLatin1(control) << QVariant(stored) << QVariant(shown)
                           << QVariant(input) << QVariant(saved);
    };
    sw("manual kept", "chkAuto", 0, 0, -1, 0);
    sw("automatic kept", "chkAuto", 1, 1, -1, 1);
    sw("ticked", "chkAuto", 0, 0, 1, 1);
    sw("unticked", "chkAuto", 1, 1, 1, 0);
    sw("automatic 2 shows and stores manual", "chkAuto", 2, 0, -1, 0);
    sw("automatic -1 shows and stores manual", "chkAuto", -1, 0, -1, 0);
    sw("CGI kept", "optSel", 0, 0, -1, 0);
    sw("SMTP kept", "optSel", 1, 1, -1, 1);
    sw("SMTP chosen", "optSel", 0, 0, 1, 1);
    sw("CGI chosen", "optSel", 1, 1, 0, 0);
    sw("method 2 shows and stores SMTP", "optSel", 2, 1, -1, 1);
    sw("method -7 shows and stores SMTP", "optSel", -7, 1, -1, 1);
}

void tst_frmsetup::mapping() {
    QFETCH(QString, control);
    QFETCH(QVariant, stored);
    QFETCH(QVariant, shown);
    QFETCH(QVariant, input);
    QFETCH(QVariant, saved);

    const std::map<QString, std::pair<TextBox * frmSetup::*, QString SettingsRecord::*>> texts = {
        {u"txtFtpSv"_s, {&frmSetup::txtFtpSv, &SettingsRecord::strFtpSv}},
        {u"txtUser"_s, {&frmSetup::txtUser, &SettingsRecord::strFtpUser}},
        {u"txtPass"_s, {&frmSetup::txtPass, &SettingsRecord::strFtpPass}},
        {u"txtPath"_s, {&frmSetup::txtPath, &SettingsRecord::strFtpPath}},
        {u"txtChkAdd"_s, {&frmSetup::txtChkAdd, &SettingsRecord::strIpAdd}},
    };
    Run run;
    // Every other field holds a value of its own, so a crossed wire shows.
    SettingsRecord expected = filledRecord();
    if (control == u"chkAuto")
        expected.intChkAuto = static_cast<qint16>(stored.toInt());
    else if (control == u"optSel")
        expected.intIpChk = static_cast<qint16>(stored.toInt());
    else
        expected.*texts.at(control).second = stored.toString();
    run.store.record() = expected;
    frmSetup *w = run.open();

    QCOMPARE(w->txtFtpSv->text(), expected.strFtpSv);
    QCOMPARE(w->txtUser->text(), expected.strFtpUser);
    QCOMPARE(w->txtPass->text(), expected.strFtpPass);
    QCOMPARE(w->txtPath->text(), expected.strFtpPath);
    QCOMPARE(w->txtChkAdd->text(), expected.strIpAdd);
    if (control == u"chkAuto") {
        QCOMPARE(w->chkAuto->checkState(), shown.toInt() ? Qt::Checked : Qt::Unchecked);
        if (input.toInt() == 1)
            clickIndicator(w->chkAuto);
        expected.intChkAuto = static_cast<qint16>(saved.toInt());
    } else if (control == u"optSel") {
        QVERIFY(w->optSel[shown.toInt()]->isChecked());
        QVERIFY(!w->optSel[1 - shown.toInt()]->isChecked());
        if (input.toInt() >= 0)
            clickIndicator(w->optSel[input.toInt()]);
        expected.intIpChk = static_cast<qint16>(saved.toInt());
    } else {
        type(w->*texts.at(control).first, input.toString());
        expected.*texts.at(control).second = saved.toString();
    }
    QTest::mouseClick(w->cmdOk, Qt::LeftButton);
    QCOMPARE(run.store.record(), expected);
}

void tst_frmsetup::passwordMask_data() {
    QTest::addColumn<QString>("password");
    QTest::newRow("symbols") << u"p@ss;w=rd\"#[x]"_s;
    QTest::newRow("Japanese") << u"秘密ﾊﾟｽ"_s;
    QTest::newRow("empty") << QString();
}

void tst_frmsetup::passwordMask() {
    QFETCH(QString, password);
    Run run;
    run.store.record().strFtpPass = password;
    run.store.record().strFtpUser = password;
    frmSetup *w = run.open();
    QCOMPARE(w->txtPass->displayText(), QString(password.size(), u'*'));
    QCOMPARE(w->txtUser->displayText(), password);
    // What an input method asks before it takes part.
    QInputMethodQueryEvent query(Qt::ImEnabled | Qt::ImHints);
    QCoreApplication::sendEvent(w->txtPass, &query);
    QVERIFY(!query.value(Qt::ImEnabled).toBool());
    QVERIFY(query.value(Qt::ImHints).toInt() & Qt::ImhSensitiveData);
}

void tst_frmsetup::closing_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("O K") << u"ok"_s;
    QTest::newRow("close box") << u"box"_s;
    QTest::newRow("system menu") << u"menu"_s;
}

// Open, edit, close: the main window returns to rest and the edits reach the record.
void tst_frmsetup::closing() {
    QFETCH(QString, how);
    Run run;
    frmSetup *w = run.open();
    QVERIFY(w);
    const float childWidth = twips::outerWidth(w);
    const float childHeight = twips::outerHeight(w);
    QVERIFY(childWidth >= 5595 && childHeight >= 5205);
    QCOMPARE_LE(std::abs(run.main->Width() - (childWidth + 250)), kPixel);
    QCOMPARE_LE(std::abs(run.main->Height() - (childHeight + 1000)), kPixel);
    QCOMPARE(w->pos(), QPoint(0, 0));
    QVERIFY(!run.main->mnuCont->isEnabled());
    QVERIFY(run.main->mnuSet->isEnabled());

    type(w->txtFtpSv, u"ftp.例え.jp"_s);
    clickIndicator(w->chkAuto);
    clickIndicator(w->optSel[1]);
    // Choosing the command again keeps the same window with its edits.
    QCOMPARE(run.open(), w);
    QCOMPARE(w->txtFtpSv->text(), u"ftp.例え.jp"_s);

    if (how == u"ok") {
        QTest::mouseClick(w->cmdOk, Qt::LeftButton);
    } else if (how == u"box") {
        // The sub-window acts on the button the pointer is over.
        QTest::mouseMove(w, closeBox(w));
        QTest::mouseClick(w, Qt::LeftButton, {}, closeBox(w));
    } else {
        const QList<QAction *> actions = w->systemMenu()->actions();
        const auto close = std::find_if(actions.begin(), actions.end(), [](QAction *a) {
            return a->shortcut() == QKeySequence(u"Ctrl+F4"_s);
        });
        QVERIFY(close != actions.end());
        (*close)->trigger();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!run.main->setupWindow());
    QCOMPARE(run.store.record().strFtpSv, u"ftp.例え.jp"_s);
    QCOMPARE(run.store.record().intChkAuto, qint16(1));
    QCOMPARE(run.store.record().intIpChk, qint16(1));
    QCOMPARE_LE(std::abs(run.main->Width() - 7800), kPixel);
    QCOMPARE_LE(std::abs(run.main->Height() - 800), kPixel);
    QVERIFY(run.main->mnuCont->isEnabled());
    QVERIFY(run.main->mnuSet->isEnabled());

    // The next window reads the record again.
    w = run.open();
    QCOMPARE(w->txtFtpSv->text(), u"ftp.例え.jp"_s);
    QVERIFY(w->chkAuto->isChecked());
    QVERIFY(w->optSel[1]->isChecked());
}

void tst_frmsetup::focusAndSelection_data() {
    QTest::addColumn<int>("method");
    QTest::newRow("CGI selected") << 0;
    QTest::newRow("SMTP selected") << 1;
}

// Tab visits the controls in their order, the option group once at its selected button; every text box,
// reached by Tab, Backtab or a mouse click, has its whole text selected.
void tst_frmsetup::focusAndSelection() {
    QFETCH(int, method);
    Run run;
    QVERIFY(QTest::qWaitForWindowActive(run.main.get()));
    run.store.record() = filledRecord();
    run.store.record().intIpChk = static_cast<qint16>(method);
    frmSetup *w = run.open();
    QVERIFY(wholeTextSelected(w->txtFtpSv));

    const QList<QWidget *> order = {w->txtUser,        w->txtPass,   w->txtPath, w->chkAuto,
                                    w->optSel[method], w->txtChkAdd, w->cmdOk,   w->txtFtpSv};
    for (QWidget *expected : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), expected);
        if (auto *box = qobject_cast<QLineEdit *>(expected))
            QVERIFY2(wholeTextSelected(box), qPrintable(box->text()));
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), w->cmdOk);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QVERIFY(wholeTextSelected(w->txtChkAdd));

    // A click on the text itself and one past its end.
    QTest::mouseClick(w->txtPath, Qt::LeftButton, {}, QPoint(6, w->txtPath->height() / 2));
    QVERIFY(wholeTextSelected(w->txtPath));
    QTest::mouseClick(w->txtUser, Qt::LeftButton, {},
                      QPoint(w->txtUser->width() - 4, w->txtUser->height() / 2));
    QVERIFY(wholeTextSelected(w->txtUser));
    // A click inside the box that has the focus places the caret as usual.
    QTest::mouseClick(w->txtUser, Qt::LeftButton, {},
                      QPoint(w->txtUser->width() - 4, w->txtUser->height() / 2));
    QVERIFY(!w->txtUser->hasSelectedText());

    // An arrow key moves within the option group and selects as it goes.
    w->optSel[method]->setFocus(Qt::TabFocusReason);
    QTest::keyClick(w->optSel[method], method == 0 ? Qt::Key_Right : Qt::Key_Left);
    QCOMPARE(QApplication::focusWidget(), w->optSel[1 - method]);
    QVERIFY(w->optSel[1 - method]->isChecked());
}

void tst_frmsetup::endingWritesProfile_data() {
    QTest::addColumn<bool>("byClose");
    QTest::newRow("main window closed") << true;
    QTest::newRow("unload handler") << false;
}

// Ending the run with the window open: its edits reach zent.ini, the password only encoded.
void tst_frmsetup::endingWritesProfile() {
    QFETCH(bool, byClose);
    Run run;
    frmSetup *w = run.open();
    const SettingsRecord entered = filledRecord();
    type(w->txtFtpSv, entered.strFtpSv);
    type(w->txtUser, entered.strFtpUser);
    type(w->txtPass, entered.strFtpPass);
    type(w->txtPath, entered.strFtpPath);
    type(w->txtChkAdd, entered.strIpAdd);
    clickIndicator(w->chkAuto);
    clickIndicator(w->optSel[1]);
    if (byClose)
        run.main->close();
    else
        run.main->MDIForm_Unload();

    QCOMPARE(run.store.record().strFtpPass, entered.strFtpPass);
    QCOMPARE(run.store.record().intIpChk, qint16(1));

    if (!profile::writeString("Probe", "Key", "1", run.dir.filePath(u"probe.ini"_s)))
        QSKIP("this build cannot write profile files yet");
    SettingsStore next(run.dir.path());
    next.LoadSetData();
    const SettingsRecord &r = next.record();
    QCOMPARE(r.strFtpSv, entered.strFtpSv);
    QCOMPARE(r.strFtpUser, entered.strFtpUser);
    QCOMPARE(r.strFtpPass, entered.strFtpPass);
    QCOMPARE(r.strFtpPath, entered.strFtpPath);
    QCOMPARE(r.strIpAdd, entered.strIpAdd);
    QCOMPARE(r.intChkAuto, qint16(1));
    QCOMPARE(r.intIpChk, qint16(1));
    const QByteArray ini = testsupport::readAll(next.iniPath());
    QVERIFY(!ini.contains(entered.strFtpPass.toLatin1()));
    QVERIFY(ini.contains("FtpPass=" + entered.strFtpPass.toLatin1().toBase64()));
}

QTEST_MAIN(tst_frmsetup)
#include "tst_frmsetup.moc"
