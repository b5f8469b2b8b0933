#include "engine/wholefile.h"

#include <QFileInfo>
#include <QSaveFile>

#include <unistd.h>

namespace wholefile {

bool write(const QString &path, const QByteArray &bytes,
           std::optional<QFileDevice::Permissions> newFileMode) {
    const bool existed = QFileInfo::exists(path);
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    // Unbuffered: commit() flushes a buffer without looking at the result, so a write that
    // fails there (ENOSPC) would still replace the file, with an empty one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (newFileMode && !existed && !file.setPermissions(*newFileMode)) {
        file.cancelWriting();
        return false;
    }
    // commit() syncs too but ignores the result; a late write error shows here.
    if (file.write(bytes) != bytes.size() || ::fsync(file.handle()) != 0) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace wholefile
