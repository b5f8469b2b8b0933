#include "windows/frmabout.h"

#include "version.h"
#include "windows/twips.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

frmAbout::frmAbout(QWidget *parent) : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(u"バージョン情報"_s);
    setWindowFlag(Qt::WindowMinMaxButtonsHint, false);
    const double dpi = twips::logicalDpi(this);
    auto place = [dpi](QWidget *w, double l, double t, double wd, double ht) {
        w->setGeometry(twips::rect(l, t, wd, ht, dpi));
    };
    setFixedSize(twips::toPixels(4680, dpi), twips::toPixels(3195, dpi));

    auto *image1 = new QLabel(this);
    image1->setPixmap(appIcon().pixmap(32, 32));
    place(image1, 300, 420, 480, 480);

    lblApp = new QLabel(this);
    lblApp->setTextFormat(Qt::PlainText); // the program's file name
    lblApp->setFont(QFont(u"MS UI Gothic"_s, 24));
    lblApp->setAlignment(Qt::AlignCenter);
    place(lblApp, 1688, 420, 1305, 480);

    lblVer = new QLabel(u"Version"_s, this);
    lblVer->setFont(QFont(u"ＭＳ Ｐゴシック"_s, 12));
    lblVer->setAlignment(Qt::AlignCenter);
    place(lblVer, 1965, 1140, 750, 240);

    auto *line1 = new QFrame(this);
    line1->setFrameShape(QFrame::HLine);
    line1->setFrameShadow(QFrame::Sunken);
    place(line1, 60, 1545, 4500, 30);

    lblEtc1 = new QLabel(u"注意："_s, this);
    place(lblEtc1, 120, 1680, 450, 180);
    lblEtc2 = new QLabel(this);
    place(lblEtc2, 660, 1680, 495, 180);

    cmdOk = new QPushButton(u"O  K"_s, this);
    place(cmdOk, 3540, 2760, 1035, 315);
    cmdHome = new QPushButton(u"作者のHP"_s, this);
    place(cmdHome, 2460, 2760, 1035, 315);
    // "O  K" comes first in the tab order and has the focus when the window opens.
    setTabOrder(cmdOk, cmdHome);
    cmdOk->setDefault(true);
    cmdOk->setFocus();
    connect(cmdOk, &QPushButton::clicked, this, &frmAbout::cmdOk_Click);
    connect(cmdHome, &QPushButton::clicked, this, &frmAbout::cmdHome_Click);

    Form_Load();
}

void frmAbout::Form_Load() {
    lblApp->setText(QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
    lblVer->setText(versionLine(zentrow::kVersionMajor, zentrow::kVersionMinor, zentrow::kVersionRevision));
    lblEtc2->setText(note());
    // The labels grow with their text around their design centre (the note from its top left).
    for (QLabel *l : {lblApp, lblVer}) {
        const QPoint centre = l->geometry().center();
        l->adjustSize();
        l->move(centre - QPoint(l->width() / 2, l->height() / 2));
    }
    lblEtc1->adjustSize();
    lblEtc2->adjustSize();
}

QString frmAbout::versionLine(int major, int minor, int revision) {
    return u"Version %1.%2.%3"_s.arg(major).arg(minor).arg(revision);
}

QString frmAbout::note() {
    return u"Porvane.cgi及びNomrel.cgiとセットで、\r\n"
           u"使用して下さい。\r\n"
           u"ソフトの性質上、使用に際して起きた\r\n"
           u"不具合・損害等は一切責任を負いません。"_s;
}

QString frmAbout::homePage() {
    // The manual comes with zentrow-check; its folder mirrors the source tree, so a name below
    // holds in both. The first name found in any place wins.
    const QStringList names{u"docs/manual-ja.md"_s, u"README.md"_s};
    const QString installed = u"doc/zentrow-check/"_s;
    const QString appDir = QCoreApplication::applicationDirPath();
    // The program as built, in its build folder: the manual is the source tree's.
    const bool built =
        QDir(appDir).canonicalPath() == QDir(QStringLiteral(ZENTROW_BUILD_DIR)).canonicalPath();
    for (const QString &name : names) {
        QStringList candidates{appDir + u"/../share/"_s + installed + name};
        if (built)
            candidates << QStringLiteral(ZENTROW_SOURCE_DIR "/") + name;
        candidates << QStandardPaths::locate(QStandardPaths::GenericDataLocation, installed + name);
        for (const QString &path : std::as_const(candidates))
            if (!path.isEmpty() && QFileInfo(path).isFile())
                return QUrl::fromLocalFile(QFileInfo(path).canonicalFilePath()).toString(QUrl::FullyEncoded);
    }
    return {};
}

void frmAbout::cmdHome_Click() {
    const QString page = homePage();
    if (page.isEmpty()) {
        say(u"説明書 (share/doc/zentrow-check/docs/manual-ja.md) が見つかりません。\r\n"
            u"Zentrow をインストールすると一緒に入ります。"_s);
        return;
    }
    OpenNewIE(page);
}

void frmAbout::OpenNewIE(const QString &URLx) {
    // The default browser opens the page in a window of its own.
    const QUrl url(URLx);
    if (!QDesktopServices::openUrl(url))
        say(u"ブラウザを起動できませんでした。次のページを開いて下さい。\r\n"_s +
            (url.isLocalFile() ? url.toLocalFile() : URLx));
}

void frmAbout::say(const QString &text) {
    // Modal over this window only: the rest of the program goes on meanwhile.
    auto *box = new QMessageBox(QMessageBox::Information, u"Zentrow"_s, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void frmAbout::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (centred_ || !screen())
        return;
    centred_ = true;
    QRect frame = frameGeometry();
    frame.moveCenter(screen()->availableGeometry().center());
    move(frame.topLeft());
}

QIcon frmAbout::appIcon() {
    // A house with an arrow: a home server kept reachable.
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1f, 0x5f, 0xbf));
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    p.setBrush(Qt::white);
    const QPointF roof[] = {{16, 5}, {27, 15}, {5, 15}};
    p.drawPolygon(roof, 3);
    p.drawRect(QRectF(8, 15, 16, 11));
    p.setBrush(QColor(0x1f, 0x5f, 0xbf));
    p.drawRect(QRectF(14, 19, 5, 7));
    p.end();
    return QIcon(pm);
}
