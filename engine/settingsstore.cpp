#include "engine/settingsstore.h"

#include "engine/mdlinitemp.h"
#include "engine/mdlmail.h"
#include "engine/vbnumber.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace {

// Opening steps shared by the four load and save operations.
IniShuttle openSection(const SettingsStore &store, const QString &section) {
    IniShuttle sh;
    sh.strSection = section;
    sh.strIniFile = store.iniPath();
    return sh;
}

QString readKey(IniShuttle &sh, const QString &key) {
    sh.strKey = key;
    mdlIniTemp::ReadIni(sh);
    return sh.strValue;
}

void writeKey(IniShuttle &sh, const QString &key, const QString &value) {
    sh.strKey = key;
    sh.strValue = value;
    mdlIniTemp::WriteIni(sh);
}

QString convBase64(const QString &in, qint16 mode) {
    B64Shuttle b64;
    b64.strB64In = in;
    b64.intB64Mode = mode;
    mdlMail::ConvBase64(b64);
    return b64.strB64Out;
}

// The file holds the FTP password: on Windows hidden alone, elsewhere readable by its owner only.
void protectFile(const QString &path) {
#ifdef Q_OS_WIN
    SetFileAttributesW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(path).utf16()),
                       FILE_ATTRIBUTE_HIDDEN);
#else
    if (QFileInfo::exists(path))
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
#endif
}

} // namespace

bool SettingsRecord::isPublishable(const QString &address) const {
    const bool v6 = QHostAddress(address).protocol() == QAbstractSocket::IPv6Protocol;
    return isDetected(address) && v6 == (ipVersion() == wancheck::IpVersion::V6);
}

QString SettingsRecord::addressField(const QString &address) const {
    const std::optional<quint16> port = linkPort();
    if (!port)
        return address;
    const bool v6 = QHostAddress(address).protocol() == QAbstractSocket::IPv6Protocol;
    return (v6 ? u'[' + address + u']' : address) + u':' + QString::number(*port);
}

SettingsStore::SettingsStore(QString programFolder) : folder_(std::move(programFolder)) {}

QString SettingsStore::iniPath() const {
    return folder_ + u"/zent.ini"_s;
}

QString SettingsStore::ipDataPath() const {
    return folder_ + u"/ipdata.txt"_s;
}

void SettingsStore::LoadConData() {
    IniShuttle sh = openSection(*this, u"ConData"_s);
    rec_.strLastWanIp = readKey(sh, u"WanIp"_s);
    rec_.strPvnSt = readKey(sh, u"PvnSt"_s);
    rec_.strPvnIp = readKey(sh, u"PvnIp"_s);
    rec_.strPvnMsg = readKey(sh, u"PvnMsg"_s);
    rec_.intTimer = vbnumber::toInt16(readKey(sh, u"Timer"_s));
}

void SettingsStore::LoadSetData() {
    IniShuttle sh = openSection(*this, u"SetData"_s);
    rec_.strFtpSv = readKey(sh, u"FtpSv"_s);
    rec_.strFtpUser = readKey(sh, u"FtpUser"_s);
    rec_.strFtpPass = convBase64(readKey(sh, u"FtpPass"_s), 1);
    rec_.strFtpPath = readKey(sh, u"FtpPath"_s);
    rec_.strIpAdd = readKey(sh, u"IpAdd"_s);
    rec_.intChkAuto = vbnumber::toInt16(readKey(sh, u"ChkAuto"_s));
    rec_.intIpChk = vbnumber::toInt16(readKey(sh, u"IpChk"_s));
    rec_.intFtpTls = vbnumber::toInt16(readKey(sh, u"FtpTls"_s));
    rec_.strLinkPort = readKey(sh, u"LinkPort"_s);
    // Missing, as in files from before the choice, it is 4.
    rec_.intIpVer = vbnumber::toInt16(readKey(sh, u"IpVer"_s)) == 6 ? 6 : 4;
    rec_.strPvnUrl = readKey(sh, u"PvnUrl"_s);
}

void SettingsStore::SaveConData() {
    IniShuttle sh = openSection(*this, u"ConData"_s);
    writeKey(sh, u"WanIp"_s, rec_.wanIpToSave());
    writeKey(sh, u"PvnSt"_s, rec_.strPvnSt);
    writeKey(sh, u"PvnIp"_s, rec_.strPvnIp);
    writeKey(sh, u"PvnMsg"_s, rec_.strPvnMsg);
    writeKey(sh, u"Timer"_s, vbnumber::fromInt(rec_.intTimer));
}

void SettingsStore::SaveSetData() {
    IniShuttle sh = openSection(*this, u"SetData"_s);
    writeKey(sh, u"FtpSv"_s, rec_.strFtpSv);
    writeKey(sh, u"FtpUser"_s, rec_.strFtpUser);
    writeKey(sh, u"FtpPass"_s, convBase64(rec_.strFtpPass, 0));
    writeKey(sh, u"FtpPath"_s, rec_.strFtpPath);
    writeKey(sh, u"IpAdd"_s, rec_.strIpAdd);
    writeKey(sh, u"ChkAuto"_s, vbnumber::fromInt(rec_.intChkAuto));
    writeKey(sh, u"IpChk"_s, vbnumber::fromInt(rec_.intIpChk));
    writeKey(sh, u"FtpTls"_s, vbnumber::fromInt(rec_.intFtpTls));
    writeKey(sh, u"LinkPort"_s, rec_.strLinkPort);
    writeKey(sh, u"IpVer"_s, vbnumber::fromInt(rec_.intIpVer));
    writeKey(sh, u"PvnUrl"_s, rec_.strPvnUrl);
    protectFile(iniPath());
}

QString SettingsStore::resolveProgramFolder() {
    const QString exeDir = QCoreApplication::applicationDirPath();
    // A program in a folder of its own keeps its files there; an installed one (in a "bin" folder,
    // /usr/bin or ~/.local/bin) keeps them in the user's data folder, whoever may write to "bin".
    if (QFileInfo(exeDir).isWritable() && QDir(exeDir).dirName() != u"bin"_s)
        return exeDir;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir().mkpath(data);
    return data;
}
