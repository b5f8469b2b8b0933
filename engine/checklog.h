#pragma once

#include <QString>

// zentrow.log in the program folder: one line for every check, from the window or the command
// line. It never grows past kMaxBytes (the older lines go to zentrow.log.1), and a log that cannot
// be written never disturbs a check. Nothing secret is ever handed to it.
namespace checklog {

inline constexpr qint64 kMaxBytes = 1 << 20;

// Appends "<local time with offset> <text>" as one line.
void append(const QString &folder, const QString &text);

} // namespace checklog
