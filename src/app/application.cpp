#include "app/application.h"

#include "window/accessible_batch.h"
#include "app/fonts.h"

#include <QApplication>
#include <QIcon>

namespace vm {

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
