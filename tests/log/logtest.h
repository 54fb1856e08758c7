#pragma once

// Helpers shared by the log file tests.

#include "log/errorbox.h"
#include "log/logfile.h"
#include "log/startup.h"
#include "log/timestamp.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace vmtest {

inline QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

// Pins the program's clock to a local date and time.
inline void pinLocal(const QDate& date, const QTime& time) {
    const QDateTime reading(date, time, Qt::LocalTime);
    vm::setClock([reading] { return reading; });
}

// Undoes every override the log tests use.
inline void resetLogOverrides() {
    vm::setClock({});
    vm::setProgramFolder({});
    vm::setInstallBinFolder({});
    vm::setErrorBoxHandler({});
}

struct StartupRun {
    int status = -1;
    bool windowMade = false;
    QStringList boxes; // texts of the error boxes shown
};

// Runs the start-up procedure with error boxes recorded; a window it makes ends the
// event loop at once.
inline StartupRun runStartup() {
    StartupRun run;
    vm::setErrorBoxHandler([&run](const QString& text) { run.boxes << text; });
    run.status = basPing::Main([&run] {
        run.windowMade = true;
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        return std::make_unique<QWidget>();
    });
    vm::setErrorBoxHandler({});
    return run;
}

} // namespace vmtest
