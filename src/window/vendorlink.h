#pragma once

#include <QCursor>
#include <QString>

namespace vm {

// The vendor web page: both the caption of the link label and the address it opens.
inline constexpr char kVendorAddress[] = "www.velmora.example";

// Asks the desktop to open the address with its default handler (normally the web
// browser). The desktop's own failure to open it passes without a message.
void openVendorPage(const QString& address);

// The pointing hand shown over the link label, its hot spot at the fingertip.
QCursor vendorLinkCursor();

} // namespace vm
