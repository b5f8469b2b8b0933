#pragma once

// What bench/run.sh hands every mode: the local servers, a folder of the benchmark's own, and the
// mode's own "--name value" pairs; and the modes that measure whole processes.

#include <QDir>
#include <QHash>
#include <QString>

#include <string>
#include <vector>

struct Setup {
    QString url; // the address-echo CGI
    QString ftp; // host:port
    QString user;
    QString password;
    QString work; // a folder of the benchmark's own
    QHash<QString, QString> options;

    int number(const QString &name, int def) const {
        bool ok = false;
        const int v = options.value(name).toInt(&ok);
        return ok ? v : def;
    }
    std::string ftpUrl(const QString &remote) const {
        return (QStringLiteral("ftp://") + ftp + u'/' + remote).toStdString();
    }
    std::string userPassword() const { return (user + u':' + password).toStdString(); }
    QString path(const QString &name) const { return QDir(work).filePath(name); }
};

// Writes zent.ini into `folder` for automatic checks of the address-echo CGI that publish to
// `remote`, with an address last published that the next check finds changed.
void writeSettings(const Setup &s, const QString &folder, const QString &remote);

// One check by `command` (`zentrow-check`, or `zentrow --check`) on a folder writeSettings made,
// spawn to exit, the address changed before it: the wall time in ms, negative when it did not
// publish. With `peakKiB` it runs under zentrow_peakrss (not to be timed) and gives its peak
// resident memory.
double headlessCheck(const Setup &s, const QString &folder, std::vector<std::string> command, long *peakKiB);

int startup(const Setup &s);
int memory(const Setup &s);
