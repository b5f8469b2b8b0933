#include "engine/mdlinitemp.h"

#include "engine/codepage.h"
#include "engine/profile.h"

namespace mdlIniTemp {

void WriteIni(const IniShuttle &sh) {
    // The result is not examined: a refused write changes nothing and goes unnoticed.
    profile::writeString(codepage::toAnsi(sh.strSection), codepage::toAnsi(sh.strKey),
                         codepage::toAnsi(sh.strValue), sh.strIniFile);
}

QString GetIniString(IniShuttle &sh, const QString &file, const QString &section, const QString &key,
                     const QString &def) {
    const QByteArray raw = profile::getString(codepage::toAnsi(section), codepage::toAnsi(key),
                                              codepage::toAnsi(def), kReadBufferSize, file);
    sh.strValue = codepage::fromAnsi(raw);
    return sh.strValue;
}

void ReadIni(IniShuttle &sh) {
    GetIniString(sh, sh.strIniFile, sh.strSection, sh.strKey, QString());
}

} // namespace mdlIniTemp
