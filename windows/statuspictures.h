#pragma once

#include <QPixmap>

// The two 32 x 32 pictures of the gateway state, drawn by the program itself.
namespace statuspictures {

// Picture 1: a red disc with a white horizontal bar.
QPixmap closed();
// Picture 2: the word OPEN between an arrow pointing left and one pointing right.
QPixmap open();

} // namespace statuspictures
