#pragma once

#include "engine/wholefile.h"

#include <cstddef>

// The local side of an FTP transfer, handed to libcurl's data callbacks.

// CURLOPT_WRITEFUNCTION for a PartFile.
size_t writeToPart(char *data, size_t size, size_t count, void *part);

// An upload's open local file.
struct UploadSource {
    int fd = -1;
    bool failed = false;
};

// CURLOPT_READFUNCTION for an UploadSource.
size_t readFromSource(char *buffer, size_t size, size_t count, void *source);
