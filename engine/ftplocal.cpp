#include "engine/ftplocal.h"

#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <curl/curl.h>

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
    // Not forced to disk: the working copy is scratch, and one left by a run that crashed is deleted
    // before the next run's first download. close() still reports what a late-writing file system found.
    const bool ok = ::close(fd_) == 0;
    fd_ = -1;
    return ok;
}

size_t writeToPart(char *data, size_t size, size_t count, void *part) {
    const size_t n = size * count;
    return static_cast<PartFile *>(part)->append(data, n) ? n : 0;
}

size_t readFromSource(char *buffer, size_t size, size_t count, void *source) {
    auto *s = static_cast<UploadSource *>(source);
    for (;;) {
        const ssize_t n = ::read(s->fd, buffer, size * count);
        if (n >= 0)
            return size_t(n);
        if (errno != EINTR) {
            s->failed = true;
            return CURL_READFUNC_ABORT;
        }
    }
}
