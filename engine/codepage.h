#pragma once

#include <QByteArray>
#include <QString>

// The ANSI code page of the files Zentrow shares with Windows peers: CP932.
namespace codepage {

// Unicode to CP932. A character CP932 lacks becomes "?", as the Windows conversion does.
QByteArray toAnsi(const QString &text);

// CP932 to Unicode. A byte sequence that is not CP932 becomes U+FFFD.
QString fromAnsi(const QByteArray &bytes);

// True when the C library can convert to and from CP932. Without it every conversion would give
// empty text, so the program refuses to start.
bool isAvailable();

// True when the byte opens a double-byte character in CP932.
constexpr bool isLeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

} // namespace codepage
