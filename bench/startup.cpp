// Zentrow's start-up as main.cpp does it, offscreen, with a program folder of the benchmark's
// own. Prints "EXPOSED <ns>" on the monotonic clock when the main window is first exposed;
// with --idle it then opens the controller, idles two seconds and prints "RSS <KiB>".
//   zentrow_startup FOLDER [--idle]
#include "bench/harness.h"

#include "settings/settingsstore.h"
#include "shell/frmmain.h"

#include <QAction>
#include <QApplication>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

class ExposeWatch : public QObject {
public:
    explicit ExposeWatch(std::function<void()> onExposed) : onExposed_(std::move(onExposed)) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (!done_ && event->type() == QEvent::Expose && static_cast<QWindow *>(watched)->isExposed()) {
            done_ = true;
            onExposed_();
        }
        return false;
    }

private:
    std::function<void()> onExposed_;
    bool done_ = false;
};

} // namespace

int main(int argc, char *argv[]) {
    if (argc < 2)
        return 2;
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const bool idle = argc > 2 && std::strcmp(argv[2], "--idle") == 0;
    // Offscreen through the arguments, so the environment stays as the user's.
    char platform[] = "-platform";
    char offscreen[] = "offscreen";
    char *qtArgv[] = {argv[0], platform, offscreen, nullptr};
    int qtArgc = 3;
    QApplication app(qtArgc, qtArgv);
    QApplication::setApplicationName(QStringLiteral("Zentrow"));

    SettingsStore store(folder);
    frmMain main(store);
    ExposeWatch watch([&] {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
        std::printf("EXPOSED %lld\n", static_cast<long long>(ns));
        std::fflush(stdout);
        if (!idle) {
            QTimer::singleShot(0, &app, &QApplication::quit);
            return;
        }
        QTimer::singleShot(0, &main, [&main] { main.mnuCont->trigger(); });
        QTimer::singleShot(2000, &app, [&app] {
            std::printf("RSS %ld\n", bench::rssKiB());
            std::fflush(stdout);
            app.quit();
        });
    });
    main.winId(); // the native window exists before it is shown, so no expose goes unseen
    main.windowHandle()->installEventFilter(&watch);
    main.show();
    return QApplication::exec();
}
