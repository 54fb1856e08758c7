// vm3870sim.exe: the tool's window on Windows.
#include "form/ports.h"
#include "win32/platform.h"
#include "win32/text.h"
#include "win32/window.h"

#include <windows.h>

#include <exception>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // The Log folder beside the program, before the window opens.
    if (const auto failure = vm::form::MakeLogFolder(vm::win32::programFolder() / "Log", false)) {
        MessageBoxW(nullptr, vm::win32::widen(*failure).c_str(), L"Error", MB_OK | MB_ICONSTOP);
        return 1;
    }
    try {
        vm::win32::MainWindow window(instance);
        return window.run();
    } catch (const std::exception& failure) {
        MessageBoxW(nullptr, vm::win32::widen(failure.what()).c_str(), L"Error",
                    MB_OK | MB_ICONSTOP);
        return 1;
    }
}
