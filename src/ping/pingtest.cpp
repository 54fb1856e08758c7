#include "ping/pingtest.h"

#include "toolkit/timer_port.h"

#include <QTimer>

#include <utility>

namespace vm {

PingTest::PingTest(QObject* parent)
    : QObject(parent)
    , PingTimer(new QTimer(this))
    , pingTimer_(
          new QtTimerPort(PingTimer, QStringLiteral("PingTimer"), form::kTimerStartInterval)) {
    // One probe a second, as the user counts it in the log: a coarse timer may fire up to
    // 5 % early. A precise one keeps its beat from one timeout to the next, and after a
    // probe that outlasts the interval (no answer) fires once, at once.
}

form::TimerPort& PingTest::pingTimerPort() {
    return *pingTimer_;
}

void PingTest::bind(form::frmSim_3870& form) {
    form_ = &form;
    pingTimer_->onTick([this] { PingTimer_Timer(); });
}

void PingTest::cmdPingStart_Click() {
    form_->cmdPingStart_Click();
}

void PingTest::cmdPingStop_Click() {
    form_->cmdPingStop_Click();
}

void PingTest::PingTimer_Timer() {
    form_->PingTimer_Timer();
}

void PingTest::shutdown() {
    if (form_)
        form_->PingTimer.setEnabled(false);
    PingTimer->stop();
}

void PingTest::setProbe(Probe probe) {
    probe_ = std::move(probe);
}

std::string PingTest::ProbeLine(std::string_view boxText) {
    if (probe_)
        return probe_(QString::fromUtf8(boxText.data(), qsizetype(boxText.size()))).toStdString();
    return icmp_.ProbeLine(boxText);
}

} // namespace vm
