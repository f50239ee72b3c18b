// The hidden notification window of the line-oriented client: class
// "CUT_WSClient" with 20 extra window bytes holding the owner pointer (at 0)
// and the callback (at 8).
#include "platform/NotifyWindow.h"
#include "platform/win32/WindowsGateway.h"

namespace port {
namespace {

constexpr char kClassName[] = "CUT_WSClient";
constexpr int kOwnerSlot = 0;
constexpr int kCallbackSlot = 8;

LRESULT CALLBACK NotifyWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NCCREATE: {
        const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(hwnd, kCallbackSlot, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        break;
    }
    case WM_CREATE:
        ::SetWindowLongPtrA(hwnd, kOwnerSlot, 0);
        return 0;
    case kNotifySetOwner:
        ::SetWindowLongPtrA(hwnd, kOwnerSlot, static_cast<LONG_PTR>(lParam));
        return 0;
    case kNotifySocketEvent:
    case kNotifyErrorWordB:
    case kNotifyErrorWordC: {
        void* owner = reinterpret_cast<void*>(::GetWindowLongPtrA(hwnd, kOwnerSlot));
        const auto callback =
            reinterpret_cast<NotifyCallback>(::GetWindowLongPtrA(hwnd, kCallbackSlot));
        if (owner != nullptr && callback != nullptr)
            callback(owner, message, static_cast<std::uintptr_t>(wParam),
                     static_cast<std::intptr_t>(lParam));
        return 0;
    }
    default:
        break;
    }
    return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

} // namespace

WindowHandle CreateNotifyWindow(void* instance, NotifyCallback callback) {
    HINSTANCE module =
        instance != nullptr ? static_cast<HINSTANCE>(instance) : ::GetModuleHandleA(nullptr);
    WNDCLASSEXA wc{};
    if (!::GetClassInfoExA(module, kClassName, &wc)) {
        wc = WNDCLASSEXA{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = NotifyWindowProc;
        wc.cbWndExtra = 20;
        wc.hInstance = module;
        wc.lpszClassName = kClassName;
        if (::RegisterClassExA(&wc) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            return nullptr;
    }
    const HWND hwnd = ::CreateWindowExA(0, kClassName, "", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                        nullptr, module, reinterpret_cast<void*>(callback));
    return hwnd;
}

std::intptr_t SendNotifyWindowMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                                      std::intptr_t lParam) {
    if (window == nullptr)
        return 0;
    return static_cast<std::intptr_t>(::SendMessageA(static_cast<HWND>(window), message,
                                                     static_cast<WPARAM>(wParam),
                                                     static_cast<LPARAM>(lParam)));
}

void DestroyNotifyWindow(WindowHandle window) {
    if (window != nullptr)
        ::DestroyWindow(static_cast<HWND>(window));
}

} // namespace port
