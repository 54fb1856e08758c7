#pragma once

#include <optional>

namespace vm {

// Before anything else, with no display needed: answers --help and --version on standard
// output and gives the exit status; any other command line opens the window (Qt's own
// options, such as -platform, still apply).
std::optional<int> answerInfoOptions(int argc, char* argv[]);

// Before the QApplication exists: chooses Qt's own event dispatcher over the GLib one. The
// GLib loop rounds every wait up to whole milliseconds, which holds a 1 ms repeat to about
// 920 requests a second; Qt's own waits to the microsecond. A QT_NO_GLIB already set by
// the user is left as it is.
void prepareApplication();

// Once the QApplication exists: its names, the design's fonts, the program's icon, and
// accessibility announcements batched as the log list's repaints are.
void setUpApplication();

} // namespace vm
