#pragma once

#include <curl/curl.h>

// libcurl's global set-up, once per process for every transfer of the program; never undone,
// the library lives as long as the program.
inline CURLcode curlGlobalInit() {
    static const CURLcode rc = curl_global_init(CURL_GLOBAL_DEFAULT);
    return rc;
}
