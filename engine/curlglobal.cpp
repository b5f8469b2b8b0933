#include "engine/curlglobal.h"

// Debian's libcurl brings GnuTLS in with its LDAP and RTMP support, and GnuTLS sets itself up as
// it loads (about 0.7 MB) unless the program defines this hook. Zentrow never uses GnuTLS: its
// transfers go through OpenSSL. Defined here, beside what every transfer calls, so that both
// programs link it.
extern "C" int _gnutls_global_init_skip() {
    return 1;
}

CURLcode curlGlobalInit() {
    static const CURLcode rc = curl_global_init(CURL_GLOBAL_DEFAULT);
    return rc;
}
