#pragma once

#include <QCursor>
#include <QString>

namespace vm {

// Asks the desktop to open the address with its default handler (normally the web
// browser). The desktop's own failure to open it passes without a message.
void openVendorPage(const QString& address);

// The pointing hand shown over the link label, its hot spot at the fingertip.
QCursor vendorLinkCursor();

} // namespace vm
