#include "settings/codepage.h"
#include "settings/settingsstore.h"
#include "shell/frmmain.h"
#include "shell/shutdownsignals.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zentrow"));
    if (!codepage::isAvailable()) {
        const QString text =
            QStringLiteral("この システムには CP932 (Shift_JIS) の文字コード変換がありません。\n"
                           "Zentrow は日本語の設定とファイルを正しく扱えないため起動しません。");
        std::fprintf(stderr, "zentrow: %s\n", text.toLocal8Bit().constData());
        // A box only where someone can see and answer it.
        const QString platform = QGuiApplication::platformName();
        if (platform != u"offscreen" && platform != u"minimal")
            QMessageBox::critical(nullptr, QStringLiteral("Zentrow"), text);
        return 1;
    }

    SettingsStore store(SettingsStore::resolveProgramFolder());
    frmMain main(store);
    ShutdownSignals endSignals;
    QObject::connect(&endSignals, &ShutdownSignals::requested, &main, [&main] {
        main.close();
        QApplication::quit();
    });
    main.show();
    return QApplication::exec();
}
