#pragma once

#include "settings/mdichild.h"
#include "settings/settingsstore.h"

// The controller window: the check schedule, address detection and publication.
class frmControl : public MdiChild {
    Q_OBJECT
public:
    explicit frmControl(SettingsStore &store, QWidget *parent = nullptr);
    void Form_Load() override;
    void SaveControllerState();

protected:
    void saveState() override { SaveControllerState(); }

private:
    SettingsStore &store_;
};
