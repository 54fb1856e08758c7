#include "win32/message_target.h"

#include <stdexcept>

namespace vm::win32 {

namespace {
constexpr UINT kPostedEvent = WM_APP + 1;
constexpr wchar_t kClassName[] = L"vm3870.MessageTarget";
} // namespace

MessageTarget::MessageTarget() {
    static const ATOM registered = [] {
        WNDCLASSEXW type{};
        type.cbSize = sizeof type;
        type.lpfnWndProc = &MessageTarget::procedure;
        type.hInstance = GetModuleHandleW(nullptr);
        type.lpszClassName = kClassName;
        return RegisterClassExW(&type);
    }();
    if (!registered)
        throw std::runtime_error("RegisterClassExW failed");
    hwnd_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    if (!hwnd_)
        throw std::runtime_error("CreateWindowExW failed for a message window");
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

MessageTarget::~MessageTarget() {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
}

void MessageTarget::post(std::function<void()> event) {
    posted_.push_back(std::move(event));
    PostMessageW(hwnd_, kPostedEvent, 0, 0);
}

LRESULT CALLBACK MessageTarget::procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<MessageTarget*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && message == kPostedEvent) {
        if (!self->posted_.empty()) {
            std::function<void()> event = std::move(self->posted_.front());
            self->posted_.pop_front();
            event();
        }
        return 0;
    }
    if (self && (message == WM_TIMER || message >= kFirstOwnMessage)) {
        self->onMessage(message, wParam, lParam);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace vm::win32
