#include "log/startup.h"
#include "window/fonts.h"
#include "window/frmSim_3870.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vm3870sim"));
    QApplication::setDesktopFileName(QStringLiteral("vm3870sim"));
    vm::installFontSubstitutions();

    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/vm3870sim-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/vm3870sim-16.png"), QSize(16, 16));
    QApplication::setWindowIcon(icon);

    return basPing::Main([] { return std::make_unique<frmSim_3870>(); });
}
