#include "UiDriverSupport.h"

#include "platform/win32/WindowsGateway.h"

#include <shellapi.h>

namespace tavlo::uidriver {

namespace {

HWND H(WindowHandle window) {
    return static_cast<HWND>(window);
}

std::string ClassOf(HWND window) {
    char name[256] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
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

std::uint32_t WindowExStyle(WindowHandle window) {
    return static_cast<std::uint32_t>(::GetWindowLongPtrA(H(window), GWL_EXSTYLE));
}

WindowHandle WindowOwner(WindowHandle window) {
    return ::GetWindow(H(window), GW_OWNER);
}

std::vector<ChildText> ChildTexts(WindowHandle dialog) {
    std::vector<ChildText> children;
    for (HWND child = ::GetWindow(H(dialog), GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        ChildText entry;
        entry.id = ::GetDlgCtrlID(child);
        entry.className = ClassOf(child);
        char text[4096] = {};
        ::SendMessageA(child, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
        entry.text = text;
        children.push_back(std::move(entry));
    }
    return children;
}

bool SetControlText(WindowHandle dialog, int id, const std::string& text) {
    const HWND control = ::GetDlgItem(H(dialog), id);
    return control != nullptr &&
           ::SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) != 0;
}

bool SetControlCheck(WindowHandle dialog, int id, bool checked) {
    const HWND control = ::GetDlgItem(H(dialog), id);
    if (control == nullptr)
        return false;
    ::SendMessageA(control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    return true;
}

bool SetControlSelection(WindowHandle dialog, int id, int index) {
    const HWND control = ::GetDlgItem(H(dialog), id);
    if (control == nullptr)
        return false;
    const bool combo = ::lstrcmpiA(ClassOf(control).c_str(), "ComboBox") == 0;
    ::SendMessageA(control, combo ? CB_SETCURSEL : LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    return true;
}

} // namespace tavlo::uidriver
