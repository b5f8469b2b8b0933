#include "engine/ipdata.h"

#include "engine/codepage.h"
#include "engine/wholefile.h"

#include <QFile>
#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace ipdata {

QString messageText(QString text) {
    return text.replace(u',', u'，');
}

QString messageProblem(const QString &text) {
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return u"閉鎖時のメッセージに改行やタブなどの制御文字は入れられません (ipdata.txt は 1 行です)。"
                   u"1 行の文にして下さい。"_s;
    const qsizetype bytes = codepage::toAnsi(messageText(text)).size();
    if (bytes > kMaxMessageBytes)
        return u"閉鎖時のメッセージが長すぎます (CP932 で %1 バイト)。%2 バイトまでにして下さい。"_s
            .arg(bytes)
            .arg(kMaxMessageBytes);
    return {};
}

QByteArray encode(const QStringList &fields) {
    QStringList three = padded(fields);
    if (three[0] != u"on"_s)
        three[0] = u"off"_s;
    QString line =
        three.mid(0, kFieldCount - 1).join(u',') + u',' + messageText(three.mid(kFieldCount - 1).join(u','));
    line.remove(u'\r');
    line.remove(u'\n');
    return codepage::toAnsi(line) + "\r\n";
}

QStringList decode(const QByteArray &bytes) {
    // CR and LF never occur inside a CP932 character, so they can go before the conversion.
    QByteArray joined = bytes;
    joined.replace('\r', QByteArray());
    joined.replace('\n', QByteArray());
    return codepage::fromAnsi(joined).split(u',');
}

bool write(const QString &path, const QStringList &fields) {
    // The working copy: uploaded at once and deleted when the run ends.
    return wholefile::writeScratch(path, encode(fields));
}

ReadResult read(const QString &path) {
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return {ReadStatus::Missing, {}};
    // Only a regular file: a FIFO would block the open, a device could be endless.
    if (!info.isFile())
        return {ReadStatus::Unreadable, {}};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {ReadStatus::Unreadable, {}};
    const QByteArray bytes = file.read(kMaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return {ReadStatus::Unreadable, {}};
    if (bytes.size() > kMaxFileBytes)
        return {ReadStatus::Ok, {u"off"_s, QString(), QString()}};
    return {ReadStatus::Ok, decode(bytes)};
}

QStringList padded(QStringList fields, int count) {
    while (fields.size() < count)
        fields << QString();
    return fields;
}

} // namespace ipdata
