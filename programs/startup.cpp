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
    QApplication app(argc, argv);
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
    if (!lock.tryLock()) {
        refuse(u"このプログラムフォルダの Zentrow は既に動いています。\r\n"_s +
               QDir::toNativeSeparators(folder));
        return headless::FolderInUse;
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
    if (!options.parse(QCoreApplication::arguments()))
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
    if (options.parser.parse(args) && options.parser.positionalArguments().isEmpty()) {
        const bool windowless = options.parser.isSet(options.check) || options.parser.isSet(options.help) ||
                                options.parser.isSet(options.version) ||
                                options.parser.isSet(options.autostart);
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
