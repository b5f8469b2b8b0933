#include "settings/profile.h"

// Placeholder until the profile layer lands.
namespace profile {
QByteArray getString(const QByteArray &, const QByteArray &, const QByteArray &def, int, const QString &) {
    return def;
}
bool writeString(const QByteArray &, const QByteArray &, const QByteArray &, const QString &) { return false; }
} // namespace profile
