#include "ping/pingtest.h"

#include "probe/probe.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace vm {

PingTest::PingTest(const PingView& view, QObject* parent)
    : QObject(parent)
    , PingTimer(new QTimer(this))
    , view_(view)
    , probe_([](const QString& boxText) {
        return QString::fromStdString(pingResultLine(boxText.toStdString()));
    }) {
    PingTimer->setObjectName(QStringLiteral("PingTimer"));
    PingTimer->setInterval(1000);
    // One probe a second, as the user counts it in the log: a coarse timer may fire up to
    // 5 % early. A precise one keeps its beat from one timeout to the next, and after a
    // probe that outlasts the interval (no answer) fires once, at once.
    PingTimer->setTimerType(Qt::PreciseTimer);
    connect(PingTimer, &QTimer::timeout, this, &PingTest::PingTimer_Timer);
    connect(view_.cmdPingStart, &QPushButton::clicked, this, &PingTest::cmdPingStart_Click);
    connect(view_.cmdPingStop, &QPushButton::clicked, this, &PingTest::cmdPingStop_Click);
}

void PingTest::cmdPingStart_Click() {
    PingTimer_Timer();
    // A second start while running keeps the one timer on its current beat.
    if (!PingTimer->isActive())
        PingTimer->start();
    view_.txtDestIP->setEnabled(false);
}

void PingTest::cmdPingStop_Click() {
    if (!PingTimer->isActive())
        return;
    PingTimer->stop();
    view_.txtDestIP->setEnabled(true);
    view_.AddLog(QStringLiteral("Ping Test End~!!"));
}

void PingTest::PingTimer_Timer() {
    view_.AddLog(probe_(view_.txtDestIP->text()));
}

void PingTest::shutdown() {
    PingTimer->stop();
}

void PingTest::setProbe(Probe probe) {
    probe_ = std::move(probe);
}

} // namespace vm
