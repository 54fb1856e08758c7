#pragma once

#include <QObject>

#include <functional>

namespace vm::emu {

// Routes SIGINT and SIGTERM through a pipe into the event loop: the handler only writes
// the signal number, and `onSignal` runs later on the thread of `context`, where it may
// safely end the event loop. Returns false when the pipe cannot be made.
bool handleTerminationSignals(QObject* context, std::function<void(int)> onSignal);

} // namespace vm::emu
