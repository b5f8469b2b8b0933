#include "engine/headlesscheck.h"

#include "engine/checksession.h"
#include "engine/codepage.h"
#include "engine/folderlock.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace headless {

namespace {
void say(std::FILE *to, const QString &line) {
    std::fputs((line + u'\n').toLocal8Bit().constData(), to);
    std::fflush(to);
}
} // namespace

QString settingsProblem(const SettingsRecord &rec) {
    QStringList missing;
    if (rec.strFtpSv.trimmed().isEmpty())
        missing << u"「FTP ｻｰﾊﾞ」"_s;
    if (rec.strFtpPath.trimmed().isEmpty())
        missing << u"「ｱｯﾌﾟﾛｰﾄﾞ先ﾌｧｲﾙ（ﾌﾙﾊﾟｽ）」"_s;
    if (rec.strIpAdd.trimmed().isEmpty())
        missing << u"「ｱﾄﾞﾚｽ」"_s;
    if (!missing.isEmpty())
        return u"設定がまだありません。\r\n「設定(&S)」で %1 を入力して下さい。\r\n"
               u"公開のあとページが「ただいま閉鎖中です」のままなら、状態の絵 (赤い丸) をクリックして"
               u"ゲートウェイを開いて下さい (デスクトップなしでは zentrow-check --gateway open)。"_s.arg(
                   missing.join(u'、'));
    // Settings from a file edited by hand: a port that is none would publish a link to nowhere.
    if (!rec.strLinkPort.trimmed().isEmpty() && !rec.linkPort())
        return u"「公開ﾎﾟｰﾄ」の %1 はポート番号ではありません。\r\n"
               u"「設定(&S)」で 1 から 65535 の数字を入れるか、空にして下さい。"_s.arg(rec.strLinkPort);
    if (rec.intIpChk == 1 && rec.ipVersion() == wancheck::IpVersion::V6)
        return u"「IPv6 で公開」では SMTP でアドレスを確かめられません。\r\n"
               u"「設定(&S)」で「nomrel.cgi を使用（推奨）」を選んで下さい。"_s;
    return {};
}

namespace {
// Locks the folder and loads its settings, or says why it cannot and gives the exit status.
int prepare(const QString &programFolder, std::optional<FolderLock> &lock,
            std::optional<SettingsStore> &opened) {
    if (!codepage::isAvailable()) {
        say(stderr, u"zentrow: no CP932 converter in the C library"_s);
        return CannotRun;
    }
    if (!QFileInfo(programFolder).isDir()) {
        say(stderr,
            u"zentrow: no program folder %1\nzentrow: プログラムフォルダがありません。--program-folder で"
            "フォルダを指定するか、デスクトップで一度 Zentrow を起動して作って下さい。"_s.arg(programFolder));
        return SettingsUnusable;
    }
    switch (lock.emplace(programFolder).tryLock()) {
    case FolderLock::Result::Locked:
        break;
    case FolderLock::Result::InUse:
        say(stderr,
            u"zentrow: another Zentrow runs on %1\nzentrow: このプログラムフォルダの Zentrow は既に動いて"
            "います。それが終わってから、もう一度チェックして下さい。"_s.arg(programFolder));
        return FolderInUse;
    case FolderLock::Result::Unwritable:
        say(stderr, u"zentrow: "_s + lock->problem().replace(u"\r\n"_s, u"\nzentrow: "_s));
        return SettingsUnusable;
    }
    SettingsStore &store = opened.emplace(programFolder);
    FolderLock::removeStaleWorkingCopy(store.ipDataPath());
    if (!QFileInfo::exists(store.iniPath())) {
        say(stderr, u"zentrow: no settings: %1 is missing\nzentrow: 「設定(&S)」で設定を保存するか、説明書の"
                    "「準備（設定ファイル）」のとおりに zent.ini を書いて下さい。"_s.arg(store.iniPath()));
        return SettingsUnusable;
    }
    store.LoadSetData();
    store.LoadConData();
    if (const QString problem = settingsProblem(store.record()); !problem.isEmpty()) {
        say(stderr, u"zentrow: "_s + QString(problem).remove(u'\r'));
        return SettingsUnusable;
    }
    return Done;
}
} // namespace

int check(const QString &programFolder) {
    std::optional<FolderLock> lock;
    std::optional<SettingsStore> opened;
    if (const int refused = prepare(programFolder, lock, opened); refused != Done)
        return refused;
    SettingsStore &store = *opened;
    CheckSession session(store);
    session.CheckWanIp();
    session.waitForDetection();
    session.DownloadIpData();
    const CheckSession::Outcome outcome = session.PublishIfChanged();
    // WanIp stays the address last published, whatever this run detected.
    store.SaveSetData();
    store.SaveConData();
    // Like every run, it leaves no working copy behind: the next one fetches the server's file.
    QFile::remove(store.ipDataPath());
    say(stdout, session.lastReport());
    switch (outcome) {
    case CheckSession::Outcome::Published:
        return session.pageUnconfirmed() ? PageUnconfirmed : Done;
    case CheckSession::Outcome::Unchanged:
        return session.gatewayFileUnread() ? UploadFailed : Done;
    case CheckSession::Outcome::NoAddress:
        if (!session.noAddressHelp().isEmpty())
            say(stderr, u"zentrow: "_s + session.noAddressHelp());
        return NoAddress;
    case CheckSession::Outcome::Manual:
        return session.gatewayFileUnread() ? UploadFailed : ManualMode;
    case CheckSession::Outcome::UploadFailed:
    case CheckSession::Outcome::Cancelled:
        break;
    }
    return UploadFailed;
}

int change(const QString &programFolder, const CheckSession::GatewayChange &change) {
    std::optional<FolderLock> lock;
    std::optional<SettingsStore> opened;
    if (const int refused = prepare(programFolder, lock, opened); refused != Done)
        return refused;
    SettingsStore &store = *opened;
    CheckSession session(store);
    // What zent.ini remembers stands in until the change fetches the server's file, as in a window
    // that has just opened.
    session.ReadIpData();
    const bool uploaded = session.changeGateway(change);
    store.SaveConData();
    QFile::remove(store.ipDataPath());
    say(stdout, session.lastReport());
    if (!uploaded)
        return UploadFailed;
    return session.pageUnconfirmed() ? PageUnconfirmed : Done;
}

} // namespace headless
