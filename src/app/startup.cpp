#include "app/startup.h"

#include "log/logfile.h"
#include "toolkit/errorbox.h"

#include <QApplication>

namespace basPing {

int Main(const WindowFactory& createWindow) {
    if (const auto failure = MakeLogFolder()) {
        vm::showErrorBox(*failure);
        return 1;
    }
    const std::unique_ptr<QWidget> window = createWindow();
    window->show();
    return QApplication::exec();
}

} // namespace basPing
