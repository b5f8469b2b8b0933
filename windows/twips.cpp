#include "windows/twips.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace twips {

double logicalDpi(const QWidget *w) {
    const QScreen *screen = w ? w->screen() : QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInch() : 96.0;
    return dpi > 0 ? dpi : 96.0;
}

int toPixels(double twips, double dpi) {
    return static_cast<int>(std::lround(twips * dpi / kPerInch));
}

float fromPixels(int pixels, double dpi) {
    return static_cast<float>(pixels * kPerInch / dpi);
}

QRect rect(double left, double top, double width, double height, double dpi) {
    return {toPixels(left, dpi), toPixels(top, dpi), toPixels(width, dpi), toPixels(height, dpi)};
}

void placeCaption(QWidget *w, double left, double top, double width, double height, double dpi) {
    QRect r = rect(left, top, width, height, dpi);
    const QSize hint = w->sizeHint();
    if (const int extra = hint.height() - r.height(); extra > 0)
        r.adjust(0, -extra / 2, 0, extra - extra / 2);
    r.setWidth(std::max(r.width(), hint.width()));
    w->setGeometry(r);
}

float outerWidth(const QWidget *w) {
    return fromPixels(w->frameGeometry().width(), logicalDpi(w));
}

float outerHeight(const QWidget *w) {
    return fromPixels(w->frameGeometry().height(), logicalDpi(w));
}

void setOuterSize(QWidget *w, float width, float height) {
    const double dpi = logicalDpi(w);
    const QSize frame = w->frameGeometry().size() - w->size();
    w->resize(QSize(toPixels(width, dpi), toPixels(height, dpi)) - frame);
}

} // namespace twips
