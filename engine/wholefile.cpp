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
    PartFile part(final);
    part.setLimit(bytes.size());
    return part.isOpen() && part.append(bytes.constData(), size_t(bytes.size())) && part.finish() &&
           part.replace(final);
}

} // namespace wholefile

PartFile::PartFile(const QByteArray &finalPath) {
    const qsizetype slash = finalPath.lastIndexOf('/');
    const QByteArray dir = slash < 0 ? QByteArray(".") : finalPath.left(slash);
    const QByteArray name = slash < 0 ? finalPath : finalPath.mid(slash + 1);
    // Made as any new file is (0666 less the umask, applied by the kernel): the process's umask is
    // never changed, as other threads may be making files meanwhile.
    for (int tries = 0; fd_ < 0 && tries < 16; ++tries) {
        path_ = dir + "/." + name + ".part-" + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd_ = ::open(path_.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST)
            break;
    }
    if (fd_ < 0)
        path_.clear();
}

PartFile::~PartFile() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!path_.isEmpty())
        ::unlink(path_.constData());
}

bool PartFile::append(const char *data, size_t size) {
    if (written_ + qint64(size) > limit_) {
        overLimit_ = true;
        return false;
    }
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= size_t(n);
        written_ += n;
    }
    return true;
}

bool PartFile::finish() {
    const bool ok = ::close(fd_) == 0;
    fd_ = -1;
    return ok;
}

bool PartFile::replace(const QByteArray &finalPath) {
    if (::rename(path_.constData(), finalPath.constData()) != 0)
        return false;
    path_.clear();
    return true;
}
