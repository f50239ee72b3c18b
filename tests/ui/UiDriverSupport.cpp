#include "platform/win32/UiDriverSupport.h"

#include "platform/win32/WindowsGateway.h"

#include <shellapi.h>

namespace port::win32 {

namespace {

HWND H(WindowHandle window) {
    return static_cast<HWND>(window);
}

} // namespace

WindowHandle FindTopLevelWindowByClass(const std::string& className) {
    return ::FindWindowA(className.c_str(), nullptr);
}

bool IsExistingWindow(WindowHandle window) {
    return window != nullptr && ::IsWindow(H(window)) != 0;
}

std::string WindowClassName(WindowHandle window) {
    char name[256] = {};
    const int length = ::GetClassNameA(H(window), name, static_cast<int>(sizeof name));
    return length > 0 ? std::string(name, static_cast<std::size_t>(length)) : std::string();
}

WindowHandle ForegroundWindow() {
    return ::GetForegroundWindow();
}

bool NotifyIconExists(WindowHandle owner, unsigned id) {
    NOTIFYICONDATAA record{};
    record.cbSize = NOTIFYICONDATAA_V2_SIZE;
    record.hWnd = H(owner);
    record.uID = id;
    record.uFlags = 0;
    return ::Shell_NotifyIconA(NIM_MODIFY, &record) != 0;
}

} // namespace port::win32
