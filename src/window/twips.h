#pragma once

#include "form/layout.h"

#include <QRect>

namespace vm {

// The window's geometry is kept in twips, as it was designed; the Qt window lays it out at
// 96 dots per inch (15 twips to a pixel) and lets Qt scale for the screen.
constexpr int twipsToPx(int twips) {
    return form::twipsToPixels(twips, 96);
}

constexpr QRect twipsRect(int left, int top, int width, int height) {
    return QRect(twipsToPx(left), twipsToPx(top), twipsToPx(width), twipsToPx(height));
}

} // namespace vm
