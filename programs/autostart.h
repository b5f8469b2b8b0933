#pragma once

#include <QString>

// Start at log-in: a desktop entry in the user's autostart folder that starts Zentrow with its
// controller open, so that checks run without a click.
namespace autostart {

// $XDG_CONFIG_HOME/autostart/zentrow.desktop (~/.config when it is not set).
QString entryPath();

// Writes the entry ("on") or removes it ("off"); a program folder given on the command line goes
// into it. Returns an exit status of headless::Exit; on failure a message is on standard error.
int set(const QString &onOff, const QString &programFolder);

} // namespace autostart
