#pragma once

#include <QString>

// The four values a caller hands to the profile access.
struct IniShuttle {
    QString strSection;
    QString strKey;
    QString strValue;
    QString strIniFile;
};

// Profile access in the ANSI code page; reads return at most 255 bytes of a value.
namespace mdlIniTemp {

inline constexpr int kReadBufferSize = 256;

// Writes sh.strValue as sh.strKey in sh.strSection of sh.strIniFile. Failures go unnoticed.
void WriteIni(const IniShuttle &sh);
// sh.strValue := the stored value, or empty text.
void ReadIni(IniShuttle &sh);
// The stored value or `def`; also left in sh.strValue.
QString GetIniString(IniShuttle &sh, const QString &file, const QString &section, const QString &key,
                     const QString &def);

} // namespace mdlIniTemp
