#pragma once

#include <QWidget>

#include <functional>
#include <memory>

namespace basPing {

using WindowFactory = std::function<std::unique_ptr<QWidget>()>;

// Program start-up: makes the Log folder, creates the main window (which loads its
// settings) and shows it, then runs the event loop until the window is closed.
// When the folder cannot be made, an error box names the failure and the program
// ends with status 1 without a window.
int Main(const WindowFactory& createWindow);

} // namespace basPing
