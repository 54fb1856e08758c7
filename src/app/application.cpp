#include "app/application.h"

#include "window/accessible_batch.h"
#include "app/fonts.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <string_view>

namespace vm {

std::optional<int> answerInfoOptions(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--version") {
            std::fputs("vm3870sim " VM_VERSION "\n", stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (argument == "--help" || argument == "-h") {
            std::fputs("Usage: vm3870sim [options]\n"
                       "Opens the test tool's window for the 3870/3890 digital I/O module: "
                       "connects to a\nmodule over TCP, shows its inputs, outputs and counters, "
                       "sets outputs, resets\ncounters, repeats requests and pings the module. "
                       "The daily log files are kept in\nthe Log folder under "
                       "~/.local/share/vm3870sim.\n\n"
                       "Options:\n"
                       "  -h, --help  Displays help on commandline options.\n"
                       "  --version   Displays version information.\n\n"
                       "Qt's own options (-platform NAME, -display DISPLAY, ...) apply as in "
                       "every Qt program.\n",
                       stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    }
    return std::nullopt;
}

void prepareApplication() {
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
}

void setUpApplication() {
    QApplication::setApplicationName(QStringLiteral("vm3870sim"));
    QApplication::setDesktopFileName(QStringLiteral("vm3870sim"));
    installFontSubstitutions();
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/vm3870sim-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/vm3870sim-16.png"), QSize(16, 16));
    QApplication::setWindowIcon(icon);
    batchAccessibleUpdates();
}

} // namespace vm
