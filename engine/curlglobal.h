#pragma once

#include <curl/curl.h>

// libcurl's global set-up, once per process for every transfer of the program; never undone,
// the library lives as long as the program.
CURLcode curlGlobalInit();
