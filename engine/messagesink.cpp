#include "engine/messagesink.h"

#include <QStringList>

#include <cstdio>

void StreamMessageSink::show(const QString &text, const QString &title, int) {
    QString out;
    for (const QString &line : text.split(u'\n'))
        out += title + QStringLiteral(": ") + QString(line).remove(u'\r') + u'\n';
    std::fputs(out.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}
