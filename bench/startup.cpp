// Zentrow started as main.cpp starts it, the rest of the command line passed on. Prints
// "EXPOSED <ns>" on the monotonic clock when the main window is first exposed; with --idle first,
// it then opens the controller, idles two seconds and prints "RSS <KiB>" and "SIZE <w>x<h>" (the
// main window's).
//   zentrow_startup [--idle] [-platform NAME] --program-folder DIR
#include "bench/harness.h"

#include "programs/startup.h"
#include "windows/frmmain.h"

#include <QAction>
#include <QApplication>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

bool idle = false;

// Watches every window of the application for the main window's first expose.
class ExposeWatch : public QObject {
protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (done_ || event->type() != QEvent::Expose)
            return false;
        auto *window = qobject_cast<QWindow *>(watched);
        frmMain *main = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *m = qobject_cast<frmMain *>(w); m && window && m->windowHandle() == window)
                main = m;
        if (!main || !window->isExposed())
            return false;
        done_ = true;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
        std::printf("EXPOSED %lld\n", static_cast<long long>(ns));
        std::fflush(stdout);
        if (!idle) {
            QTimer::singleShot(0, qApp, &QApplication::quit);
            return false;
        }
        QTimer::singleShot(0, main, [main] { main->mnuCont->trigger(); });
        QTimer::singleShot(2000, main, [main] {
            std::printf("RSS %ld\nSIZE %dx%d\n", bench::rssKiB(), main->width(), main->height());
            std::fflush(stdout);
            QApplication::quit();
        });
        return false;
    }

private:
    bool done_ = false;
};

void watchExpose() {
    qApp->installEventFilter(new ExposeWatch);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(watchExpose)

int main(int argc, char *argv[]) {
    if (argc > 1 && std::strcmp(argv[1], "--idle") == 0) {
        idle = true;
        argv[1] = argv[0];
        return startup::run(argc - 1, argv + 1);
    }
    return startup::run(argc, argv);
}
