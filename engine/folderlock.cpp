#include "engine/folderlock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QString lockPath(const QString &folder) {
    return folder + QStringLiteral("/zentrow.lock");
}

QString reason(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return u"書き込みの権限がありません"_s;
    case EROFS:
        return u"読み取り専用のファイルシステムです"_s;
    case ENOSPC:
    case EDQUOT:
        return u"空き容量がありません"_s;
    case ENOENT:
    case ENOTDIR:
        return u"フォルダがありません"_s;
    default:
        return u"書き込めません"_s;
    }
}

} // namespace

FolderLock::FolderLock(const QString &folder) : folder_(folder), lock_(lockPath(folder)) {
    // A run lasts months: only a dead holder makes the lock stale, never its age.
    lock_.setStaleLockTime(0);
}

FolderLock::Result FolderLock::tryLock() {
    // A folder that cannot be written would pass for one in use (its stale lock cannot go), and
    // a run on it could save nothing.
    if (::access(QFile::encodeName(folder_).constData(), W_OK | X_OK) != 0) {
        error_ = errno;
        return Result::Unwritable;
    }
    if (lock_.tryLock(0))
        return Result::Locked;
    if (lock_.error() == QLockFile::LockFailedError)
        return Result::InUse;
    // QLockFile keeps the reason to itself: make the file as it does, to learn it.
    const QByteArray path = QFile::encodeName(lockPath(folder_));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    error_ = fd < 0 ? errno : 0;
    if (fd >= 0) {
        ::close(fd);
        ::unlink(path.constData());
    }
    return Result::Unwritable;
}

QString FolderLock::problem() const {
    const QString line = u"プログラムフォルダに書き込めません: %1\r\n%2 (%3)。"
                         u"フォルダの権限を直すか、--program-folder で書き込めるフォルダを指定して下さい。"_s;
    return line.arg(QDir::toNativeSeparators(folder_), reason(error_),
                    error_ ? qt_error_string(error_) : u"unknown"_s);
}

void FolderLock::removeStaleWorkingCopy(const QString &ipDataPath) {
    if (QFileInfo(ipDataPath).isFile())
        QFile::remove(ipDataPath);
}
