#pragma once

#include "form/form.h"

#include <QObject>
#include <QString>

#include <functional>

class QTimer;

namespace vm {

class QtTimerPort;

// The ping test on the Qt front end: the form's PingTimer on a QTimer and its prober, the
// shared ICMP probe. The handlers ("Ping Start", "Ping Stop", each tick) are the form's.
// Every probe runs on the window's thread and blocks it until its line is logged, so probes
// never overlap and ticks that fall due meanwhile merge into one.
class PingTest : public QObject, public form::Prober {
    Q_OBJECT
public:
    // One whole probe for the address box's text, returning its one result line.
    using Probe = std::function<QString(const QString& boxText)>;

    explicit PingTest(QObject* parent);

    // 1000 ms, disabled until "Ping Start"; its enabled flag is the test's only state.
    QTimer* const PingTimer;
    form::TimerPort& pingTimerPort();

    // Delivers the timer's ticks to the form from now on.
    void bind(form::frmSim_3870& form);

    void cmdPingStart_Click();
    void cmdPingStop_Click();
    void PingTimer_Timer();
    // The window closes: the timer stops, nothing is logged.
    void shutdown();

    // Replaces the real probe (tests use a fast stand-in).
    void setProbe(Probe probe);
    std::string ProbeLine(std::string_view boxText) override;

private:
    QtTimerPort* pingTimer_;
    form::frmSim_3870* form_ = nullptr;
    form::IcmpProber icmp_;
    Probe probe_;
};

} // namespace vm
