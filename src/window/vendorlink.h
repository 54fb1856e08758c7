#pragma once

#include <QCursor>
#include <QString>

namespace vm {

// The pointing hand shown over the link label, its hot spot at the fingertip.
QCursor vendorLinkCursor();

} // namespace vm
