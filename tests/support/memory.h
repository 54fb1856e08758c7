#pragma once

#include <QtGlobal>

namespace vm::test {

// This process's resident memory now (VmRSS) and at its peak (VmHWM), in kB; -1 when the
// system does not tell.
qint64 residentKb();
qint64 peakResidentKb();

} // namespace vm::test
