#pragma once

// The rest of the form's platform on Windows: the settings in the registry, the folder of the
// program, and the desktop's services.

#include "form/ports.h"

#include <windows.h>

#include <filesystem>

namespace vm::win32 {

// The settings as REG_SZ values under HKEY_CURRENT_USER\Software\<application>\<section>,
// the key vm3870ctl.exe reads. A value beginning with "@" is stored with "@@", the form in
// which vm3870ctl.exe reads such a value back.
class RegistrySettings final : public form::SettingsStore {
public:
    std::optional<std::string> Read(std::string_view key) override;
    void Write(std::string_view key, std::string_view value) override;
};

class Desktop final : public form::Desktop {
public:
    // The window that owns the error boxes (may be null until the window exists).
    void setOwner(HWND owner) { owner_ = owner; }
    void Beep() override;
    void ErrorBox(const std::string& text) override;
    void OpenAddress(const std::string& address) override;

private:
    HWND owner_ = nullptr;
};

// The folder of the running program.
std::filesystem::path programFolder();

} // namespace vm::win32
