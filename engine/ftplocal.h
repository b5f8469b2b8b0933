#pragma once

#include <QByteArray>

#include <cstddef>

// The local side of an FTP transfer, handed to libcurl's data callbacks.

// A download's temporary file next to its destination, removed unless it was linked there.
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
    // On disk, closed.
    bool finish();

private:
    QByteArray path_;
    int fd_ = -1;
    qint64 written_ = 0;
    qint64 limit_ = 0;
    bool overLimit_ = false;
};

// CURLOPT_WRITEFUNCTION for a PartFile.
size_t writeToPart(char *data, size_t size, size_t count, void *part);

// An upload's open local file.
struct UploadSource {
    int fd = -1;
    bool failed = false;
};

// CURLOPT_READFUNCTION for an UploadSource.
size_t readFromSource(char *buffer, size_t size, size_t count, void *source);
