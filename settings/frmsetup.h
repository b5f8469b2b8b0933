#pragma once

#include "settings/mdichild.h"
#include "settings/settingsstore.h"

// The settings window: edits the seven user settings of the record.
class frmSetup : public MdiChild {
    Q_OBJECT
public:
    explicit frmSetup(SettingsRecord &rec, QWidget *parent = nullptr);
    void Form_Load() override;
    void SaveSetupState();

protected:
    void saveState() override { SaveSetupState(); }

private:
    SettingsRecord &rec_;
};
