#include "programs/startup.h"

#include "engine/checkcommand.h"
#include "engine/codepage.h"
#include "engine/folderlock.h"
#include "engine/headlesscheck.h"
#include "engine/settingsstore.h"
#include "engine/shutdownsignals.h"
#include "programs/autostart.h"
#include "windows/frmmain.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QSet>

#include <cstdlib>
#include <optional>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace startup {

namespace {

// A box only where someone can see and answer it; standard error always.
void refuse(const QString &text) {
    checkcommand::print(stderr, u"zentrow: "_s + QString(text).remove(u'\r') + u'\n');
    const QString platform = QGuiApplication::platformName();
    if (platform != u"offscreen"_s && platform != u"minimal"_s)
        QMessageBox::critical(nullptr, u"Zentrow"_s, text);
}

// Options the toolkit takes for itself (QGuiApplication's, QApplication's, the X11 platform's), with
// one dash or two, the value next or after "=". They never decide what the command line asks for,
// and without windows they mean nothing.
QStringList withoutToolkitOptions(const QStringList &args) {
    static const QSet<QString> withValue{
        u"platform"_s,    u"platformpluginpath"_s, u"platformtheme"_s, u"plugin"_s, u"qwindowgeometry"_s,
        u"qwindowicon"_s, u"qwindowtitle"_s,       u"session"_s,       u"style"_s,  u"stylesheet"_s,
        u"display"_s,     u"geometry"_s,           u"title"_s,         u"icon"_s,   u"name"_s,
        u"visual"_s,      u"qmljsdebugger"_s};
    static const QSet<QString> flags{u"reverse"_s, u"widgetcount"_s, u"nograb"_s,
                                     u"dograb"_s,  u"sync"_s,        u"testability"_s};
    QStringList out;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == u"--"_s) {
            out << args.mid(i);
            break;
        }
        const QString option = arg.mid(arg.startsWith(u"--"_s) ? 2 : 1);
        const qsizetype eq = option.indexOf(u'=');
        const QString name = option.left(eq);
        if (i > 0 && arg.startsWith(u'-') && ((eq < 0 && flags.contains(name)) || withValue.contains(name))) {
            i += eq < 0 && withValue.contains(name) ? 1 : 0;
            continue;
        }
        out << arg;
    }
    return out;
}

// Without a display the toolkit's platform plugin cannot start, and the toolkit ends the process
// from inside its constructor with an abort. Until it is up, its messages are held: on that fatal
// one the run ends with one line that says what to do instead; otherwise they are passed on.
class DisplayGuard {
public:
    DisplayGuard() { previous_ = qInstallMessageHandler(hold); }
    ~DisplayGuard() {
        qInstallMessageHandler(previous_);
        for (const Held &m : std::exchange(held(), {}))
            qt_message_output(m.type, QMessageLogContext(nullptr, 0, nullptr, m.category.constData()),
                              m.text);
    }
    DisplayGuard(const DisplayGuard &) = delete;
    DisplayGuard &operator=(const DisplayGuard &) = delete;

private:
    struct Held {
        QtMsgType type;
        QByteArray category;
        QString text;
    };
    static std::vector<Held> &held() {
        static std::vector<Held> messages;
        return messages;
    }
    static void hold(QtMsgType type, const QMessageLogContext &context, const QString &text) {
        if (type == QtFatalMsg) {
            checkcommand::print(stderr,
                                u"zentrow: 画面 (ディスプレイ) が見つかりません。ウィンドウなしのチェックは "
                                "zentrow --check (または zentrow-check) で動きます。 (no display found; "
                                "zentrow --check runs a check without one)\n"_s);
            std::_Exit(headless::CannotRun);
        }
        held().push_back({type, context.category, text});
    }
    QtMessageHandler previous_;
};

struct WindowOptions {
    QCommandLineOption controller{u"controller"_s, u"起動したらコントローラを開き、チェックを始める"_s};
    QCommandLineOption autostart{
        u"autostart"_s,
        u"ログイン時にコントローラを開いて起動する (on) か、しない (off) かを設定して終わる"_s, u"on|off"_s};
};

// zentrow's command line: the check's options and those of the windows (made first, as the base
// that comes first).
struct Options : WindowOptions, checkcommand::CommandLine {
    Options() : CommandLine(u"zentrow"_s, {controller, autostart}) {}
};

int windows(int argc, char *argv[]) {
    // The toolkit takes its own options (-platform and the like) first.
    std::optional<QApplication> app;
    {
        const DisplayGuard guard;
        app.emplace(argc, argv);
    }
    checkcommand::nameApplication();
    Options options;
    if (!options.parse(QApplication::arguments()))
        return headless::CannotRun;
    if (!codepage::isAvailable()) {
        refuse(u"このシステムには CP932 (Shift_JIS) の文字コード変換がありません。\r\n"
               "Zentrow は日本語の設定とファイルを正しく扱えないため起動しません。"_s);
        return headless::CannotRun;
    }
    const QString folder = options.programFolder();
    QDir().mkpath(folder);
    FolderLock lock(folder);
    switch (lock.tryLock()) {
    case FolderLock::Result::Locked:
        break;
    case FolderLock::Result::InUse:
        refuse(u"このプログラムフォルダの Zentrow は既に動いています。\r\n"_s +
               QDir::toNativeSeparators(folder) +
               u"\r\n先に動いている Zentrow を使うか、それを終えてから起動して下さい。"_s);
        return headless::FolderInUse;
    case FolderLock::Result::Unwritable:
        refuse(lock.problem());
        return headless::SettingsUnusable;
    }
    SettingsStore store(folder);
    FolderLock::removeStaleWorkingCopy(store.ipDataPath());
    frmMain main(store);
    ShutdownSignals endSignals;
    QObject::connect(&endSignals, &ShutdownSignals::requested, &main, &frmMain::mnuEnd_Click);
    main.show();
    // As if the user chose "ｺﾝﾄﾛｰﾗ(&C)", once the main window is up.
    if (options.parser.isSet(options.controller))
        QMetaObject::invokeMethod(&main, &frmMain::mnuCont_Click, Qt::QueuedConnection);
    return QApplication::exec();
}

// Without a window, no display is needed: the core application alone.
int withoutWindows(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    checkcommand::nameApplication();
    Options options;
    if (!options.parse(withoutToolkitOptions(QCoreApplication::arguments())))
        return headless::CannotRun;
    if (options.isSet(options.autostart))
        return autostart::set(options.parser.value(options.autostart),
                              options.isSet(options.folder) ? options.programFolder() : QString());
    return checkcommand::runWithoutWindows(options, true);
}

} // namespace

int run(int argc, char *argv[]) {
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    Options options;
    if (options.parser.parse(withoutToolkitOptions(args)) && options.parser.positionalArguments().isEmpty()) {
        const bool windowless = options.windowless() || options.parser.isSet(options.autostart);
        return windowless ? withoutWindows(argc, argv) : windows(argc, argv);
    }
    // Options of the toolkit's own (-platform and the like) need the windows; without a display,
    // the mistake is said without one.
    const bool display = qEnvironmentVariableIsSet("DISPLAY") ||
                         qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
                         qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || args.contains(u"-platform"_s);
    return display ? windows(argc, argv) : withoutWindows(argc, argv);
}

} // namespace startup
