#include "engine/wholefile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
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

bool writeScratch(const QString &path, const QByteArray &bytes) {
    const QByteArray final = QFile::encodeName(path);
    QByteArray temp = final + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    bool ok = ::fchmod(fd, 0666 & ~mask) == 0;
    for (qsizetype done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        ok = n > 0 || (n < 0 && errno == EINTR);
        done += n > 0 ? n : 0;
    }
    // close() reports what a file system that writes late (NFS) found.
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.constData(), final.constData()) == 0)
        return true;
    ::unlink(temp.constData());
    return false;
}

} // namespace wholefile
