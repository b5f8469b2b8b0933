// The gateway data file reader on arbitrary bytes, and the writer's round trip.
#include "engine/codepage.h"
#include "engine/ipdata.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    // Any bytes read: one field per comma, never a crash.
    const QStringList read = ipdata::decode(bytes);
    QByteArray lines = bytes;
    lines.replace('\r', QByteArray());
    lines.replace('\n', QByteArray());
    if (read.size() != lines.count(',') + 1)
        __builtin_trap();

    // The same bytes taken as fields (split at TAB) that hold no comma, CR or LF and only
    // characters CP932 has: what is written reads back as the three fields of a gateway file, the
    // state "on" or "off" and every field from the third on in the message.
    QStringList fields;
    for (QString f : codepage::fromAnsi(bytes).split(u'\t')) {
        f.remove(u',');
        f.remove(u'\r');
        f.remove(u'\n');
        f.remove(QChar::ReplacementCharacter);
        fields << codepage::fromAnsi(codepage::toAnsi(f));
    }
    const QByteArray encoded = ipdata::encode(fields);
    if (!encoded.endsWith("\r\n") || encoded.count('\n') != 1)
        __builtin_trap();
    QStringList three = ipdata::padded(fields);
    three = {three[0] == u"on" ? three[0] : QStringLiteral("off"), three[1],
             three.mid(ipdata::kFieldCount - 1).join(QStringLiteral("，"))};
    if (ipdata::decode(encoded) != three)
        __builtin_trap();
    return 0;
}
