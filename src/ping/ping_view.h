#pragma once

#include <QString>

#include <functional>

class QLineEdit;
class QPushButton;

namespace vm {
struct PingView {
    QLineEdit* txtDestIP;
    QPushButton* cmdPingStart;
    QPushButton* cmdPingStop;
    std::function<void(const QString&)> AddLog; // the window's log list
};
} // namespace vm
