// The profile reader and writer on arbitrary files: no crash, and a written value reads back.
#include "engine/profile.h"

#include <QDir>
#include <QFile>

#include <cstddef>
#include <cstdint>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const QString path = QDir::tempPath() + QStringLiteral("/zentrow-fuzz-%1.ini").arg(::getpid());
    QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    // The first two bytes pick a section and a key out of a few names that the file may hold.
    static const char *const names[] = {"ConData", "SetData", "WanIp", "Timer", "a", "x y"};
    const QByteArray section = size > 0 ? names[data[0] % 6] : "ConData";
    const QByteArray key = size > 1 ? names[data[1] % 6] : "WanIp";
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(bytes.mid(2));
    }
    const QByteArray before = profile::getString(section, key, "def", 256, path);
    if (before.size() > 255)
        __builtin_trap();
    const QByteArray value = "v" + QByteArray::number(static_cast<qulonglong>(size));
    if (profile::writeString(section, key, value, path) &&
        profile::getString(section, key, "", 256, path) != value)
        __builtin_trap();
    QFile::remove(path);
    return 0;
}
