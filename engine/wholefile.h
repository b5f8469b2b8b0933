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

} // namespace wholefile
