#pragma once

#include <QRect>

namespace vm {

// The window's geometry is kept in twips, as it was designed; 15 twips make one pixel
// at 96 dots per inch.
inline constexpr int kTwipsPerPixel = 15;

constexpr int twipsToPx(int twips) {
    // Round to the nearest pixel, halves away from zero.
    return twips >= 0 ? (twips + kTwipsPerPixel / 2) / kTwipsPerPixel
                      : -((-twips + kTwipsPerPixel / 2) / kTwipsPerPixel);
}

constexpr QRect twipsRect(int left, int top, int width, int height) {
    return QRect(twipsToPx(left), twipsToPx(top), twipsToPx(width), twipsToPx(height));
}

} // namespace vm
