#pragma once

#include "protocol/settings.h"

#include <optional>
#include <string>
#include <string_view>

namespace vm::ctl {

// The window's three remembered settings, as texts, where its settings file has them. The
// command line reads them for its defaults and never writes them.
struct WindowSettings {
    std::optional<std::string> address;
    std::optional<std::string> port;
    std::optional<std::string> interval;
};

// The section of the settings file the window keeps its keys in.
inline constexpr std::string_view kSettingsSection = vm::settings::kSection;

// The settings in the text of the window's settings file (INI lines as the window's toolkit
// writes them: quoted values, backslash escapes, "@@" for a leading "@").
WindowSettings parseWindowSettings(std::string_view fileText);

// One value as the toolkit reads it back. A value with a comma outside quotes is taken as
// it stands, as the window takes it.
std::string unescapeSettingValue(std::string_view raw);

// The platform's part: where the window keeps its settings on this system (for messages),
// and the settings read from there; nothing when they are missing or unreadable.
std::string windowSettingsPath();
WindowSettings readWindowSettings();

} // namespace vm::ctl
