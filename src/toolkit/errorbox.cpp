#include "toolkit/errorbox.h"

#include <QApplication>
#include <QMessageBox>

#include <utility>

namespace vm {

namespace {
ErrorBoxHandler& handlerSlot() {
    static ErrorBoxHandler handler;
    return handler;
}
} // namespace

void setErrorBoxHandler(ErrorBoxHandler handler) {
    handlerSlot() = std::move(handler);
}

void showErrorBox(const QString& text) {
    if (const ErrorBoxHandler& handler = handlerSlot()) {
        handler(text);
        return;
    }
    QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Error"), text);
}

} // namespace vm
