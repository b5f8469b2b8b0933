#pragma once

#include "engine/checksession.h"
#include "engine/settingsstore.h"

#include <QString>

// One check on a program folder without a window or a display, as the controller's opening check
// in automatic mode does it: detect, fetch the gateway file, publish a changed address.
namespace headless {

// The exit status of a run; `zentrow --help` lists them.
enum Exit {
    Done = 0,         // unchanged, or published (a gateway change: uploaded)
    CannotRun = 1,    // bad command line, or no CP932 converter
    NoAddress = 2,    // no address detected
    UploadFailed = 3, // the server could not be reached or refused the file, or its file not be read
    ManualMode = 4,   // changed, but uploads are manual (ChkAuto is not 1)
    SettingsUnusable =
        5,           // no zent.ini, a setting the check needs empty or unusable, or the folder unwritable
    FolderInUse = 6, // another Zentrow runs on the folder
    // Published, but the gateway page does not show it.
    PageUnconfirmed = 7,
};

// What must be filled in or put right before a check can run, naming where; empty when nothing is.
QString settingsProblem(const SettingsRecord &rec);

// Runs the check, prints one line on standard output and the boxes' texts on standard error.
int check(const QString &programFolder);

// Changes the gateway as a click on the status picture or an edit of the closed message does, and
// uploads it in either mode; prints and logs one line, the boxes' texts on standard error. No
// address is detected: the file keeps the address it holds.
int change(const QString &programFolder, const CheckSession::GatewayChange &change);

} // namespace headless
