#include "engine/ftplocal.h"

#include <cerrno>
#include <unistd.h>

#include <curl/curl.h>

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
