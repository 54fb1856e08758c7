#include "win32/window.h"

#include "win32/message_loop.h"
#include "win32/resource_ids.h"
#include "win32/text.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <algorithm>
#include <stdexcept>

namespace vm::win32 {

namespace {

constexpr wchar_t kClassName[] = L"vm3870sim";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

using form::Kind;

// The form's control for a control of the layout; nullptr for the captions and frames, which
// have no behaviour.
form::Control* modelOf(form::frmSim_3870& f, const form::ControlId& id) {
    const auto member = [&](auto& array) -> form::Control* {
        return id.index >= 0 && std::size_t(id.index) < array.size() ? &array[std::size_t(id.index)]
                                                                     : nullptr;
    };
    const std::string_view n = id.name;
    if (n == "txtDestIP")
        return &f.txtDestIP;
    if (n == "txtDestPort")
        return &f.txtDestPort;
    if (n == "cmdConnect")
        return &f.cmdConnect;
    if (n == "cmdDisconnect")
        return &f.cmdDisconnect;
    if (n == "cmdPingStart")
        return &f.cmdPingStart;
    if (n == "cmdPingStop")
        return &f.cmdPingStop;
    if (n == "optInterval")
        return member(f.optInterval);
    if (n == "lblTime")
        return member(f.lblTime);
    if (n == "cboTime")
        return &f.cboTime;
    if (n == "optLog")
        return member(f.optLog);
    if (n == "optCommand")
        return member(f.optCommand);
    if (n == "ComboSet")
        return &f.ComboSet;
    if (n == "ComboValue")
        return &f.ComboValue;
    if (n == "ComboReset")
        return &f.ComboReset;
    if (n == "cmdSend")
        return &f.cmdSend;
    if (n == "cmdEnd")
        return &f.cmdEnd;
    if (n == "cmdClear")
        return &f.cmdClear;
    if (n == "txt_Input")
        return member(f.txt_Input);
    if (n == "txt_Output")
        return member(f.txt_Output);
    if (n == "txt_CheckSum")
        return &f.txt_CheckSum;
    if (n == "txtCounter")
        return member(f.txtCounter);
    if (n == "txtGapTime")
        return member(f.txtGapTime);
    if (n == "List1")
        return &f.List1;
    if (n == "Label1" && id.index == 1)
        return &f.VendorLink;
    return nullptr;
}

// A face of the design, or the first installed face of its kind: Gulim and GulimChe come only
// with the Korean fonts; under Wine the Debian faces stand in.
std::vector<std::wstring> facesFor(std::string_view face) {
    if (face == "GulimChe")
        return {L"GulimChe",          L"Consolas",        L"Courier New",
                L"NanumGothicCoding", L"Liberation Mono", L"DejaVu Sans Mono"};
    if (face == "Gulim")
        return {L"Gulim",       L"Malgun Gothic", L"NanumBarunGothic",
                L"NanumGothic", L"Arial",         L"Liberation Sans"};
    return {widen(face), L"Arial", L"Liberation Sans", L"Arimo", L"DejaVu Sans"};
}

int CALLBACK faceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool faceInstalled(const std::wstring& face) {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    face.copy(wanted.lfFaceName, LF_FACESIZE - 1);
    bool found = false;
    const HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(screen, &wanted, &faceFound, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found;
}

COLORREF colorOf(form::Bgr bgr) {
    // 0x00BBGGRR is COLORREF's own order; the top bit marks a system colour's index.
    return (bgr & 0x80000000u) ? GetSysColor(int(bgr & 0xFF)) : COLORREF(bgr);
}

std::wstring windowText(HWND hwnd) {
    std::wstring text(std::size_t(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(std::size_t(GetWindowTextW(hwnd, text.data(), int(text.size()))));
    return text;
}

} // namespace

MainWindow::MainWindow(HINSTANCE instance)
    : instance_(instance) {
    INITCOMMONCONTROLSEX common{sizeof common, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&common);

    WNDCLASSEXW type{};
    type.cbSize = sizeof type;
    type.lpfnWndProc = &MainWindow::procedure;
    type.hInstance = instance;
    type.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(VM_RESOURCE_ICON));
    type.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(VM_RESOURCE_ICON),
                                                 IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                 GetSystemMetrics(SM_CYSMICON), 0));
    type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    type.lpszClassName = kClassName;
    RegisterClassExW(&type);

    winsock_ = std::make_unique<Winsock>(
        Winsock::Events{[this] { form_->Winsock1_Connect(); }, [this] { form_->Winsock1_Close(); },
                        [this](ByteView data) { form_->Winsock1_DataArrival(data); },
                        [this](const std::string& reason) { form_->Winsock1_Error(reason); }});
    sendTimer_ =
        std::make_unique<Timer>(Timer::Resolution::Fine, [this] { form_->SendTimer_Timer(); });
    pingTimer_ =
        std::make_unique<Timer>(Timer::Resolution::System, [this] { form_->PingTimer_Timer(); });
    logFiles_ = std::make_unique<form::FolderLogFiles>(programFolder() / "Log");
    form_ = std::make_unique<form::frmSim_3870>(form::Platform{
        *winsock_, *sendTimer_, *pingTimer_, clock_, settings_, *logFiles_, desktop_, prober_});

    hwnd_ =
        CreateWindowExW(0, kClassName, widen(form::kWindowCaption).c_str(), kWindowStyle,
                        CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, nullptr, nullptr, instance, this);
    if (!hwnd_)
        throw std::runtime_error("the window could not be created");
    desktop_.setOwner(hwnd_);
    dpi_ = GetDpiForWindow(hwnd_);
    if (dpi_ == 0)
        dpi_ = 96;
    createControls();
    for (Native& native : natives_)
        bind(native);
    layOut();
    form_->Form_Load();
}

MainWindow::~MainWindow() {
    if (hwnd_)
        DestroyWindow(hwnd_);
    for (auto& [key, handle] : fonts_)
        DeleteObject(handle);
    for (auto& [color, brush] : brushes_)
        DeleteObject(brush);
}

void MainWindow::createControls() {
    const auto all = form::controls();
    natives_.resize(all.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        const form::ControlLayout& c = all[i];
        Native& native = natives_[i];
        native.layout = &c;
        native.model = modelOf(*form_, c.id);
        const wchar_t* type = L"STATIC";
        DWORD style = WS_CHILD | WS_VISIBLE;
        DWORD extended = 0;
        switch (c.kind) {
        case Kind::GroupBox:
            type = L"BUTTON";
            style |= BS_GROUPBOX | WS_CLIPSIBLINGS;
            break;
        case Kind::Label:
            style |= SS_LEFT | SS_NOTIFY | SS_NOPREFIX;
            break;
        case Kind::TextBox:
            type = L"EDIT";
            style |= WS_TABSTOP | ES_AUTOHSCROLL |
                     (c.align == form::Align::Center  ? ES_CENTER
                      : c.align == form::Align::Right ? ES_RIGHT
                                                      : ES_LEFT) |
                     (c.readOnly ? ES_READONLY : 0);
            extended = WS_EX_CLIENTEDGE;
            break;
        case Kind::ComboEdit:
            type = L"COMBOBOX";
            style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL;
            break;
        case Kind::ComboPick:
            type = L"COMBOBOX";
            style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
            break;
        case Kind::OptionButton:
            type = L"BUTTON";
            style |= BS_AUTORADIOBUTTON | (c.selected ? WS_TABSTOP : 0);
            break;
        case Kind::Button:
            type = L"BUTTON";
            style |= BS_PUSHBUTTON | WS_TABSTOP;
            break;
        case Kind::ListBox:
            type = L"LISTBOX";
            style |= WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY;
            extended = WS_EX_CLIENTEDGE;
            break;
        case Kind::Panel:
            style |= SS_NOTIFY | WS_CLIPSIBLINGS;
            extended = WS_EX_DLGMODALFRAME;
            break;
        }
        if (!c.enabled)
            style |= WS_DISABLED;
        native.hwnd = CreateWindowExW(extended, type, widen(c.caption).c_str(), style, 0, 0, 0, 0,
                                      hwnd_, reinterpret_cast<HMENU>(INT_PTR(kFirstControlId + i)),
                                      instance_, nullptr);
        if (c.kind == Kind::GroupBox) {
            // The frame's caption is a label of its own over the frame's top line, so that it
            // takes the design's font and colour under every visual style.
            SetWindowTextW(native.hwnd, L"");
            native.caption = CreateWindowExW(
                0, L"STATIC", widen(c.caption).c_str(),
                WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0, hwnd_,
                reinterpret_cast<HMENU>(INT_PTR(kFirstCaptionId + int(i))), instance_, nullptr);
        }
    }

    // The order of the siblings is the order of the keyboard focus: the focus order first (each
    // group of option buttons together, its first member starting the group), then the
    // captions, the frames and the panel, which never take the focus.
    std::vector<Native*> order;
    for (const form::ControlId& id : form::tabOrder())
        for (Native& native : natives_)
            if (native.layout->id == id)
                order.push_back(&native);
    for (Kind kind : {Kind::Label, Kind::GroupBox, Kind::Panel})
        for (Native& native : natives_)
            if (native.layout->kind == kind)
                order.push_back(&native);
    HWND after = HWND_TOP;
    const form::ControlId* groupContainer = nullptr;
    for (Native* native : order) {
        const form::ControlLayout& c = *native->layout;
        const bool startsGroup =
            c.kind != Kind::OptionButton || !groupContainer || !(*groupContainer == c.container);
        groupContainer = c.kind == Kind::OptionButton ? &c.container : nullptr;
        LONG_PTR style = GetWindowLongPtrW(native->hwnd, GWL_STYLE);
        style = startsGroup ? (style | WS_GROUP) : (style & ~LONG_PTR(WS_GROUP));
        SetWindowLongPtrW(native->hwnd, GWL_STYLE, style);
        SetWindowPos(native->hwnd, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        after = native->hwnd;
    }
    // Each frame's caption just above the frame.
    for (Native& native : natives_)
        if (native.caption)
            SetWindowPos(native.caption, GetWindow(native.hwnd, GW_HWNDPREV), 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    // The key filter of the entry fields, and their pastes.
    for (Native& native : natives_) {
        const std::string_view name = native.layout->id.name;
        if (name != "txtDestIP" && name != "txtDestPort" && name != "cboTime")
            continue;
        HWND entry = native.hwnd;
        if (name == "cboTime") {
            COMBOBOXINFO info{};
            info.cbSize = sizeof info;
            GetComboBoxInfo(native.hwnd, &info);
            entry = info.hwndItem;
        } else {
            const auto* box = static_cast<form::TextBox*>(native.model);
            SendMessageW(entry, EM_SETLIMITTEXT, box->MaxLength(), 0);
        }
        SetPropW(entry, L"vm3870.native", &native);
        SetPropW(entry, L"vm3870.window", this);
        native.original = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
            entry, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MainWindow::entryProcedure)));
    }
}

void MainWindow::bind(Native& native) {
    form::Control* model = native.model;
    if (!model)
        return;
    HWND hwnd = native.hwnd;
    const Kind kind = native.layout->kind;
    const form::Control::Listener follow = [this, &native, hwnd, kind,
                                            model](form::Property property) {
        updating_ = true;
        switch (property) {
        case form::Property::Enabled: {
            const bool hadFocus = GetFocus() == hwnd || IsChild(hwnd, GetFocus());
            EnableWindow(hwnd, model->Enabled());
            if (hadFocus && !model->Enabled())
                keepFocus();
            break;
        }
        case form::Property::Text:
            if (kind == Kind::ComboPick) {
                const auto* combo = static_cast<form::ComboBox*>(model);
                SendMessageW(hwnd, CB_SETCURSEL, WPARAM(combo->ListIndex()), 0);
            } else {
                SetWindowTextW(hwnd, widen(static_cast<form::TextBox*>(model)->Text()).c_str());
            }
            break;
        case form::Property::Value: {
            const bool on = static_cast<form::OptionButton*>(model)->Value();
            SendMessageW(hwnd, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
            // The group's chosen member is where Tab enters it.
            LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
            SetWindowLongPtrW(hwnd, GWL_STYLE,
                              on ? (style | WS_TABSTOP) : (style & ~LONG_PTR(WS_TABSTOP)));
            break;
        }
        case form::Property::Items: {
            const auto* combo = static_cast<form::ComboBox*>(model);
            SendMessageW(hwnd, CB_RESETCONTENT, 0, 0);
            for (const std::string& item : combo->Items())
                SendMessageW(hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(item).c_str()));
            SendMessageW(hwnd, CB_SETCURSEL, WPARAM(combo->ListIndex()), 0);
            break;
        }
        case form::Property::ListIndex:
            if (kind != Kind::ListBox)
                SendMessageW(hwnd, CB_SETCURSEL,
                             WPARAM(static_cast<form::ComboBox*>(model)->ListIndex()), 0);
            break;
        case form::Property::BackColor:
            InvalidateRect(hwnd, nullptr, TRUE);
            break;
        case form::Property::Lines:
            break;
        }
        updating_ = false;
        (void)native;
    };
    model->setListener(follow);
    // The form set its controls' first states before this binding: the widget takes them now.
    follow(form::Property::Enabled);
    if (kind == Kind::OptionButton)
        follow(form::Property::Value);
    if (kind == Kind::ComboEdit || kind == Kind::ComboPick)
        follow(form::Property::Items);
    if (kind == Kind::TextBox || kind == Kind::ComboEdit)
        follow(form::Property::Text);
    if (kind == Kind::ListBox) {
        list_ = &native;
        static_cast<form::ListBox*>(model)->setLinesListener(
            [this](const form::ListBox::Change& change) {
                switch (change.kind) {
                case form::ListBox::Change::Kind::Added:
                    break;
                case form::ListBox::Change::Kind::RemovedFirst:
                    ++listRemoved_;
                    break;
                case form::ListBox::Change::Kind::Cleared:
                    listCleared_ = true;
                    break;
                }
                // The list box follows ten times a second: lines that come fast (a repeat at
                // 1 ms) reach it together, with one repaint.
                if (!listPending_) {
                    listPending_ = true;
                    SetTimer(hwnd_, kListSyncTimer, kListSyncMs, nullptr);
                }
            });
    }
}

void MainWindow::syncList() {
    KillTimer(hwnd_, kListSyncTimer);
    listPending_ = false;
    const HWND hwnd = list_->hwnd;
    const auto& lines = static_cast<const form::ListBox*>(list_->model)->Lines();
    const auto shown = std::size_t(SendMessageW(hwnd, LB_GETCOUNT, 0, 0));
    SendMessageW(hwnd, WM_SETREDRAW, FALSE, 0);
    // Removing the oldest lines one by one costs far more than adding lines: past a few, the
    // box is filled again from the form's lines.
    constexpr std::size_t kMostRemovals = 16;
    std::size_t from = 0; // the first of the form's lines the box lacks
    if (listCleared_ || listRemoved_ > std::min(shown, kMostRemovals)) {
        SendMessageW(hwnd, LB_RESETCONTENT, 0, 0);
        if (listCleared_) {
            listExtent_ = 0;
            listLongest_ = 0;
            SendMessageW(hwnd, LB_SETHORIZONTALEXTENT, 0, 0);
        }
    } else {
        for (std::size_t i = 0; i < listRemoved_; ++i)
            SendMessageW(hwnd, LB_DELETESTRING, 0, 0);
        from = shown - listRemoved_;
    }
    listRemoved_ = 0;
    listCleared_ = false;
    for (std::size_t i = from; i < lines.size(); ++i) {
        const std::wstring text = widen(lines[i]);
        SendMessageW(hwnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        if (text.size() > listLongest_)
            widenListExtent(text);
    }
    // The newest line is the selected one.
    SendMessageW(hwnd, LB_SETCURSEL,
                 WPARAM(static_cast<const form::ListBox*>(list_->model)->ListIndex()), 0);
    SendMessageW(hwnd, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(hwnd, nullptr, TRUE);
}

// Every line can be scrolled to its end. The list's face has a fixed pitch, so only a line with
// more characters than any before can be wider.
void MainWindow::widenListExtent(const std::wstring& text) {
    listLongest_ = text.size();
    const HDC dc = GetDC(list_->hwnd);
    const HGDIOBJ before = SelectObject(dc, font(list_->layout->font));
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &size);
    SelectObject(dc, before);
    ReleaseDC(list_->hwnd, dc);
    const int width = size.cx + MulDiv(6, int(dpi_), 96);
    if (width > listExtent_) {
        listExtent_ = width;
        SendMessageW(list_->hwnd, LB_SETHORIZONTALEXTENT, WPARAM(width), 0);
    }
}

HFONT MainWindow::font(const form::Font& design) {
    const auto key = std::make_tuple(design.face, design.points, design.bold);
    if (const auto found = fonts_.find(key); found != fonts_.end())
        return found->second;
    std::wstring face;
    for (const std::wstring& candidate : facesFor(design.face))
        if (faceInstalled(candidate)) {
            face = candidate;
            break;
        }
    LOGFONTW wanted{};
    wanted.lfHeight = -MulDiv(int(design.points * 10 + 0.5), int(dpi_), 720);
    wanted.lfWeight = design.bold ? FW_BOLD : FW_NORMAL;
    wanted.lfCharSet = DEFAULT_CHARSET;
    wanted.lfQuality = CLEARTYPE_QUALITY;
    wanted.lfPitchAndFamily =
        design.face == "GulimChe" ? FIXED_PITCH | FF_MODERN : VARIABLE_PITCH | FF_SWISS;
    face.copy(wanted.lfFaceName, LF_FACESIZE - 1);
    const HFONT made = CreateFontIndirectW(&wanted);
    fonts_[key] = made;
    return made;
}

RECT MainWindow::pixelRect(const form::ControlLayout& c) const {
    const auto px = [this](int twips) { return form::twipsToPixels(twips, int(dpi_)); };
    int left = px(c.twips.left);
    int top = px(c.twips.top);
    if (c.kind == Kind::Panel) // docked to the bottom edge, across the width
        return RECT{0, px(form::kClientHeight) - px(c.twips.height), px(form::kClientWidth),
                    px(form::kClientHeight)};
    if (c.container.name != form::kWindow.name) {
        const form::ControlLayout* container = form::find(c.container);
        const RECT outer = pixelRect(*container);
        left += outer.left;
        top += outer.top;
    }
    return RECT{left, top, left + px(c.twips.width), top + px(c.twips.height)};
}

void MainWindow::layOut() {
    for (auto& [key, handle] : fonts_)
        DeleteObject(handle);
    fonts_.clear();
    for (Native& native : natives_) {
        const form::ControlLayout& c = *native.layout;
        const RECT r = pixelRect(c);
        int height = r.bottom - r.top;
        if (c.kind == Kind::ComboEdit || c.kind == Kind::ComboPick)
            height += MulDiv(200, int(dpi_), 96); // the drop-down list below the field
        SetWindowPos(native.hwnd, nullptr, r.left, r.top, r.right - r.left, height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(native.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font(c.font)), TRUE);
        if (native.caption)
            placeCaption(native, r);
        if (c.kind == Kind::ComboEdit || c.kind == Kind::ComboPick) {
            // The field itself as high as the design's box.
            RECT field{};
            GetWindowRect(native.hwnd, &field);
            COMBOBOXINFO info{};
            info.cbSize = sizeof info;
            GetComboBoxInfo(native.hwnd, &info);
            const int frame = (field.bottom - field.top) - (info.rcItem.bottom - info.rcItem.top);
            (void)frame;
            const int item = (r.bottom - r.top) - MulDiv(6, int(dpi_), 96);
            if (item > 0)
                SendMessageW(native.hwnd, CB_SETITEMHEIGHT, WPARAM(-1), item);
        }
    }
    RECT frame{0, 0, form::twipsToPixels(form::kClientWidth, int(dpi_)),
               form::twipsToPixels(form::kClientHeight, int(dpi_))};
    AdjustWindowRectExForDpi(&frame, kWindowStyle, FALSE, 0, dpi_);
    SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::placeCaption(const Native& frame, const RECT& at) {
    const HFONT captionFont = font(frame.layout->font);
    const std::wstring text = widen(frame.layout->caption);
    const HDC dc = GetDC(frame.caption);
    const HGDIOBJ before = SelectObject(dc, captionFont);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &size);
    SelectObject(dc, before);
    ReleaseDC(frame.caption, dc);
    const int indent = MulDiv(6, int(dpi_), 96);
    SetWindowPos(frame.caption, nullptr, at.left + indent, at.top, size.cx + 1, size.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(frame.caption, WM_SETFONT, reinterpret_cast<WPARAM>(captionFont), TRUE);
}

int MainWindow::run() {
    // Centred on the screen it opens on.
    RECT frame{};
    GetWindowRect(hwnd_, &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    UpdateWindow(hwnd_);
    SetFocus(GetNextDlgTabItem(hwnd_, nullptr, FALSE));

    const std::vector<HANDLE> timers = Timer::handles();
    return runMessageLoop(hwnd_, timers,
                          [&timers](std::size_t i) { Timer::runSignalled(timers[i]); });
}

MainWindow::Native* MainWindow::nativeOf(HWND hwnd) {
    const auto id = GetDlgCtrlID(hwnd) - kFirstControlId;
    if (id >= 0 && std::size_t(id) < natives_.size() && natives_[std::size_t(id)].hwnd == hwnd)
        return &natives_[std::size_t(id)];
    return nullptr;
}

void MainWindow::keepFocus() {
    const HWND focus = GetFocus();
    if (focus && IsWindowEnabled(focus))
        return;
    if (const HWND next = GetNextDlgTabItem(hwnd_, focus, FALSE))
        SetFocus(next);
}

void MainWindow::command(Native& native, int code) {
    form::frmSim_3870& f = *form_;
    const form::ControlId& id = native.layout->id;
    const std::string_view name = id.name;
    switch (native.layout->kind) {
    case Kind::Button:
        if (code != BN_CLICKED)
            return;
        if (name == "cmdConnect")
            f.cmdConnect_Click();
        else if (name == "cmdDisconnect")
            f.cmdDisconnect_Click();
        else if (name == "cmdPingStart")
            f.cmdPingStart_Click();
        else if (name == "cmdPingStop")
            f.cmdPingStop_Click();
        else if (name == "cmdSend")
            f.cmdSend_Click();
        else if (name == "cmdEnd")
            f.cmdEnd_Click();
        else if (name == "cmdClear")
            f.cmdClear_Click();
        break;
    case Kind::OptionButton:
        if (code != BN_CLICKED)
            return;
        if (name == "optInterval")
            f.optInterval_Click(id.index);
        else if (name == "optLog")
            f.optLog_Click(id.index);
        else if (name == "optCommand")
            f.optCommand_Click(id.index);
        break;
    case Kind::TextBox:
        if (code == EN_CHANGE && !updating_ && native.model)
            static_cast<form::TextBox*>(native.model)->userSetText(narrow(windowText(native.hwnd)));
        break;
    case Kind::ComboEdit:
    case Kind::ComboPick: {
        auto* combo = static_cast<form::ComboBox*>(native.model);
        if (updating_ || !combo)
            return;
        if (code == CBN_EDITCHANGE) {
            combo->userSetText(narrow(windowText(native.hwnd)));
        } else if (code == CBN_SELCHANGE) {
            combo->userSetListIndex(int(SendMessageW(native.hwnd, CB_GETCURSEL, 0, 0)));
            if (name == "cboTime")
                f.cboTime_Click();
        }
        break;
    }
    case Kind::Label:
        if (code == STN_CLICKED && name == "Label1" && id.index == 1)
            f.Label1_Click(1);
        break;
    default:
        break;
    }
}

LRESULT MainWindow::colors(HDC dc, HWND control, bool edit) {
    Native* native = nativeOf(control);
    if (!native) // the edit field inside a combo box
        native = nativeOf(GetParent(control));
    if (!native) // a frame's caption
        for (Native& frame : natives_)
            if (frame.caption == control)
                native = &frame;
    if (!native)
        return 0;
    const form::ControlLayout& c = *native->layout;
    const auto brush = [this](COLORREF color) {
        HBRUSH& made = brushes_[color];
        if (!made)
            made = CreateSolidBrush(color);
        return made;
    };
    if (c.foreColor != form::kNoColor)
        SetTextColor(dc, colorOf(c.foreColor));
    COLORREF back = GetSysColor(COLOR_BTNFACE);
    if (c.backColor != form::kNoColor)
        back = colorOf(c.backColor);
    else if (c.kind == Kind::TextBox || c.kind == Kind::ComboEdit)
        back = GetSysColor(COLOR_WINDOW); // read-only value boxes stay white
    if (c.kind == Kind::ComboEdit || c.kind == Kind::ComboPick)
        if (const auto* combo = static_cast<form::ComboBox*>(native->model);
            combo && combo->BackColor() && IsWindowEnabled(native->hwnd))
            back = colorOf(*combo->BackColor());
    (void)edit;
    SetBkColor(dc, back);
    return reinterpret_cast<LRESULT>(brush(back));
}

LRESULT CALLBACK MainWindow::procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self || !self->form_)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    return self->handle(message, wParam, lParam);
}

LRESULT MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (Native* native = nativeOf(reinterpret_cast<HWND>(lParam)))
            command(*native, HIWORD(wParam));
        return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
        if (const LRESULT brush =
                colors(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam),
                       message == WM_CTLCOLOREDIT))
            return brush;
        break;
    case WM_TIMER:
        if (wParam == kListSyncTimer) {
            syncList();
            return 0;
        }
        break;
    case WM_SETCURSOR:
        if (Native* native = nativeOf(reinterpret_cast<HWND>(wParam));
            native && native->layout->id == form::ControlId{"Label1", 1}) {
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        break;
    case WM_ACTIVATE:
        // Back from another window (Alt+Tab), the focus is where it was.
        if (LOWORD(wParam) == WA_INACTIVE) {
            savedFocus_ = GetFocus();
        } else if (savedFocus_ && IsWindowEnabled(savedFocus_)) {
            SetFocus(savedFocus_);
            return 0;
        }
        break;
    case WM_DPICHANGED: {
        dpi_ = HIWORD(wParam);
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        layOut();
        SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_CLOSE:
        form_->Form_Unload();
        DestroyWindow(hwnd_);
        return 0;
    case WM_DESTROY:
        hwnd_ = nullptr;
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

// The entry fields' own procedure: each typed character passes the form's key filter first,
// and a paste passes its paste filter.
LRESULT CALLBACK MainWindow::entryProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* native = static_cast<Native*>(GetPropW(hwnd, L"vm3870.native"));
    auto* self = static_cast<MainWindow*>(GetPropW(hwnd, L"vm3870.window"));
    const std::string_view name = native->layout->id.name;
    if (message == WM_CHAR && (wParam >= 32 || wParam == 8)) {
        int key = int(wParam);
        if (name == "txtDestIP")
            self->form_->txtDestIP_KeyPress(key);
        else if (name == "txtDestPort")
            self->form_->txtDestPort_KeyPress(key);
        else
            self->form_->cboTime_KeyPress(key);
        if (key == 0)
            return 0;
        wParam = WPARAM(key);
    } else if (message == WM_PASTE) {
        std::wstring pasted;
        if (OpenClipboard(hwnd)) {
            if (const HANDLE data = GetClipboardData(CF_UNICODETEXT))
                if (const auto* text = static_cast<const wchar_t*>(GlobalLock(data))) {
                    pasted = text;
                    GlobalUnlock(data);
                }
            CloseClipboard();
        }
        const std::wstring kept = widen(self->form_->PasteFilter(narrow(pasted)));
        SendMessageW(hwnd, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(kept.c_str()));
        return 0;
    }
    return CallWindowProcW(native->original, hwnd, message, wParam, lParam);
}

} // namespace vm::win32
