#include "engine/wholefile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <cerrno>
#include <fcntl.h>
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
    // Made as any new file is (0666 less the umask, applied by the kernel): the process's umask is
    // never changed, as other threads may be making files meanwhile.
    QByteArray temp;
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 16; ++tries) {
        temp = final + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool ok = true;
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
