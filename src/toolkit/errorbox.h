#pragma once

#include <QString>

#include <functional>

namespace vm {

// A modal message box with the critical icon, an OK button and the title "Error".
// Tests replace the box with a recorder so that nothing waits for a user.
void showErrorBox(const QString& text);

using ErrorBoxHandler = std::function<void(const QString& text)>;
void setErrorBoxHandler(ErrorBoxHandler handler);

} // namespace vm
