#include "windows/frame.h"

#include <qdrawutil.h>
#include <QPainter>
#include <QStyle>

void Frame::paintEvent(QPaintEvent *) {
    QPainter p(this);
    const QFontMetrics fm(font());
    // An etched line, as the style's own group box frame would leave room for a title above it.
    qDrawShadeRect(&p, rect().adjusted(0, fm.height() / 2, 0, 0), palette(), true, 1, 0);
    if (title().isEmpty())
        return;
    // The title stands on the window's background, over the line, a little in from the left.
    const int pad = fm.horizontalAdvance(QLatin1Char(' ')) / 2 + 1;
    const QRect text(fm.averageCharWidth() + pad, 0, fm.horizontalAdvance(title()) + 2 * pad, fm.height());
    p.fillRect(text, palette().window());
    style()->drawItemText(&p, text, Qt::AlignCenter | Qt::TextShowMnemonic, palette(), isEnabled(), title(),
                          QPalette::WindowText);
}
