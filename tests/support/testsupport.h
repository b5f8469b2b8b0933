#pragma once

#include <QByteArray>
#include <QString>

// Small helpers shared by the tests.
namespace testsupport {

QByteArray readAll(const QString &path);
bool writeAll(const QString &path, const QByteArray &bytes);
// The permission bits of the file, 0 when it is missing.
unsigned fileMode(const QString &path);

} // namespace testsupport
