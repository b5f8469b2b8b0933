#include "controller/frmcontrol.h"

using namespace Qt::Literals::StringLiterals;

frmControl::frmControl(SettingsStore &store, QWidget *parent) : MdiChild(parent), store_(store) {
    setWindowTitle(u"ｺﾝﾄﾛｰﾗ"_s);
    makeClientArea(7095, 2070);
}

void frmControl::Form_Load() {}

void frmControl::SaveControllerState() {}
