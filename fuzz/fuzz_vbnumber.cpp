// Number from text never crashes and always lands in 16 bits.
#include "engine/vbnumber.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    (void)vbnumber::Val(text);
    const qint16 v = vbnumber::toInt16(text);
    // Text from number must read back as the same number.
    if (vbnumber::toInt16(vbnumber::fromInt(v)) != v)
        __builtin_trap();
    return 0;
}
