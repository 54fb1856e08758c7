#pragma once

#include <QTemporaryDir>

namespace vm::test {

// Switches the standard paths to their test places, points the program folder at the
// temporary folder and creates its Log folder there. False when any step failed.
bool useTemporaryProgramFolder(const QTemporaryDir& folder);

} // namespace vm::test
