// Where the window keeps its settings on Windows: the registry key of the toolkit's native
// format, HKEY_CURRENT_USER\Software\VM3870_SIMUL\vm3870sim, one string value per key.

#include "ctl/settings.h"

#include "ctl/native.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace vm::ctl {

namespace {

// The ASCII names of protocol/settings.h as the registry takes them.
std::wstring wide(std::string_view ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

const std::wstring& subKey() {
    static const std::wstring key =
        L"Software\\" + wide(vm::settings::kApplication) + L"\\" + wide(kSettingsSection);
    return key;
}

// One value, as the toolkit reads it back: a string, with "@@" at the start standing for "@",
// or a number (a PORT set with `reg add ... /t REG_DWORD`) as its decimal text. Nothing when
// the value is missing or of another type.
std::optional<std::string> readValue(HKEY key, const wchar_t* name) {
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<BYTE> data(bytes + sizeof(wchar_t), 0);
    if (RegQueryValueExW(key, name, nullptr, &type, data.data(), &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    if (type == REG_DWORD && bytes == sizeof(DWORD)) {
        DWORD number = 0;
        std::memcpy(&number, data.data(), sizeof number);
        return std::to_string(number);
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return std::nullopt;
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), bytes / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') // stored with or without its terminator
        text.pop_back();
    std::string value = utf8Of(text);
    if (value.starts_with("@@"))
        value.erase(0, 1);
    return value;
}

} // namespace

std::string windowSettingsPath() {
    return "HKEY_CURRENT_USER\\" + utf8Of(subKey());
}

WindowSettings readWindowSettings() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, subKey().c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return {};
    WindowSettings settings;
    settings.address = readValue(key, wide(vm::settings::kAddressKey).c_str());
    settings.port = readValue(key, wide(vm::settings::kPortKey).c_str());
    settings.interval = readValue(key, wide(vm::settings::kIntervalKey).c_str());
    RegCloseKey(key);
    return settings;
}

} // namespace vm::ctl
