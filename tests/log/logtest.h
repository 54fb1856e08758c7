#pragma once

// Helpers shared by the log file tests.

#include "log/logfile.h"
#include "log/timestamp.h"
#include "toolkit/errorbox.h"
#include "app/startup.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QTest>
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

// Makes a plain file with the given content, replacing what was there.
inline bool writeFile(const QString& path, const QByteArray& content = {}) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
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

// Start-up refused: status 1, no window, and one error box that names the program's Log
// folder and, when given, the reason (in any case).
inline void verifyRefusedStartup(const StartupRun& run, const QString& reason = {}) {
    QCOMPARE(run.status, 1);
    QVERIFY(!run.windowMade);
    QCOMPARE(run.boxes.size(), 1);
    const QString& box = run.boxes.first();
    QVERIFY2(box.contains(QStringLiteral("program/Log")), qPrintable(box));
    if (!reason.isEmpty())
        QVERIFY2(box.contains(reason, Qt::CaseInsensitive), qPrintable(box));
}

} // namespace vmtest
