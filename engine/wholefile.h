#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <optional>

namespace wholefile {

// Writes `bytes` to a temporary file beside `path` that replaces it only once every byte is
// on disk; on any failure (a full disk included) `path` is left as it was and nothing else
// remains. `newFileMode`, when given, is the mode of a file that did not exist before.
bool write(const QString &path, const QByteArray &bytes,
           std::optional<QFileDevice::Permissions> newFileMode = std::nullopt);

// The same for a scratch file, which a run that crashed leaves for the next one to delete: replaced
// only once every byte is written, never half-written, but not forced to disk. A new file gets the
// mode the umask gives.
bool writeScratch(const QString &path, const QByteArray &bytes);

} // namespace wholefile
