#pragma once

#include <QByteArray>
#include <QString>

// Profile (INI) files read and written the way the Windows profile-string functions do it,
// over raw bytes in the ANSI code page. Writes replace the file whole or not at all.
namespace profile {

// A profile is a few hundred bytes; a larger file than this is not read, and so never replaced.
inline constexpr qint64 kMaxFileBytes = 16 << 20;

// The value of `key` in the first section named `section`, or `def` without its trailing
// spaces; cut to at most size - 1 bytes, never inside a double-byte character. Never
// creates or changes the file.
QByteArray getString(const QByteArray &section, const QByteArray &key, const QByteArray &def, int size,
                     const QString &path);

// Sets `key` in `section` to `value`, creating the key, the section or the file as needed.
// Everything else in the file is kept byte for byte. The value ends at its first line break.
// Names that a read could never find again are refused. Returns false when the file does not hold
// the value afterwards; a file that holds it already is not rewritten.
bool writeString(const QByteArray &section, const QByteArray &key, const QByteArray &value,
                 const QString &path);

} // namespace profile
