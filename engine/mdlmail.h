#pragma once

#include <QString>
#include <QtGlobal>

// The password's stored form: standard Base64 over its ANSI bytes.
struct B64Shuttle {
    QString strB64In;
    qint16 intB64Mode = 0; // 0 encode, 1 decode
    QString strB64Out;
};

namespace mdlMail {
// strB64Out := strB64In encoded (mode 0) or decoded (mode 1). A stored text that is not valid
// Base64 decodes to empty text.
void ConvBase64(B64Shuttle &sh);
} // namespace mdlMail
