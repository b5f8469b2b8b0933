#include "windows/mdichild.h"

#include "windows/twips.h"

#include <QCloseEvent>

MdiChild::MdiChild(QWidget *parent) : QMdiSubWindow(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    // A fixed single border: no resizing by the frame or the system menu.
    setWindowFlags(Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
}

void MdiChild::showEvent(QShowEvent *event) {
    QMdiSubWindow::showEvent(event);
    if (sizeFixed_)
        return;
    // The size the window opens with is the only one it has.
    sizeFixed_ = true;
    setFixedSize(size());
}

QWidget *MdiChild::makeClientArea(double widthTwips, double heightTwips) {
    auto *client = new QWidget;
    const double dpi = twips::logicalDpi(this);
    client->setFixedSize(twips::toPixels(widthTwips, dpi), twips::toPixels(heightTwips, dpi));
    setWidget(client);
    return client;
}

void MdiChild::closeEvent(QCloseEvent *event) {
    QMdiSubWindow::closeEvent(event);
    if (!event->isAccepted() || unloaded_)
        return;
    unloaded_ = true;
    emit unloading();
    saveState();
    emit unloaded();
}
