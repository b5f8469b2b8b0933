#include "settings/frmsetup.h"

using namespace Qt::Literals::StringLiterals;

frmSetup::frmSetup(SettingsRecord &rec, QWidget *parent) : MdiChild(parent), rec_(rec) {
    setWindowTitle(u"Setup"_s);
    makeClientArea(5595, 5205);
}

void frmSetup::Form_Load() {}

void frmSetup::SaveSetupState() {}
