#include "engine/codepage.h"

#include <QList>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <utility>

namespace {

// One conversion through glibc iconv; `bad` replaces input it cannot convert.
QByteArray convert(const char *to, const char *from, const QByteArray &in, const QByteArray &bad,
                   int unitSize) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    QByteArray out;
    out.reserve(in.size() * 2 + 8);
    char buf[1024];
    char *src = const_cast<char *>(in.constData());
    size_t left = static_cast<size_t>(in.size());
    while (left > 0) {
        char *dst = buf;
        size_t room = sizeof buf;
        const size_t rc = iconv(cd, &src, &left, &dst, &room);
        out.append(buf, static_cast<qsizetype>(dst - buf));
        if (rc != static_cast<size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // EILSEQ or EINVAL (truncated input): replace one unit and go on.
        const size_t skip = std::min(left, static_cast<size_t>(unitSize));
        src += skip;
        left -= skip;
        out.append(bad);
    }
    iconv_close(cd);
    return out;
}

} // namespace

namespace codepage {

bool isAvailable() {
    for (const auto &[to, from] : {std::pair{"CP932", "UTF-32LE"}, std::pair{"UTF-8", "CP932"}}) {
        iconv_t cd = iconv_open(to, from);
        if (cd == reinterpret_cast<iconv_t>(-1))
            return false;
        iconv_close(cd);
    }
    return true;
}

QByteArray toAnsi(const QString &text) {
    if (text.isEmpty())
        return {};
    // UTF-32 input makes one unit one character, so a bad character is replaced whole.
    QByteArray in;
    for (const uint c : text.toUcs4()) {
        const quint32 le = qToLittleEndian<quint32>(c);
        in.append(reinterpret_cast<const char *>(&le), 4);
    }
    return convert("CP932", "UTF-32LE", in, QByteArrayLiteral("?"), 4);
}

QString fromAnsi(const QByteArray &bytes) {
    if (bytes.isEmpty())
        return {};
    return QString::fromUtf8(convert("UTF-8", "CP932", bytes, QByteArrayLiteral("\xEF\xBF\xBD"), 1));
}

} // namespace codepage
