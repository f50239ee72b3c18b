#include "UiDriverSupport.h"

#include "platform/win32/WindowsGateway.h"

#include <shellapi.h>

namespace tavlo::uidriver {

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

WindowHandle ForegroundWindow() {
    return ::GetForegroundWindow();
}

bool NotifyIconExists(WindowHandle owner, unsigned id) {
    NOTIFYICONDATAA record{};
    record.cbSize = sizeof record;
    record.hWnd = H(owner);
    record.uID = id;
    record.uFlags = 0;
    return ::Shell_NotifyIconA(NIM_MODIFY, &record) != 0;
}

} // namespace tavlo::uidriver
