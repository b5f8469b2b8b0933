#include "windows/frmsetup.h"

#include "engine/codepage.h"
#include "engine/mdlinitemp.h"
#include "engine/wancheck.h"
#include "windows/frame.h"
#include "windows/twips.h"

#include <QCheckBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QValidator>

using namespace Qt::Literals::StringLiterals;

namespace {

// The password box masks every character with "*", whatever the style's own mask is.
class StarMaskStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter)
            return u'*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// Refuses input longer than `max` bytes in the profile's code page: the profile reads back at most
// 255 bytes of a value, and what is saved must be what comes back.
class AnsiByteLimit : public QValidator {
public:
    AnsiByteLimit(int max, QObject *parent) : QValidator(parent), max_(max) {}
    State validate(QString &input, int &) const override {
        return codepage::toAnsi(input).size() <= max_ ? Acceptable : Invalid;
    }

private:
    int max_;
};

// Empty, or a port: 1 to 65535 in ASCII digits. Anything else never gets into the box.
class PortText : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override {
        return input.isEmpty() || wancheck::parsePort(input) ? Acceptable : Invalid;
    }
};

constexpr int kValueBytes = mdlIniTemp::kReadBufferSize - 1;
// The password is stored as Base64: 4 characters for every 3 bytes.
constexpr int kPasswordBytes = kValueBytes / 4 * 3;

} // namespace

void SelectAllText(QLineEdit *box) {
    if (!box)
        return;
    if (!box->hasFocus())
        box->setFocus(Qt::OtherFocusReason);
    box->setSelection(0, static_cast<int>(box->text().size()));
}

QVariant TextBox::inputMethodQuery(Qt::InputMethodQuery query) const {
    if (query == Qt::ImEnabled && !testAttribute(Qt::WA_InputMethodEnabled))
        return false;
    return QLineEdit::inputMethodQuery(query);
}

void TextBox::focusInEvent(QFocusEvent *event) {
    QLineEdit::focusInEvent(event);
    switch (event->reason()) {
    case Qt::MouseFocusReason:
        focusedByMouse_ = true;
        break;
    case Qt::PopupFocusReason:        // back from the context menu: keep what the user had
    case Qt::ActiveWindowFocusReason: // back from another program: likewise
        break;
    default:
        emit GotFocus();
    }
}

void TextBox::focusOutEvent(QFocusEvent *event) {
    if (event->reason() != Qt::PopupFocusReason)
        focusedByMouse_ = false;
    QLineEdit::focusOutEvent(event);
}

void TextBox::mouseReleaseEvent(QMouseEvent *event) {
    QLineEdit::mouseReleaseEvent(event);
    if (!focusedByMouse_)
        return;
    focusedByMouse_ = false;
    // A selection dragged out by the focusing click is the user's choice.
    if (!hasSelectedText())
        emit GotFocus();
}

frmSetup::frmSetup(SettingsRecord &rec, QWidget *parent) : MdiChild(parent), rec_(rec) {
    setWindowTitle(u"Setup"_s);
    QWidget *client = makeClientArea(5595, 5205);
    const double dpi = twips::logicalDpi(this);
    auto place = [dpi](QWidget *w, double l, double t, double wd, double ht) {
        w->setGeometry(twips::rect(l, t, wd, ht, dpi));
    };
    // A caption the font needs more room for than the design gave it widens its control to the right
    // and grows its height around the design's middle.
    auto placeCaptioned = [dpi](QWidget *w, double left, double top, double width, double height) {
        twips::placeCaption(w, left, top, width, height, dpi);
    };
    auto textBox = [this](QWidget *container) {
        auto *t = new TextBox(container);
        connect(t, &TextBox::GotFocus, this, [t] { SelectAllText(t); });
        t->setValidator(new AnsiByteLimit(kValueBytes, t));
        return t;
    };

    frmFtp = new Frame(u"FTP 設定"_s, client);
    place(frmFtp, 180, 120, 5235, 2115);
    lblFtpSv = new QLabel(u"FTP ｻｰﾊﾞ"_s, frmFtp);
    placeCaptioned(lblFtpSv, 165, 285, 780, 180);
    txtFtpSv = textBox(frmFtp);
    place(txtFtpSv, 1020, 240, 2475, 270);
    lblUser = new QLabel(u"ﾕｰｻﾞ ID"_s, frmFtp);
    placeCaptioned(lblUser, 315, 645, 630, 180);
    txtUser = textBox(frmFtp);
    place(txtUser, 1020, 600, 2055, 270);
    lblPass = new QLabel(u"ﾊﾟｽﾜｰﾄﾞ"_s, frmFtp);
    placeCaptioned(lblPass, 300, 1005, 645, 180);
    txtPass = textBox(frmFtp);
    place(txtPass, 1020, 960, 2055, 270);
    lblPath = new QLabel(u"ｱｯﾌﾟﾛｰﾄﾞ先ﾌｧｲﾙ（ﾌﾙﾊﾟｽ）"_s, frmFtp);
    placeCaptioned(lblPath, 300, 1440, 1995, 180);
    txtPath = textBox(frmFtp);
    place(txtPath, 300, 1680, 4635, 270);
    // Beside the password it protects, where the frame has room.
    chkFtpTls = new QCheckBox(u"FTPS (TLS) を使用"_s, frmFtp);
    placeCaptioned(chkFtpTls, 3180, 968, 1965, 255);

    // A little higher and taller than the first design: the gateway page's row joins it.
    Frame1 = new Frame(u"IP ﾁｪｯｸ設定"_s, client);
    place(Frame1, 180, 2340, 5235, 2235);
    chkAuto = new QCheckBox(u"Ipdata を自動的にアップする"_s, Frame1);
    placeCaptioned(chkAuto, 240, 360, 2535, 255);
    optSel[0] = new QRadioButton(u"nomrel.cgi を使用（推奨）"_s, Frame1);
    placeCaptioned(optSel[0], 240, 660, 2055, 255);
    optSel[1] = new QRadioButton(u"SMTP を使用"_s, Frame1);
    placeCaptioned(optSel[1], 2460, 660, 1395, 255);
    // A widened first option pushes the second along rather than running under it.
    if (const int clear = optSel[0]->geometry().right() + 1 + twips::toPixels(165, dpi);
        clear > optSel[1]->x())
        optSel[1]->move(clear, optSel[1]->y());
    lblChkAdd = new QLabel(u"ｱﾄﾞﾚｽ"_s, Frame1);
    placeCaptioned(lblChkAdd, 420, 1065, 465, 180);
    txtChkAdd = textBox(Frame1);
    place(txtChkAdd, 1020, 1020, 3975, 270);
    // On the same web host as the address check, as a rule.
    lblPvnUrl = new QLabel(u"公開ﾍﾟｰｼﾞ"_s, Frame1);
    placeCaptioned(lblPvnUrl, 165, 1425, 780, 180);
    txtPvnUrl = textBox(Frame1);
    place(txtPvnUrl, 1020, 1380, 3975, 270);
    txtPvnUrl->setToolTip(u"Porvane.cgi の URL。アップロードのたびに、ページが公開した内容を表示しているか"
                          u"確かめます (空なら確かめません)"_s);
    // What IPoE lines need: a port a MAP-E line may forward, the IPv6 address on a DS-Lite one.
    lblLinkPort = new QLabel(u"公開ﾎﾟｰﾄ"_s, Frame1);
    placeCaptioned(lblLinkPort, 225, 1785, 720, 180);
    txtLinkPort = textBox(Frame1);
    place(txtLinkPort, 1020, 1740, 855, 270);
    txtLinkPort->setValidator(new PortText(txtLinkPort));
    txtLinkPort->setAttribute(Qt::WA_InputMethodEnabled, false);
    txtLinkPort->setInputMethodHints(Qt::ImhDigitsOnly);
    txtLinkPort->setToolTip(u"ルーターで転送したポート (MAP-E の回線)。空ならポートなしで公開"_s);
    chkIpV6 = new QCheckBox(u"IPv6 で公開"_s, Frame1);
    placeCaptioned(chkIpV6, 2460, 1748, 2535, 255);
    chkIpV6->setToolTip(u"このコンピューターの IPv6 アドレスを公開 (DS-Lite の回線)"_s);

    // Examples of what each box expects; the address's follows the method.
    txtFtpSv->setPlaceholderText(u"ftp.example.jp"_s);
    txtUser->setPlaceholderText(u"user"_s);
    txtPath->setPlaceholderText(u"/public_html/ipdata.txt"_s);
    txtPvnUrl->setPlaceholderText(u"http://www.example.jp/Porvane.cgi"_s);
    connect(optSel[0], &QAbstractButton::toggled, txtChkAdd, [this](bool cgi) {
        txtChkAdd->setPlaceholderText(cgi ? u"http://www.example.jp/nomrel.cgi"_s : u"mail.example.jp"_s);
    });

    cmdOk = new QPushButton(u"O K"_s, client);
    place(cmdOk, 4380, 4740, 1035, 315);
    connect(cmdOk, &QPushButton::clicked, this, &frmSetup::cmdOk_Click);

    // The password never shows and never goes through an input method.
    txtPass->setValidator(new AnsiByteLimit(kPasswordBytes, txtPass));
    auto *mask = new StarMaskStyle;
    mask->setParent(txtPass);
    txtPass->setStyle(mask);
    txtPass->setEchoMode(QLineEdit::Password);
    txtPass->setAttribute(Qt::WA_InputMethodEnabled, false);
    txtPass->setInputMethodHints(txtPass->inputMethodHints() | Qt::ImhHiddenText | Qt::ImhSensitiveData |
                                 Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase);

    setTabOrder(txtFtpSv, txtUser);
    setTabOrder(txtUser, txtPass);
    setTabOrder(txtPass, txtPath);
    setTabOrder(txtPath, chkFtpTls);
    setTabOrder(chkFtpTls, chkAuto);
    setTabOrder(chkAuto, optSel[0]);
    setTabOrder(optSel[0], optSel[1]);
    setTabOrder(optSel[1], txtChkAdd);
    setTabOrder(txtChkAdd, txtPvnUrl);
    setTabOrder(txtPvnUrl, txtLinkPort);
    setTabOrder(txtLinkPort, chkIpV6);
    setTabOrder(chkIpV6, cmdOk);
    txtFtpSv->setFocus();
    // The option group is one tab stop, at its selected button; arrow keys move within it.
    for (QRadioButton *opt : optSel)
        connect(opt, &QAbstractButton::toggled, opt,
                [opt](bool on) { opt->setFocusPolicy(on ? Qt::StrongFocus : Qt::ClickFocus); });
    optSel[0]->setChecked(true);
    optSel[1]->setFocusPolicy(Qt::ClickFocus);
}

void frmSetup::Form_Load() {
    txtFtpSv->setText(rec_.strFtpSv);
    txtUser->setText(rec_.strFtpUser);
    txtPass->setText(rec_.strFtpPass);
    txtPath->setText(rec_.strFtpPath);
    txtChkAdd->setText(rec_.strIpAdd);
    // Only 1 means automatic anywhere in the program, so anything else shows as unchecked.
    chkAuto->setChecked(rec_.intChkAuto == 1);
    optSel[rec_.intIpChk != 0 ? 1 : 0]->setChecked(true);
    chkFtpTls->setChecked(rec_.intFtpTls != 0);
    txtLinkPort->setText(rec_.strLinkPort);
    chkIpV6->setChecked(rec_.intIpVer == 6);
    txtPvnUrl->setText(rec_.strPvnUrl);
    loaded_ = true;
    // The window may take the focus as it is added, before its texts are set; setting them dropped the
    // selection.
    for (QLineEdit *box : {txtFtpSv, txtUser, txtPass, txtPath, txtChkAdd, txtPvnUrl, txtLinkPort})
        if (box->hasFocus())
            SelectAllText(box);
}

void frmSetup::SaveSetupState() {
    if (!loaded_)
        return;
    rec_.strFtpSv = txtFtpSv->text();
    rec_.strFtpUser = txtUser->text();
    rec_.strFtpPass = txtPass->text();
    rec_.strFtpPath = txtPath->text();
    rec_.strIpAdd = txtChkAdd->text();
    rec_.intChkAuto = chkAuto->isChecked() ? 1 : 0;
    rec_.intIpChk = optSel[0]->isChecked() ? 0 : 1;
    rec_.intFtpTls = chkFtpTls->isChecked() ? 1 : 0;
    // A typed port as its number; a value from a file edited by hand stays for the check to name.
    const std::optional<quint16> port = wancheck::parsePort(txtLinkPort->text());
    rec_.strLinkPort = port ? QString::number(*port) : txtLinkPort->text();
    rec_.intIpVer = chkIpV6->isChecked() ? 6 : 4;
    rec_.strPvnUrl = txtPvnUrl->text();
}
