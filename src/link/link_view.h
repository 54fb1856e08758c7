#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QString>

#include <array>
#include <functional>

namespace vm {

// The window's controls that the device link reads and writes, filled in by the window.
// clang-format off
struct LinkView {
    QLineEdit* txtDestIP; QLineEdit* txtDestPort;
    QPushButton* cmdConnect; QPushButton* cmdDisconnect; QPushButton* cmdSend; QPushButton* cmdEnd;
    std::array<QRadioButton*, 3> optCommand;
    QComboBox* ComboSet; QComboBox* ComboValue; QComboBox* ComboReset;
    std::array<QRadioButton*, 2> optInterval; QComboBox* cboTime; std::array<QLabel*, 2> lblTime;
    std::array<QRadioButton*, 2> optLog;
    std::array<QLineEdit*, 6> txt_Input; std::array<QLineEdit*, 2> txt_Output; QLineEdit* txt_CheckSum;
    std::array<QLineEdit*, 6> txtCounter; std::array<QLineEdit*, 6> txtGapTime;
    std::function<void(const QString&)> AddLog;   // the window's log list
};
// clang-format on

} // namespace vm
