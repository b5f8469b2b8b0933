#include "windows/frmmain.h"

#include "windows/frmabout.h"
#include "windows/frmcontrol.h"
#include "windows/frmsetup.h"
#include "windows/twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMdiArea>
#include <QMenuBar>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

frmMain::frmMain(SettingsStore &store, QWidget *parent)
    : QMainWindow(parent), store_(store), mdi_(new QMdiArea) {
    setWindowTitle(u"Zentrow"_s);
    // Every window of the program, the boxes included, shows the program's icon.
    QApplication::setWindowIcon(frmAbout::appIcon());
    setWindowIcon(QApplication::windowIcon());
    // The rest size is narrower than the area's own hint: let the window decide.
    mdi_->setMinimumSize(1, 1);
    setCentralWidget(mdi_);

    QMenu *mnuFile = menuBar()->addMenu(u"ﾌｧｲﾙ(&F)"_s);
    mnuEnd = mnuFile->addAction(u"終了(&X)"_s, this, &frmMain::mnuEnd_Click);
    mnuCont = menuBar()->addAction(u"ｺﾝﾄﾛｰﾗ(&C)"_s, this, &frmMain::mnuCont_Click);
    mnuSet = menuBar()->addAction(u"設定(&S)"_s, this, &frmMain::mnuSet_Click);
    QMenu *mnuHelp = menuBar()->addMenu(u"ﾍﾙﾌﾟ(&H)"_s);
    mnuVer = mnuHelp->addAction(u"ﾊﾞｰｼﾞｮﾝ情報(&V)"_s, this, &frmMain::mnuVer_Click);

    controlFactory_ = [](SettingsStore &s) { return new frmControl(s); };
    // Whatever ends the run (the session, a signal, quit) saves the settings first.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &frmMain::MDIForm_Unload);
    // The desktop session is ending: end the run as "終了(&X)" does, before the session kills it.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { mnuEnd_Click(); });

    MDIForm_Load();
}

frmMain::~frmMain() {
    delete about_;
}

void frmMain::MDIForm_Load() {
    store_.LoadSetData();
    store_.LoadConData();
    restoreRestSize();
}

float frmMain::Width() const {
    return twips::outerWidth(this);
}

float frmMain::Height() const {
    return twips::outerHeight(this);
}

void frmMain::setSize(float width, float height) {
    // A minimized or maximized window cannot take a size: make it normal first.
    if (isMinimized() || isMaximized())
        showNormal();
    targetWidth_ = width;
    targetHeight_ = height;
    twips::setOuterSize(this, width, height);
}

void frmMain::restoreRestSize() {
    // A minimized window stays so, the run's end included: the rest size waits for its restore.
    if (isMinimized()) {
        targetWidth_ = kRestWidth;
        targetHeight_ = kRestHeight;
        sizeOnRestore_ = !unloaded_;
        return;
    }
    setSize(kRestWidth, kRestHeight);
}

void frmMain::changeEvent(QEvent *event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && sizeOnRestore_ && !isMinimized()) {
        sizeOnRestore_ = false;
        QTimer::singleShot(0, this, [this] { twips::setOuterSize(this, targetWidth_, targetHeight_); });
    }
}

void frmMain::showEvent(QShowEvent *event) {
    QMainWindow::showEvent(event);
    // The frame is known only once the window is shown: apply the outer size again then.
    QTimer::singleShot(0, this, [this] { twips::setOuterSize(this, targetWidth_, targetHeight_); });
}

void frmMain::showChild(MdiChild *child) {
    child->show();
    mdi_->setActiveSubWindow(child);
    child->raise();
    setSize(twips::outerWidth(child) + kWidthMargin, twips::outerHeight(child) + kHeightMargin);
    child->move(0, 0);
}

void frmMain::mnuCont_Click() {
    const bool opening = !control_;
    if (opening) {
        frmControl *child = controlFactory_(store_);
        control_ = child;
        connect(child, &MdiChild::unloading, this, [this] {
            // A check under way may keep the closed window a moment: it is no longer the controller.
            control_ = nullptr;
            mnuSet->setEnabled(true);
            restoreRestSize();
        });
        mdi_->addSubWindow(child);
        child->Form_Load();
    }
    showChild(control_);
    mnuSet->setEnabled(false);
    // Shown first, the window answers while its opening check waits on the network.
    if (opening)
        control_->openingCheck();
}

void frmMain::mnuSet_Click() {
    if (!setup_) {
        auto *child = new frmSetup(store_.record());
        setup_ = child;
        connect(child, &MdiChild::unloading, this, [this] {
            mnuCont->setEnabled(true);
            restoreRestSize();
        });
        // What was typed survives a crash: the profile is written as the window closes.
        connect(child, &MdiChild::unloaded, this, [this] {
            if (!unloaded_)
                saveProfile();
        });
        mdi_->addSubWindow(child);
        child->Form_Load();
    }
    showChild(setup_);
    mnuCont->setEnabled(false);
}

void frmMain::mnuVer_Click() {
    if (!about_)
        about_ = new frmAbout;
    about_->show();
    about_->raise();
    about_->activateWindow();
}

void frmMain::mnuEnd_Click() {
    close();
    delete about_;
    QCoreApplication::quit();
}

void frmMain::closeEvent(QCloseEvent *event) {
    MDIForm_Unload();
    event->accept();
}

void frmMain::saveProfile() {
    store_.SaveSetData();
    store_.SaveConData();
}

void frmMain::MDIForm_Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    // Children first: their close handling copies their state into the record.
    mdi_->closeAllSubWindows();
    saveProfile();
    // The next run fetches the server's copy again. A copy that cannot be deleted is left.
    const QFileInfo working(store_.ipDataPath());
    if (working.isFile())
        QFile::remove(working.filePath());
}
