#pragma once

#include "protocol/loglines.h"

#include <QString>

class QListWidget;

namespace vm {

// Lines kept in the log list before the oldest are dropped: an addition first trims
// the list down to this many, then appends, so the list never exceeds kLogListLimit + 1.
inline constexpr int kLogListLimit = int(loglines::kLogListLimit);

// Appends one line under the limit rule, selects it and scrolls it into view. Lines are
// never cut short: the list scrolls sideways to the end of its longest line.
void addLogLine(QListWidget& list, const QString& text);

} // namespace vm
