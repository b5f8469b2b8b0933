// The modes that measure whole processes: start-up, memory with the controller open next to a bare
// window, and one check by `zentrow-check` or `zentrow --check`.
#include "bench/harness.h"
#include "bench/setup.h"

#include "engine/settingsstore.h"

#include <cstdio>
#include <cstdlib>

using namespace Qt::Literals::StringLiterals;
using bench::Clock;

namespace {

// The address the published one is set to before a check, so that every check publishes.
const QString kOldAddress = u"192.0.2.1"_s;

// The figure after "NAME " in a child's output; empty when it has none.
std::string field(const std::string &out, const std::string &name) {
    const std::size_t at = out.find(name + ' ');
    if (at == std::string::npos)
        return {};
    const std::size_t from = at + name.size() + 1;
    return out.substr(from, out.find('\n', from) - from);
}

} // namespace

void writeSettings(const Setup &s, const QString &folder, const QString &remote) {
    QDir().mkpath(folder);
    SettingsStore store(folder);
    SettingsRecord &r = store.record();
    r.strFtpSv = s.ftp;
    r.strFtpUser = s.user;
    r.strFtpPass = s.password;
    r.strFtpPath = remote;
    r.strIpAdd = s.url;
    r.intChkAuto = 1;
    r.intIpChk = 0;
    r.intTimer = 1;
    r.strWanIp = r.strLastWanIp = kOldAddress;
    store.SaveSetData();
    store.SaveConData();
}

double headlessCheck(const Setup &s, const QString &folder, std::vector<std::string> argv, long *peakKiB) {
    SettingsStore store(folder);
    store.LoadConData();
    store.record().strWanIp = store.record().strLastWanIp = kOldAddress;
    store.SaveConData();
    argv.insert(argv.end(), {"--program-folder", folder.toStdString()});
    if (peakKiB)
        argv.insert(argv.begin(), s.options.value(u"peakrss"_s).toStdString());
    std::string out;
    const auto t = Clock::now();
    const bool ok = bench::runToEnd(argv, &out);
    const double ms = bench::msSince(t);
    if (!ok || out.find(" published") == std::string::npos) {
        std::fprintf(stderr, "%s: %s", argv.front().c_str(), out.c_str());
        return -1;
    }
    if (peakKiB)
        *peakKiB = std::atol(field(out, "PEAK").c_str());
    return ms;
}

// Start-up: from before the process is spawned to its main window being exposed, as the child
// reports it on the shared monotonic clock.
int startup(const Setup &s) {
    const std::string exe = s.options.value(u"exe"_s).toStdString();
    const std::string folder = s.path(u"startup"_s).toStdString();
    QDir().mkpath(QString::fromStdString(folder));
    const int runs = s.number(u"runs"_s, 20);
    bench::Samples shown;
    for (int i = 0; i < runs + 3; ++i) {
        std::string out;
        const double t0 = std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
        const bool ok = bench::runToEnd({exe, "-platform", "offscreen", "--program-folder", folder}, &out);
        const std::string exposed = field(out, "EXPOSED");
        if (!ok || exposed.empty()) {
            std::fprintf(stderr, "start-up run failed: %s\n", out.c_str());
            return 1;
        }
        if (i >= 3) // the first runs fill the page cache
            shown.add(std::stod(exposed) / 1e6 - t0);
    }
    std::printf("== Start-up (offscreen)\n");
    shown.print("process start to main window shown");
    return 0;
}

// Zentrow with the controller open, its opening check published, then the bare window at the
// same size, both on the display of the environment, each after two idle seconds.
int memory(const Setup &s) {
    const QString folder = s.path(u"memory"_s);
    writeSettings(s, folder, u"memory.txt"_s);
    std::string out, bare;
    const bool ok = bench::runToEnd(
        {s.options.value(u"exe"_s).toStdString(), "--idle", "--program-folder", folder.toStdString()}, &out);
    const std::string rss = field(out, "RSS"), size = field(out, "SIZE");
    if (!ok || rss.empty() || size.empty()) {
        std::fprintf(stderr, "controller run failed: %s\n", out.c_str());
        return 1;
    }
    // The same size, so both windows keep backing stores of the same size on the display.
    const std::size_t x = size.find('x');
    if (!bench::runToEnd({s.options.value(u"bare"_s).toStdString(), size.substr(0, x), size.substr(x + 1)},
                         &bare) ||
        field(bare, "RSS").empty()) {
        std::fprintf(stderr, "bare window run failed: %s\n", bare.c_str());
        return 1;
    }
    std::printf("== Memory after two idle seconds, both windows %s pixels\n", size.c_str());
    std::printf("RSS with the controller open: %s KiB\n", rss.c_str());
    std::printf("RSS of the bare window: %s KiB\n", field(bare, "RSS").c_str());
    return 0;
}
