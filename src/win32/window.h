#pragma once

// The window frmSim_3870 on Windows: one native control per control of the layout (BUTTON,
// EDIT, COMBOBOX, STATIC, LISTBOX), each bound to its control of the form, which holds the
// behaviour. The ports (winsock.h, timer.h, platform.h) deliver their events through the same
// message loop. Per-monitor DPI aware: twips become pixels at the window's DPI, so that 96 DPI
// gives the Linux window's pixel rectangles.

#include "form/form.h"
#include "form/layout.h"
#include "win32/platform.h"
#include "win32/timer.h"
#include "win32/winsock.h"

#include <windows.h>

#include <map>
#include <memory>
#include <tuple>
#include <vector>

namespace vm::win32 {

// Each native control's identifier (GWLP_ID) is its position in form::controls() plus this.
inline constexpr int kFirstControlId = 100;
// A frame's caption, a label of its own, has its frame's identifier plus this.
inline constexpr int kFirstCaptionId = kFirstControlId + 1000;

class MainWindow {
public:
    explicit MainWindow(HINSTANCE instance);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Shows the window centred on its screen and runs the message loop until it closes.
    int run();

private:
    struct Native {
        const form::ControlLayout* layout = nullptr;
        HWND hwnd = nullptr;
        form::Control* model = nullptr;
        WNDPROC original = nullptr; // of an entry field whose keys the form filters
        HWND caption = nullptr;     // a frame's caption
    };

    static LRESULT CALLBACK procedure(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK entryProcedure(HWND, UINT, WPARAM, LPARAM);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

    void createControls();
    void bind(Native& native);
    void layOut();
    HFONT font(const form::Font& design);
    RECT pixelRect(const form::ControlLayout& layout) const;
    Native* nativeOf(HWND hwnd);
    void placeCaption(const Native& frame, const RECT& at);
    void command(Native& native, int code);
    LRESULT colors(HDC dc, HWND control, bool edit);
    void keepFocus();
    void syncList();
    void widenListExtent(const std::wstring& text);

    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    UINT dpi_ = 96;
    bool updating_ = false; // the form is setting a control: its notifications are not input
    HWND savedFocus_ = nullptr;
    // The log list's box, brought up to the form's lines by syncList.
    Native* list_ = nullptr;
    int listExtent_ = 0;
    std::size_t listLongest_ = 0; // characters of the longest line measured
    bool listPending_ = false;    // the form's lines changed since the last sync
    bool listCleared_ = false;    // ... and were cleared
    std::size_t listRemoved_ = 0; // ... and lost this many of their oldest
    static constexpr UINT_PTR kListSyncTimer = 1;
    static constexpr UINT kListSyncMs = 100;
    std::vector<Native> natives_;
    std::map<std::tuple<std::string_view, double, bool>, HFONT> fonts_;
    std::map<COLORREF, HBRUSH> brushes_;

    Desktop desktop_;
    RegistrySettings settings_;
    form::SystemClock clock_;
    std::unique_ptr<form::FolderLogFiles> logFiles_;
    form::IcmpProber prober_;
    std::unique_ptr<Winsock> winsock_;
    std::unique_ptr<Timer> sendTimer_;
    std::unique_ptr<Timer> pingTimer_;
    std::unique_ptr<form::frmSim_3870> form_;
};

} // namespace vm::win32
