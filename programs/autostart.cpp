#include "programs/autostart.h"

#include "engine/headlesscheck.h"
#include "engine/wholefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace autostart {

namespace {

int fail(const QString &why) {
    std::fputs((u"zentrow: "_s + why + u'\n').toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    return headless::CannotRun;
}

// One argument of the Exec key: quoted where the desktop entry format requires it, then
// escaped as every string value is (a backslash doubled again, a percent sign doubled).
QString execArgument(const QString &arg) {
    static const QString reserved = u" \t\n\"'\\><~|&;$*?#()`"_s;
    QString out = arg;
    if (std::any_of(arg.begin(), arg.end(), [](QChar c) { return reserved.contains(c); })) {
        out.clear();
        for (const QChar c : arg) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                out += u'\\';
            out += c;
        }
        out = u'"' + out + u'"';
    }
    return out.replace(u'\\', u"\\\\"_s).replace(u'%', u"%%"_s);
}

// This program: by its name when PATH leads to this very file, else by its full path.
QString program() {
    const QString self = QCoreApplication::applicationFilePath();
    const QString found = QStandardPaths::findExecutable(u"zentrow"_s);
    return !found.isEmpty() && QFileInfo(found).canonicalFilePath() == QFileInfo(self).canonicalFilePath()
               ? u"zentrow"_s
               : self;
}

} // namespace

QString entryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           u"/autostart/zentrow.desktop"_s;
}

int set(const QString &onOff, const QString &programFolder) {
    const QString path = entryPath();
    if (onOff == u"off"_s) {
        if (QFileInfo(path).isSymLink() || QFileInfo::exists(path)) {
            if (!QFile::remove(path))
                return fail(u"cannot remove %1"_s.arg(path));
        }
        return headless::Done;
    }
    if (onOff != u"on"_s)
        return fail(u"--autostart takes on or off, not \"%1\""_s.arg(onOff));
    QStringList args{program(), u"--controller"_s};
    if (!programFolder.isEmpty())
        args << u"--program-folder"_s << programFolder;
    QStringList exec;
    for (const QString &arg : std::as_const(args)) {
        // A desktop entry cannot hold a line end or another control character.
        if (std::any_of(arg.begin(), arg.end(), [](QChar c) { return c.category() == QChar::Other_Control; }))
            return fail(u"a control character in \"%1\" cannot go into a desktop entry"_s.arg(arg));
        exec << execArgument(arg);
    }
    const QString entry = u"[Desktop Entry]\n"
                          u"Type=Application\n"
                          u"Name=Zentrow\n"
                          u"Comment=変わる WAN IP アドレスを Web サーバ経由で公開します\n"
                          u"Exec=%1\n"
                          u"Icon=zentrow\n"
                          u"Terminal=false\n"_s.arg(exec.join(u' '));
    if (!QDir().mkpath(QFileInfo(path).path()) || !wholefile::write(path, entry.toUtf8()))
        return fail(u"cannot write %1"_s.arg(path));
    return headless::Done;
}

} // namespace autostart
