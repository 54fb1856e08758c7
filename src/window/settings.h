#pragma once

#include "protocol/settings.h"

#include <QString>

#include <optional>

namespace vm {

// The per-user settings store: application "VM3870_SIMUL", one section named after the
// application's title, text values read and written whole. On Linux the file is
// $XDG_CONFIG_HOME/VM3870_SIMUL.conf (default ~/.config).
inline constexpr const char* kSettingsApplication = settings::kApplication;
inline constexpr const char* kSettingsSection = settings::kSection;

// The value under the key, or the default when the key is missing. A key that holds
// the empty text gives the empty text.
QString GetSetting(const QString& key, const QString& defaultValue);
// The value under the key, or nothing when the key is missing.
std::optional<QString> ReadSetting(const QString& key);

// Saves the text under the key at once. When the store cannot be written the program
// keeps working on what it has.
void SaveSetting(const QString& key, const QString& value);

// Where the store keeps its values, for the README and for messages.
QString settingsFilePath();

} // namespace vm
