#include "settings/mdichild.h"

#include "settings/twips.h"

#include <QCloseEvent>

MdiChild::MdiChild(QWidget *parent) : QMdiSubWindow(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
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
}
