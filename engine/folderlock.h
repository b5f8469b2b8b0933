#pragma once

#include <QLockFile>
#include <QString>

// One program per program folder: a lock file beside zent.ini, held for the whole run. Two runs on
// one folder would both publish and both rewrite zent.ini, the later undoing the other. The lock
// of a process that has died is taken over.
class FolderLock {
public:
    explicit FolderLock(const QString &folder);

    // True when this run holds the folder now.
    bool tryLock();
    // With the lock held: a working copy found now was left by a run that did not end normally
    // and may hide the server's state, so it goes before the first download.
    static void removeStaleWorkingCopy(const QString &ipDataPath);

private:
    QLockFile lock_;
};
