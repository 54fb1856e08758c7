#include "toolkit/colors.h"

#include <QApplication>
#include <QMenu>
#include <QPalette>

namespace vm {

namespace {
QColor systemColor(quint32 index) {
    switch (index) {
    case 4: // menu background
        return QApplication::palette("QMenu").color(QPalette::Window);
    case 5: // window background
        return QApplication::palette().color(QPalette::Base);
    case 8: // window text
        return QApplication::palette().color(QPalette::Text);
    case 15: // button face
        return QApplication::palette().color(QPalette::Button);
    default:
        return QApplication::palette().color(QPalette::Window);
    }
}
} // namespace

QColor colorFromBgr(quint32 value) {
    if (value & 0x80000000u)
        return systemColor(value & 0xFFu);
    return QColor(int(value & 0xFFu), int((value >> 8) & 0xFFu), int((value >> 16) & 0xFFu));
}

} // namespace vm
