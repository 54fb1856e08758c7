#pragma once

#include "link/link_view.h"

#include <QGroupBox>
#include <QStringList>
#include <QWidget>

#include <functional>

// The controls of a LinkView on plain widgets, in the window's initial states, with the
// option buttons grouped as in the window and a log list that records its lines.
class LinkFixture {
public:
    LinkFixture();

    QWidget root;
    vm::LinkView view{};
    QStringList lines;
    // Replaces the log list when set, for tests of failing additions.
    std::function<void(const QString&)> addLogOverride;

    void setDestination(const QString& host, const QString& port);
    // Lines whose text after the 14-character stamp begins with the given text.
    int countLines(const QString& afterStamp) const;
};
