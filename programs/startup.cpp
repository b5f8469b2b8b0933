#include "programs/startup.h"

#include "engine/codepage.h"
#include "engine/folderlock.h"
#include "engine/headlesscheck.h"
#include "engine/settingsstore.h"
#include "engine/shutdownsignals.h"
#include "programs/autostart.h"
#include "version.h"
#include "windows/frmmain.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QMessageBox>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

// Debian's libcurl brings GnuTLS in with its LDAP and RTMP support, and GnuTLS sets itself up as
// it loads (about 0.7 MB) unless the program defines this hook. Zentrow never uses GnuTLS: its
// transfers go through OpenSSL.
extern "C" int _gnutls_global_init_skip() {
    return 1;
}

namespace startup {

namespace {

const QString kExitCodes = u"終了コード (--check、--autostart):\n"
                           "  0  変化なし、または公開した\n"
                           "  1  コマンドラインの誤り、CP932 の文字コード変換がない、\n"
                           "     または --autostart のファイルを書けない\n"
                           "  2  WAN IP アドレスを検出できなかった\n"
                           "  3  アップロードできなかった (FTP サーバに届かない、または拒否された)\n"
                           "  4  アドレスが変わったが手動アップロードの設定 (ChkAuto が 1 でない)\n"
                           "  5  設定が使えない (zent.ini がない、または必要な設定が空)\n"
                           "  6  このプログラムフォルダで別の Zentrow が動いている\n"_s;

void print(std::FILE *to, const QString &text) {
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

// A box only where someone can see and answer it; standard error always.
void refuse(const QString &text) {
    print(stderr, u"zentrow: "_s + QString(text).remove(u'\r') + u'\n');
    const QString platform = QGuiApplication::platformName();
    if (platform != u"offscreen"_s && platform != u"minimal"_s)
        QMessageBox::critical(nullptr, u"Zentrow"_s, text);
}

void name(QCoreApplication &) {
    QCoreApplication::setApplicationName(u"Zentrow"_s);
    QCoreApplication::setApplicationVersion(
        u"%1.%2.%3"_s.arg(zentrow::kVersionMajor).arg(zentrow::kVersionMinor).arg(zentrow::kVersionRevision));
}

struct Options {
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();
    QCommandLineOption check{u"check"_s,
                             u"ウィンドウを開かずに一度だけチェックし、変わっていれば公開して終わる"_s};
    QCommandLineOption controller{u"controller"_s, u"起動したらコントローラを開き、チェックを始める"_s};
    QCommandLineOption autostart{
        u"autostart"_s,
        u"ログイン時にコントローラを開いて起動する (on) か、しない (off) かを設定して終わる"_s, u"on|off"_s};
    QCommandLineOption folder{u"program-folder"_s, u"zent.ini を置くプログラムフォルダ"_s, u"DIR"_s};

    Options() {
        parser.setApplicationDescription(
            u"Zentrow: 変わる WAN IP アドレスを Web サーバのゲートウェイに公開します。"_s);
        parser.addOptions({check, controller, autostart, folder});
    }
    // False with a message on standard error.
    bool parse(const QStringList &args) {
        if (parser.parse(args) && parser.positionalArguments().isEmpty())
            return true;
        const QString why = parser.errorText().isEmpty()
                                ? u"unexpected argument: "_s + parser.positionalArguments().join(u' ')
                                : parser.errorText();
        print(stderr, u"zentrow: %1\nzentrow --help lists the options.\n"_s.arg(why));
        return false;
    }
    QString programFolder() const {
        return parser.isSet(folder) ? QDir(parser.value(folder)).absolutePath()
                                    : SettingsStore::resolveProgramFolder();
    }
};

int windows(int argc, char *argv[]) {
    // The toolkit takes its own options (-platform and the like) first.
    QApplication app(argc, argv);
    name(app);
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
    name(app);
    Options options;
    if (!options.parse(QCoreApplication::arguments()))
        return headless::CannotRun;
    if (options.parser.isSet(options.help)) {
        print(stdout, options.parser.helpText() + u'\n' + kExitCodes);
        return headless::Done;
    }
    if (options.parser.isSet(options.version)) {
        print(stdout, u"zentrow "_s + QCoreApplication::applicationVersion() + u'\n');
        return headless::Done;
    }
    if (options.parser.isSet(options.autostart))
        return autostart::set(options.parser.value(options.autostart),
                              options.parser.isSet(options.folder) ? options.programFolder() : QString());
    return headless::check(options.programFolder());
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
