#pragma once

#include "engine/settingsstore.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>

#include "windows/frmabout.h"
#include "windows/frmcontrol.h"
#include "windows/frmsetup.h"

class QAction;
class QMdiArea;

// The main window: menus, the two child windows and the start and end of a run.
class frmMain : public QMainWindow {
    Q_OBJECT
public:
    static constexpr float kRestWidth = 7800;
    static constexpr float kRestHeight = 800;
    static constexpr float kWidthMargin = 250;
    static constexpr float kHeightMargin = 1000;

    explicit frmMain(SettingsStore &store, QWidget *parent = nullptr);
    ~frmMain() override;

    // Outer size in twips, frame included.
    float Width() const;
    float Height() const;
    void setSize(float width, float height);
    void restoreRestSize();

    // Tests give the controller their seams before its load handling runs.
    void setControlFactory(std::function<frmControl *(SettingsStore &)> factory) {
        controlFactory_ = std::move(factory);
    }

    QAction *mnuEnd = nullptr;
    QAction *mnuCont = nullptr;
    QAction *mnuSet = nullptr;
    QAction *mnuVer = nullptr;

    frmControl *controlWindow() const { return control_; }
    frmSetup *setupWindow() const { return setup_; }
    frmAbout *aboutWindow() const { return about_; }
    QMdiArea *mdiArea() const { return mdi_; }

public slots:
    void mnuCont_Click();
    void mnuSet_Click();
    void mnuVer_Click();
    void mnuEnd_Click();
    // Shut-down: children first, then the profile, then the working copy. Runs once.
    void MDIForm_Unload();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void MDIForm_Load();
    void showChild(MdiChild *child);
    void saveProfile();

    SettingsStore &store_;
    QMdiArea *mdi_;
    QPointer<frmControl> control_;
    QPointer<frmSetup> setup_;
    QPointer<frmAbout> about_;
    std::function<frmControl *(SettingsStore &)> controlFactory_;
    float targetWidth_ = kRestWidth;
    float targetHeight_ = kRestHeight;
    bool unloaded_ = false;
    bool sizeOnRestore_ = false;
};
