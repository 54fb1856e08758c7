#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class frmSim_3870;
namespace vm {
class DeviceLink;
}

namespace vm::test {

// The tool's real window for the device-link tests, with every line its log list receives
// recorded, past the list's own limit too. The window is a pointer so that a test can
// destroy it first.
class LinkWindow {
public:
    LinkWindow();
    ~LinkWindow();

    std::unique_ptr<frmSim_3870> form;
    vm::DeviceLink* link = nullptr;
    QStringList lines;
    // Runs for each line as it is added, for example to make the list as slow as a busy one.
    std::function<void(const QString&)> onLine;

    void setDestination(const QString& host, const QString& port);
    // Lines whose text after the 14-character stamp begins with the given text.
    int countLines(const QString& afterStamp) const;
};

} // namespace vm::test
