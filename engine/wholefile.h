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

// The same for a scratch file, which a run that crashed leaves for the next one to delete: replaced
// only once every byte is written, never half-written, but not forced to disk. A new file gets the
// mode the umask gives.
bool writeScratch(const QString &path, const QByteArray &bytes);

} // namespace wholefile

// A file being written beside its destination under a name of its own, made as any new file is (0666
// less the umask); removed when it goes, unless it was moved into place.
class PartFile {
public:
    explicit PartFile(const QByteArray &finalPath);
    ~PartFile();
    PartFile(const PartFile &) = delete;
    PartFile &operator=(const PartFile &) = delete;

    bool isOpen() const { return fd_ >= 0; }
    const QByteArray &path() const { return path_; }
    void setLimit(qint64 limit) { limit_ = limit; }
    // The transfer was stopped because it would have passed the limit.
    bool overLimit() const { return overLimit_; }
    // False stops the transfer.
    bool append(const char *data, size_t size);
    // Closed, not forced to disk: for scratch files, which a run that crashed leaves for the next one
    // to delete. close() still reports what a file system that writes late found.
    bool finish();
    // Replaces the destination with the finished file.
    bool replace(const QByteArray &finalPath);

private:
    QByteArray path_;
    int fd_ = -1;
    qint64 written_ = 0;
    qint64 limit_ = 0;
    bool overLimit_ = false;
};
