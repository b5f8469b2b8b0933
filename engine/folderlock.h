#pragma once

#include <QLockFile>
#include <QString>

// One program per program folder: a lock file beside zent.ini, held for the whole run. Two runs on
// one folder would both publish and both rewrite zent.ini, the later undoing the other. The lock
// of a process that has died is taken over.
class FolderLock {
public:
    explicit FolderLock(const QString &folder);

    enum class Result {
        Locked,     // this run holds the folder now
        InUse,      // another run holds it
        Unwritable, // the folder or its lock file cannot be written: problem() says why
    };
    Result tryLock();
    // After Unwritable: the folder and the reason, then what to do, as two lines.
    QString problem() const;

    // With the lock held: a working copy found now was left by a run that did not end normally
    // and may hide the server's state, so it goes before the first download.
    static void removeStaleWorkingCopy(const QString &ipDataPath);

private:
    QString folder_;
    QLockFile lock_;
    int error_ = 0; // errno of what could not be written
};
