#pragma once

#include "form/controls.h"

#include <QColor>
#include <QtGlobal>

namespace vm {

// Colours are kept as 0x00BBGGRR values. A value with the top bit set names a system
// colour by its index in the low byte; index 4 is the menu background.
QColor colorFromBgr(quint32 value);

inline constexpr quint32 kSystemMenuColor = form::kSystemMenuColor;

} // namespace vm
