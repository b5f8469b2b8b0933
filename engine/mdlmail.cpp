#include "engine/mdlmail.h"

#include "engine/codepage.h"

#include <QByteArray>

namespace mdlMail {

void ConvBase64(B64Shuttle &sh) {
    if (sh.intB64Mode == 0) {
        sh.strB64Out = QString::fromLatin1(codepage::toAnsi(sh.strB64In).toBase64());
        return;
    }
    const auto decoded =
        QByteArray::fromBase64Encoding(sh.strB64In.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    const bool pureAscii = sh.strB64In.toLatin1() == QByteArray(sh.strB64In.toUtf8());
    sh.strB64Out = decoded && pureAscii ? codepage::fromAnsi(*decoded) : QString();
}

} // namespace mdlMail
