// The yardstick for Zentrow's memory: a bare Qt MDI window showing a Japanese label, nothing else.
// Idles two seconds after it is shown, prints "RSS <KiB>" and ends.
//   zentrow_barewindow [WIDTH HEIGHT]
#include "bench/harness.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    auto *area = new QMdiArea;
    window.setCentralWidget(area);
    area->addSubWindow(new QLabel(QStringLiteral("ｺﾝﾄﾛｰﾗ 閉鎖時ﾒｯｾｰｼﾞ")))->show();
    if (argc > 2)
        window.resize(std::atoi(argv[1]), std::atoi(argv[2]));
    window.show();
    QTimer::singleShot(2000, &app, [] {
        std::printf("RSS %ld\n", bench::rssKiB());
        std::fflush(stdout);
        QApplication::quit();
    });
    return QApplication::exec();
}
