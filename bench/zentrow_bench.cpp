// What one check costs next to the bare transfers, what start-up and memory cost, and whether a
// long run grows. Started by bench/run.sh, which provides the local servers.
//
//   zentrow_bench MODE --name value ...; every mode but startup takes the servers and a folder:
//   --url U --ftp HOST:PORT --user U --password P --work DIR, and then
//   transfers --zentrow PATH --zentrow-check PATH --peakrss PATH [--runs N] [--cli-runs N]
//             [--rss KiB --bare-rss KiB]
//   soak      [--checks N] [--max-seconds S]
//   memory    --exe PATH --bare PATH
//   startup   --exe PATH --work DIR [--runs N]
#include "bench/harness.h"
#include "bench/setup.h"

#include "engine/ftptransfer.h"
#include "engine/ipdata.h"
#include "engine/messagesink.h"
#include "windows/frmcontrol.h"

#include <QApplication>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <curl/curl.h>

using namespace Qt::Literals::StringLiterals;
using bench::Clock;

namespace {

// The one-line file every upload sends.
const QByteArray kLine = "on,203.0.113.7,\r\n"_ba;

// ---------------------------------------------------------------------------------------------
// The floor: three transfers by a minimal libcurl program, a fresh easy handle per transfer.

size_t discard(char *, size_t size, size_t n, void *) {
    return size * n;
}

bool bareGet(const std::string &url) {
    CURL *h = curl_easy_init();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, discard);
    const CURLcode rc = curl_easy_perform(h);
    curl_easy_cleanup(h);
    return rc == CURLE_OK;
}

bool bareUpload(const std::string &url, const std::string &userpwd, const std::string &file) {
    FILE *f = std::fopen(file.c_str(), "rb");
    if (!f)
        return false;
    CURL *h = curl_easy_init();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_USERPWD, userpwd.c_str());
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READDATA, f);
    const CURLcode rc = curl_easy_perform(h);
    curl_easy_cleanup(h);
    std::fclose(f);
    return rc == CURLE_OK;
}

bool bareDownload(const std::string &url, const std::string &userpwd, const std::string &file) {
    FILE *f = std::fopen(file.c_str(), "wb");
    if (!f)
        return false;
    CURL *h = curl_easy_init();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_USERPWD, userpwd.c_str());
    curl_easy_setopt(h, CURLOPT_WRITEDATA, f);
    const CURLcode rc = curl_easy_perform(h);
    curl_easy_cleanup(h);
    std::fclose(f);
    return rc == CURLE_OK;
}

bool bareTransfers(const Setup &s) {
    const std::string local = s.path(u"bare-up.txt"_s).toStdString();
    return bareGet(s.url.toStdString()) && bareUpload(s.ftpUrl(u"bare.txt"_s), s.userPassword(), local) &&
           bareDownload(s.ftpUrl(u"bare.txt"_s), s.userPassword(), s.path(u"bare-down.txt"_s).toStdString());
}

// ---------------------------------------------------------------------------------------------
// The same three transfers by the curl command-line tool, three runs.

bool curlCliTransfers(const Setup &s) {
    const std::string up = s.path(u"cli-up.txt"_s).toStdString();
    const std::string down = s.path(u"cli-down.txt"_s).toStdString();
    const std::string creds = s.userPassword();
    return bench::runToEnd({"curl", "-sS", "-o", "/dev/null", s.url.toStdString()}) &&
           bench::runToEnd({"curl", "-sS", "-u", creds, "-T", up, s.ftpUrl(u"cli.txt"_s)}) &&
           bench::runToEnd({"curl", "-sS", "-u", creds, "-o", down, s.ftpUrl(u"cli.txt"_s)});
}

// ---------------------------------------------------------------------------------------------
// ===== One scheduled check through Zentrow's own code ==========================================
// The controller window itself, in automatic mode with the address-echo method: each run is
// one tick of the every-minute schedule that finds the address changed, so it fetches the
// address, writes the working copy, uploads it and logs in again to download.

class CountingSink final : public MessageSink {
public:
    void show(const QString &text, const QString &title, int) override {
        if (++count <= 3)
            std::fprintf(stderr, "message: %s %s\n", qPrintable(title), qPrintable(text));
    }
    int count = 0;
};

class ZentrowCheck {
public:
    explicit ZentrowCheck(const Setup &s) : store_(programFolder(s)), window_(store_) {
        SettingsRecord &r = store_.record();
        r.strFtpSv = s.ftp;
        r.strFtpUser = s.user;
        r.strFtpPass = s.password;
        r.strFtpPath = u"ipdata.txt"_s;
        r.strIpAdd = s.url;
        r.intChkAuto = 1;
        r.intIpChk = 0;
        r.intTimer = 1;
        window_.setMessageSink(&sink_);
        window_.Form_Load();
        window_.openingCheck();
    }

    bool run() {
        // Every check sees a changed address, so every check publishes.
        SettingsRecord &r = store_.record();
        r.strLastWanIp = u"changed"_s;
        window_.tmrChk_Timer();
        return !r.strWanIp.isEmpty() && r.strLastWanIp == r.strWanIp;
    }
    int messages() const { return sink_.count; }

private:
    static QString programFolder(const Setup &s) {
        const QString dir = s.path(u"prog"_s);
        QDir().mkpath(dir);
        return dir;
    }
    CountingSink sink_;
    SettingsStore store_;
    frmControl window_;
};
// ===== end of the slot ========================================================================

// Where the time of a check goes: each unit alone, next to its bare libcurl counterpart.
void breakdown(const Setup &s, int runs) {
    CountingSink sink;
    CurlFtpClient client(sink);
    wancheck::CurlHttpFetcher fetcher;
    const QString working = s.path(u"parts.txt"_s);
    const QStringList fields{u"on"_s, u"203.0.113.7"_s, u"closed for now"_s};
    const std::string creds = s.userPassword();
    bench::Samples fetch, write, put, get, read, bget, bput, bdown;
    auto time = [](bench::Samples &into, auto &&step) {
        const auto t = Clock::now();
        step();
        into.add(bench::msSince(t));
    };
    for (int i = 0; i < runs; ++i) {
        time(fetch, [&] { fetcher.fetch(s.url, wancheck::IpVersion::V4); });
        time(write, [&] { ipdata::write(working, fields); });
        time(put, [&] { client.FtpPut(s.ftp, s.user, s.password, u"parts.txt"_s, working); });
        time(get, [&] { client.FTPGet(s.ftp, s.user, s.password, u"parts.txt"_s, working); });
        time(read, [&] { ipdata::read(working); });
        time(bget, [&] { bareGet(s.url.toStdString()); });
        time(bput, [&] { bareUpload(s.ftpUrl(u"parts.txt"_s), creds, working.toStdString()); });
        time(bdown, [&] {
            bareDownload(s.ftpUrl(u"parts.txt"_s), creds, s.path(u"parts-down.txt"_s).toStdString());
        });
    }
    std::printf("-- where the time goes\n");
    fetch.print("  CurlHttpFetcher::fetch");
    bget.print("  bare libcurl GET");
    write.print("  ipdata::write");
    put.print("  CurlFtpClient::FtpPut");
    bput.print("  bare libcurl upload");
    get.print("  CurlFtpClient::FTPGet, working copy kept");
    bdown.print("  bare libcurl download");
    read.print("  ipdata::read");
}

int transfers(const Setup &s) {
    QFile up(s.path(u"bare-up.txt"_s)), cli(s.path(u"cli-up.txt"_s));
    if (!up.open(QIODevice::WriteOnly) || up.write(kLine) != kLine.size() ||
        !cli.open(QIODevice::WriteOnly) || cli.write(kLine) != kLine.size())
        return 1;
    up.close();
    cli.close();
    const int runs = s.number(u"runs"_s, 300);
    const int cliRuns = s.number(u"cli-runs"_s, 60);
    const QString headless = s.path(u"headless"_s);
    writeSettings(s, headless, u"headless.txt"_s);
    // The check without a desktop, and the desktop program's own --check.
    const std::vector<std::string> checker{s.options.value(u"zentrow-check"_s).toStdString()};
    const std::vector<std::string> zentrow{s.options.value(u"zentrow"_s).toStdString(), "--check"};
    ZentrowCheck check(s);
    bench::Samples checkMs, bareMs, cliMs, headlessMs, zentrowMs;
    for (int i = 0; i < 20; ++i) // the caches of all five warm up
        if (!check.run() || !bareTransfers(s) ||
            (i % 5 == 0 && (!curlCliTransfers(s) || headlessCheck(s, headless, checker, nullptr) < 0 ||
                            headlessCheck(s, headless, zentrow, nullptr) < 0))) {
            std::fprintf(stderr, "warm-up failed: are the servers up?\n");
            return 1;
        }
    // Interleaved, so a change of the machine's load falls on all of them alike.
    int failed = 0;
    for (int i = 0; i < runs; ++i) {
        auto t = Clock::now();
        failed += !check.run();
        checkMs.add(bench::msSince(t));
        t = Clock::now();
        failed += !bareTransfers(s);
        bareMs.add(bench::msSince(t));
        if (i % (runs / cliRuns > 0 ? runs / cliRuns : 1) == 0 && int(cliMs.size()) < cliRuns) {
            t = Clock::now();
            failed += !curlCliTransfers(s);
            cliMs.add(bench::msSince(t));
            double ms = headlessCheck(s, headless, checker, nullptr);
            failed += ms < 0;
            headlessMs.add(ms);
            ms = headlessCheck(s, headless, zentrow, nullptr);
            failed += ms < 0;
            zentrowMs.add(ms);
        }
    }
    long peak = 0, checkerPeak = 0, zentrowPeak = 0;
    for (int i = 0; i < 3; ++i) {
        failed += headlessCheck(s, headless, checker, &peak) < 0;
        checkerPeak = std::max(checkerPeak, peak);
        failed += headlessCheck(s, headless, zentrow, &peak) < 0;
        zentrowPeak = std::max(zentrowPeak, peak);
    }
    std::printf("== Fetch + upload + download on 127.0.0.1\n");
    cliMs.print("curl command line (three runs)");
    headlessMs.print("zentrow-check, spawn to exit");
    zentrowMs.print("zentrow --check, spawn to exit");
    bareMs.print("bare libcurl (three fresh handles)");
    checkMs.print("one check through Zentrow's own code");
    std::printf("failed rounds: %d, messages shown: %d\n", failed, check.messages());
    std::printf("zentrow-check peak RSS: %ld KiB (the largest of three)\n", checkerPeak);
    std::printf("zentrow --check peak RSS: %ld KiB (the largest of three)\n", zentrowPeak);
    breakdown(s, runs / 3 > 20 ? runs / 3 : 20);
    const int rss = s.number(u"rss"_s, 0), bareRss = s.number(u"bare-rss"_s, 0);
    if (rss > 0 && bareRss > 0)
        std::printf("RSS/bare-window ratio: %.2f\n", double(rss) / bareRss);
    std::printf("check/bare-libcurl ratio: %.2f\n", checkMs.median() / bareMs.median());
    std::printf("headless/curl-cli ratio: %.2f\n", headlessMs.median() / cliMs.median());
    std::printf("check/curl-cli ratio: %.2f\n", checkMs.median() / cliMs.median());
    return failed == 0 ? 0 : 1;
}

int soak(const Setup &s) {
    const int checks = s.number(u"checks"_s, 10000);
    const int maxSeconds = s.number(u"max-seconds"_s, 900);
    ZentrowCheck check(s);
    int failed = 0;
    for (int i = 0; i < 50; ++i) // libcurl, iconv and Qt set up their caches once
        failed += !check.run();
    // Filled in before the first figure, so keeping the times adds nothing to the growth.
    std::vector<double> times(std::size_t(checks), 0.0);
    const long rss0 = bench::rssKiB();
    const int fds0 = bench::openFds();
    std::printf("== Soak: %d checks in one process (after 50 to warm up)\n", checks);
    std::printf("start: RSS %ld KiB, open descriptors %d\n", rss0, fds0);
    std::fflush(stdout);
    const auto start = Clock::now();
    int done = 0;
    for (; done < checks; ++done) {
        const auto t = Clock::now();
        failed += !check.run();
        times[std::size_t(done)] = bench::msSince(t);
        if ((done + 1) % 2000 == 0) {
            std::printf("  after %5d: RSS %ld KiB, open descriptors %d, %.1f s\n", done + 1, bench::rssKiB(),
                        bench::openFds(), bench::msSince(start) / 1000);
            std::fflush(stdout);
        }
        if (bench::msSince(start) > maxSeconds * 1000.0) {
            ++done;
            std::printf("  stopped at the time limit of %d s\n", maxSeconds);
            break;
        }
    }
    const long rss1 = bench::rssKiB();
    const int fds1 = bench::openFds();
    std::printf("end:   RSS %ld KiB, open descriptors %d, after %d checks in %.1f s (%.2f ms a check)\n",
                rss1, fds1, done, bench::msSince(start) / 1000, bench::msSince(start) / done);
    times.resize(std::size_t(done));
    std::sort(times.begin(), times.end());
    auto at = [&times](double q) { return times[std::size_t(q * double(times.size() - 1) + 0.5)]; };
    std::printf("per check: median %.3f ms, p90 %.3f, p99 %.3f (goal: under 15), max %.1f\n", at(0.5),
                at(0.9), at(0.99), times.back());
    std::printf("checks over 100 ms: %ld (goal: 0)\n",
                long(times.end() - std::upper_bound(times.begin(), times.end(), 100.0)));
    std::printf(
        "RSS growth: %ld KiB (goal: under 1024), descriptor growth: %d (goal: 0), failed checks: %d\n",
        rss1 - rss0, fds1 - fds0, failed);
    return failed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[]) {
    // Offscreen through the arguments: the programs it starts keep the environment's display.
    std::vector<char *> qtArgv(argv, argv + argc);
    char platform[] = "-platform", offscreen[] = "offscreen";
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qtArgv.insert(qtArgv.begin() + 1, {platform, offscreen});
    int qtArgc = int(qtArgv.size());
    qtArgv.push_back(nullptr);
    QApplication app(qtArgc, qtArgv.data());
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: zentrow_bench transfers|soak|startup|memory --name value ...\n");
        return 2;
    }
    Setup s;
    for (int i = 2; i + 1 < args.size(); i += 2)
        s.options.insert(args[i].mid(2), args[i + 1]);
    s.url = s.options.value(u"url"_s);
    s.ftp = s.options.value(u"ftp"_s);
    s.user = s.options.value(u"user"_s);
    s.password = s.options.value(u"password"_s);
    s.work = s.options.value(u"work"_s);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const QString mode = args[1];
    const int rc = mode == u"transfers" ? transfers(s)
                   : mode == u"soak"    ? soak(s)
                   : mode == u"startup" ? startup(s)
                   : mode == u"memory"  ? memory(s)
                                        : 2;
    curl_global_cleanup();
    return rc;
}
