#include "win32/platform.h"

#include "protocol/settings.h"
#include "win32/text.h"

#include <shellapi.h>

#include <vector>

namespace vm::win32 {

namespace {

std::wstring settingsKey() {
    return L"Software\\" + widen(settings::kApplication) + L"\\" + widen(settings::kSection);
}

} // namespace

std::optional<std::string> RegistrySettings::Read(std::string_view key) {
    const std::wstring name = widen(key);
    DWORD bytes = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, settingsKey().c_str(), name.c_str(),
                     RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = DWORD(text.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_CURRENT_USER, settingsKey().c_str(), name.c_str(),
                     RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, text.data(), &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    std::string value = narrow(text.data());
    if (value.starts_with("@@"))
        value.erase(0, 1);
    return value;
}

void RegistrySettings::Write(std::string_view key, std::string_view value) {
    std::wstring text = widen(value);
    if (text.starts_with(L"@"))
        text.insert(0, 1, L'@');
    HKEY store = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, settingsKey().c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &store, nullptr) != ERROR_SUCCESS)
        return; // the program keeps working on what it has
    RegSetValueExW(store, widen(key).c_str(), 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(text.c_str()),
                   DWORD((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(store);
}

void Desktop::Beep() {
    MessageBeep(MB_OK);
}

void Desktop::ErrorBox(const std::string& text) {
    MessageBoxW(owner_, widen(text).c_str(), L"Error", MB_OK | MB_ICONSTOP);
}

void Desktop::OpenAddress(const std::string& address) {
    // A failure reported by the shell passes silently, as the design's link does.
    ShellExecuteW(owner_, L"open", widen(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::filesystem::path programFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return std::filesystem::path(path).parent_path();
}

} // namespace vm::win32
