// zentrow-check: one check on the program folder, with no window and no toolkit, as a timer on a
// server without a desktop runs it. The options and exit codes are those of `zentrow --check`.
#include "engine/checkcommand.h"

#include <QCoreApplication>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    checkcommand::nameApplication();
    checkcommand::CommandLine cl(QStringLiteral("zentrow-check"));
    if (!cl.parse(QCoreApplication::arguments()))
        return 1;
    return checkcommand::runWithoutWindows(cl, false);
}
