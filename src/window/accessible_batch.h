#pragma once

namespace vm {

// Lines come into the log list and texts into the value fields far faster than a screen
// reader can speak them (Repeat at a millisecond period adds two thousand lines a second).
// Announcing each one makes the accessibility bridge send thousands of messages a second and
// keep an accessible object for every line it named, which holds the window to half its
// pace. From this call on, the log list's focus and selection, and the texts the program
// sets into single-line fields, are announced at most every 50 ms each, as the list is
// repainted: a change after a quiet spell is announced at once; changes that follow it
// closely are announced together at the end of the 50 ms, as the state they left (the
// newest line, the field's latest text). Keys typed into a field and all other events pass
// unchanged. Needs the QApplication; a second call changes nothing.
void batchAccessibleUpdates();

} // namespace vm
