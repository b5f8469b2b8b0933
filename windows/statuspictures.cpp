#include "windows/statuspictures.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace statuspictures {

namespace {
constexpr int kSize = 32;

QPixmap blank() {
    QPixmap pm(kSize, kSize);
    pm.fill(Qt::transparent);
    return pm;
}
} // namespace

QPixmap closed() {
    QPixmap pm = blank();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xd0, 0x10, 0x10));
    p.drawEllipse(QRectF(1, 1, 30, 30));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(6, 13, 20, 6));
    return pm;
}

QPixmap open() {
    QPixmap pm = blank();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor green(0x10, 0x90, 0x30);
    p.setPen(Qt::NoPen);
    p.setBrush(green);
    // Arrows above and below the word: left on top, right underneath.
    QPainterPath left;
    left.addPolygon(QPolygonF({{2, 6}, {9, 1}, {9, 4}, {22, 4}, {22, 8}, {9, 8}, {9, 11}}));
    left.closeSubpath();
    p.drawPath(left);
    QPainterPath right;
    right.addPolygon(QPolygonF({{30, 26}, {23, 21}, {23, 24}, {10, 24}, {10, 28}, {23, 28}, {23, 31}}));
    right.closeSubpath();
    p.drawPath(right);
    QFont font;
    font.setPixelSize(10);
    font.setBold(true);
    p.setFont(font);
    p.setPen(green.darker(130));
    p.drawText(QRect(0, 11, kSize, 11), Qt::AlignCenter, QStringLiteral("OPEN"));
    return pm;
}

} // namespace statuspictures
