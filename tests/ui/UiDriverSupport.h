// Window-system look-ups that only an outside observer needs: the UI test
// driver (tests/ui) inspects a running tavlo.exe from another process. The
// program itself never calls these.
//
// This header stays free of <windows.h>.
#pragma once

#include "platform/NotifyWindow.h" // port::WindowHandle

#include <cstdint>
#include <string>
#include <vector>

namespace tavlo::uidriver {

using port::WindowHandle;

// A top-level window of this window class, or null. With several, the first
// in the z-order.
WindowHandle FindTopLevelWindowByClass(const std::string& className);

// Whether the handle names an existing window (of any process).
bool IsExistingWindow(WindowHandle window);

// The window the user works with now, or null.
WindowHandle ForegroundWindow();

// Whether the notification area holds icon id of window owner: a modify
// call that changes nothing (no flags) succeeds exactly for an existing
// icon. The owner window need not exist any more.
bool NotifyIconExists(WindowHandle owner, unsigned id);

// A window's extended style bits (WS_EX_*) and its owner (null for none).
std::uint32_t WindowExStyle(WindowHandle window);
WindowHandle WindowOwner(WindowHandle window);

// One child window of a dialog: its id, class and text (asked for with
// WM_GETTEXT, which the system carries across processes).
struct ChildText {
    int id = 0;
    std::string className;
    std::string text;
};
std::vector<ChildText> ChildTexts(WindowHandle dialog);

// Control id of a dialog, as the user would change it: the text (WM_SETTEXT),
// a check box's state (BM_SETCHECK), a list's selection (CB_SETCURSEL or
// LB_SETCURSEL, by its class). False when the control does not exist.
bool SetControlText(WindowHandle dialog, int id, const std::string& text);
bool SetControlCheck(WindowHandle dialog, int id, bool checked);
bool SetControlSelection(WindowHandle dialog, int id, int index);

} // namespace tavlo::uidriver
