#include "engine/checkcommand.h"

#include "engine/headlesscheck.h"
#include "engine/ipdata.h"
#include "engine/settingsstore.h"
#include "version.h"

#include <QCoreApplication>
#include <QDir>

using namespace Qt::Literals::StringLiterals;

namespace checkcommand {

CommandLine::CommandLine(QString programName, std::initializer_list<QCommandLineOption> more)
    : program(std::move(programName)),
      check(u"check"_s, u"ウィンドウを開かずに一度だけチェックし、変わっていれば公開して終わる"_s),
      gateway(u"gateway"_s, u"ゲートウェイを開く (open) か閉じる (close)。すぐにアップロードして終わる"_s,
              u"open|close"_s),
      message(u"message"_s, u"閉鎖時のメッセージを TEXT にし、すぐにアップロードして終わる (Manual でも)"_s,
              u"TEXT"_s),
      folder(u"program-folder"_s, u"zent.ini を置くプログラムフォルダ"_s, u"DIR"_s) {
    parser.setApplicationDescription(
        u"Zentrow: 変わる WAN IP アドレスを Web サーバのゲートウェイに公開します。"_s);
    parser.addOptions({check, gateway, message});
    for (const QCommandLineOption &option : more)
        parser.addOption(option);
    parser.addOption(folder);
}

bool CommandLine::parse(const QStringList &args) {
    QString why;
    if (!parser.parse(args))
        why = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        why = u"unexpected argument: "_s + parser.positionalArguments().join(u' ');
    else if (isSet(check) && (isSet(gateway) || isSet(message)))
        why = u"--check and --gateway or --message do not go together; run them one after the other"_s;
    else if (isSet(gateway) && parser.value(gateway) != u"open"_s && parser.value(gateway) != u"close"_s)
        why = u"--gateway takes open or close, not \"%1\""_s.arg(parser.value(gateway));
    else if (isSet(message))
        why = ipdata::messageProblem(parser.value(message));
    if (why.isEmpty())
        return true;
    print(stderr, u"%1: %2\n%1 --help lists the options.\n"_s.arg(program, why));
    return false;
}

bool CommandLine::windowless() const {
    return isSet(check) || isSet(gateway) || isSet(message) || isSet(help) || isSet(version);
}

QString CommandLine::programFolder() const {
    return parser.isSet(folder) ? QDir(parser.value(folder)).absolutePath()
                                : SettingsStore::resolveProgramFolder();
}

QString exitCodes(bool autostart) {
    return (autostart ? u"終了コード (--check、--gateway、--message、--autostart):\n"_s
                      : u"終了コード:\n"_s) +
           u"  0  変化なし、または公開した (--gateway、--message: アップロードした)\n"
           "  1  コマンドラインの誤り、CP932 の文字コード変換がない%1\n"
           "  2  WAN IP アドレスを検出できなかった\n"
           "  3  アップロードできなかった (FTP サーバに届かない、または拒否された)、\n"
           "     またはサーバの ipdata.txt を読めなかった (アドレスが変わっていなくても)\n"
           "  4  アドレスが変わったが手動アップロードの設定 (ChkAuto が 1 でない)\n"
           "  5  設定が使えない (zent.ini がない、必要な設定が空、または値が使えない)、\n"
           "     またはプログラムフォルダに書き込めない\n"
           "  6  このプログラムフォルダで別の Zentrow が動いている\n"
           "  7  公開した (ファイルはサーバにある) が、ゲートウェイのページがそれを表示していない\n"_s.arg(
               autostart ? u"、\n     または --autostart のファイルを書けない"_s : QString());
}

void nameApplication() {
    QCoreApplication::setApplicationName(u"Zentrow"_s);
    QCoreApplication::setApplicationVersion(
        u"%1.%2.%3"_s.arg(zentrow::kVersionMajor).arg(zentrow::kVersionMinor).arg(zentrow::kVersionRevision));
}

int runWithoutWindows(const CommandLine &cl, bool autostart) {
    if (cl.isSet(cl.help)) {
        print(stdout, cl.parser.helpText() + u'\n' + exitCodes(autostart));
        return headless::Done;
    }
    if (cl.isSet(cl.version)) {
        print(stdout, cl.program + u' ' + QCoreApplication::applicationVersion() + u'\n');
        return headless::Done;
    }
    if (cl.isSet(cl.gateway) || cl.isSet(cl.message)) {
        CheckSession::GatewayChange change;
        if (cl.isSet(cl.gateway))
            change.open = cl.parser.value(cl.gateway) == u"open"_s;
        if (cl.isSet(cl.message))
            change.message = cl.parser.value(cl.message);
        return headless::change(cl.programFolder(), change);
    }
    return headless::check(cl.programFolder());
}

void print(std::FILE *to, const QString &text) {
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

} // namespace checkcommand
