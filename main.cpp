#include "settings/settingsstore.h"
#include "shell/frmmain.h"
#include "shell/shutdownsignals.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zentrow"));

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
