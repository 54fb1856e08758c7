#pragma once

// The form's ports on Qt that belong to the window rather than to a subsystem: the settings
// store on QSettings, the clock, the daily file's folder, and the desktop (beep, "Error" box,
// web address).

#include "form/ports.h"

namespace vm {

// The settings store of window/settings.h.
class QtSettingsStore final : public form::SettingsStore {
public:
    std::optional<std::string> Read(std::string_view key) override;
    void Write(std::string_view key, std::string_view value) override;
};

// The program's one clock (log/timestamp.h), which tests may pin.
class QtClock final : public form::ClockPort {
public:
    TimeOfDay UtcTimeOfDay() override;
    form::Date LocalDate() override;
};

// Daily files in the program's Log folder (log/logfile.h), found anew for each entry so that
// tests may move it, written by the form's portable writer.
class QtLogFiles final : public form::LogFiles {
public:
    std::filesystem::path Folder() override;
    std::optional<std::string> Append(const std::filesystem::path& file,
                                      std::string_view bytes) override;
};

// The system beep (window/keyfilter.h), the modal "Error" box (toolkit/errorbox.h) and the
// desktop's handler of web addresses (QDesktopServices).
class QtDesktop final : public form::Desktop {
public:
    void Beep() override;
    void ErrorBox(const std::string& text) override;
    void OpenAddress(const std::string& address) override;
};

} // namespace vm
