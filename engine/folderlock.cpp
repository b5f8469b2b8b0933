#include "engine/folderlock.h"

#include <QFile>
#include <QFileInfo>

FolderLock::FolderLock(const QString &folder) : lock_(folder + QStringLiteral("/zentrow.lock")) {
    // A run lasts months: only a dead holder makes the lock stale, never its age.
    lock_.setStaleLockTime(0);
}

bool FolderLock::tryLock() {
    return lock_.tryLock(0);
}

void FolderLock::removeStaleWorkingCopy(const QString &ipDataPath) {
    if (QFileInfo(ipDataPath).isFile())
        QFile::remove(ipDataPath);
}
