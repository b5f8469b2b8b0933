#pragma once

#include <QWidget>

// Window sizes are kept in twips, 1440 to the inch, converted through the screen's logical DPI.
namespace twips {

inline constexpr double kPerInch = 1440.0;

double logicalDpi(const QWidget *w);
int toPixels(double twips, double dpi);
float fromPixels(int pixels, double dpi);

// A rectangle given in twips (left, top, width, height), in pixels.
QRect rect(double left, double top, double width, double height, double dpi);

// Places a control that shows a caption: at the rectangle given in twips, grown to its text
// (kept centred vertically) where the platform font is larger than the design's.
void placeCaption(QWidget *w, double left, double top, double width, double height, double dpi);

// Outer size (frame included) of a shown top-level or MDI child, in twips.
float outerWidth(const QWidget *w);
float outerHeight(const QWidget *w);

// Sets the outer size in twips: the frame is measured from the shown window, never assumed.
void setOuterSize(QWidget *w, float width, float height);

} // namespace twips
