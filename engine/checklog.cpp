#include "engine/checklog.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace checklog {

namespace {
// ISO 8601 local time with its offset, "+09:00" also for an offset of zero.
QString timestamp() {
    const QDateTime now = QDateTime::currentDateTime();
    const int offset = now.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    return now.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + (offset < 0 ? u'-' : u'+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

void append(const QString &folder, const QString &text) {
    QString line = timestamp() + u' ' + text;
    line.replace(u'\r', u' ').replace(u'\n', u' ');
    const QByteArray bytes = line.toUtf8() + '\n';
    const QString path = folder + QStringLiteral("/zentrow.log");
    const QFileInfo info(path);
    if (info.exists() && info.size() + bytes.size() > kMaxBytes) {
        const QString older = path + QStringLiteral(".1");
        QFile::remove(older);
        QFile::rename(path, older);
    }
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(bytes);
}

} // namespace checklog
