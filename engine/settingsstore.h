#pragma once

#include "engine/wancheck.h"

#include <QString>
#include <QtGlobal>

// The one set of settings and last known state that every window shares.
struct SettingsRecord {
    QString strWanIp;     // current WAN address of this run
    QString strLastWanIp; // address field last published (with the link port); kept in WanIp
    QString strPvnSt;     // gateway state as the data file holds it
    QString strPvnIp;     // address the data file carries
    QString strPvnMsg;    // closed message
    qint16 intTimer = 0;  // schedule index: 0 stopped, 1..4 every 1/10/30/60 minutes, -1 none
    QString strFtpSv;
    QString strFtpUser;
    QString strFtpPass; // plain in memory, encoded in the file
    QString strFtpPath;
    QString strIpAdd;      // SMTP server, or the address-echo CGI's URL
    qint16 intChkAuto = 0; // 1 uploads changes at once
    qint16 intIpChk = 0;   // 1 SMTP, anything else the CGI
    qint16 intFtpTls = 0;  // not 0: FTP over TLS
    QString strLinkPort;   // port published with the address, "1".."65535"; empty: none
    qint16 intIpVer = 4;   // 6 publishes this computer's IPv6 address, anything else the IPv4 one
    QString strPvnUrl;     // the gateway page, asked after each upload whether it shows it; empty: not asked

    bool operator==(const SettingsRecord &) const = default;

    // What the address labels show before any detection.
    static inline const QString kNoAddress = QStringLiteral("000.000.000.000");
    // True for an address a detection gave, false for nothing or the placeholder.
    static bool isDetected(const QString &address) { return !address.isEmpty() && address != kNoAddress; }
    wancheck::IpVersion ipVersion() const {
        return intIpVer == 6 ? wancheck::IpVersion::V6 : wancheck::IpVersion::V4;
    }
    // A detected address of the version published: one found before the version was switched is none.
    bool isPublishable(const QString &address) const;
    // The link port, or none when it is empty or no port.
    std::optional<quint16> linkPort() const { return wancheck::parsePort(strLinkPort.trimmed()); }
    // The address field published for `address`: "address:port" ("[v6]:port") with a link port.
    // strLastWanIp compares with it, so a new port is published like a new address.
    QString addressField(const QString &address) const;
    // What WanIp stores: the address field last published (with its port). An address or port not
    // published yet is published by the next run; a run that detected nothing keeps what it knew.
    QString wanIpToSave() const { return strLastWanIp; }
};

// Keeps the record in zent.ini in the program folder (module mdlZentTemp).
class SettingsStore {
public:
    explicit SettingsStore(QString programFolder);

    SettingsRecord &record() { return rec_; }
    const SettingsRecord &record() const { return rec_; }
    const QString &programFolder() const { return folder_; }

    // Program folder + "/zent.ini".
    QString iniPath() const;
    // Program folder + "/ipdata.txt": the working copy of the gateway data file.
    QString ipDataPath() const;

    void LoadConData();
    void LoadSetData();
    void SaveConData();
    void SaveSetData();

    // The folder of the executable when it can be written and is not a "bin" folder, else the
    // per-user data folder (~/.local/share/Zentrow).
    static QString resolveProgramFolder();

private:
    QString folder_;
    SettingsRecord rec_;
};
