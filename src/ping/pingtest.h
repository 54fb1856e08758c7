#pragma once

#include "ping/ping_view.h"

#include <QObject>

#include <functional>

class QTimer;

namespace vm {

// The ping test: "Ping Start" probes once at once and then once per tick of PingTimer,
// with the address box locked; "Ping Stop" ends it with "Ping Test End~!!". Every probe
// runs on the calling (window) thread and blocks it until its line is logged, so probes
// never overlap and ticks that fall due meanwhile merge into one.
class PingTest : public QObject {
    Q_OBJECT
public:
    // One whole probe for the address box's text, returning its one result line.
    using Probe = std::function<QString(const QString& boxText)>;

    PingTest(const PingView& view, QObject* parent);

    // 1000 ms, disabled until "Ping Start"; its enabled flag is the test's only state.
    QTimer* const PingTimer;

    void cmdPingStart_Click();
    void cmdPingStop_Click();
    void PingTimer_Timer();
    // The window closes: the timer stops, nothing is logged.
    void shutdown();

    // Replaces the real probe (tests use a fast stand-in).
    void setProbe(Probe probe);

private:
    PingView view_;
    Probe probe_;
};

} // namespace vm
