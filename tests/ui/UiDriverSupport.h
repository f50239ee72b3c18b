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

// A list box's items, top down, and the index of its selection (-1 for
// none). LB_GETTEXT, like WM_GETTEXT, is carried across processes. False
// when the control does not exist.
struct ListBoxState {
    int selected = -1;
    std::vector<std::string> items;
};
bool ReadListBox(WindowHandle dialog, int id, ListBoxState& state);

// Posts WM_COMMAND with notification code of control id to the dialog, as
// the control itself sends it (the control's handle in lParam). False when
// the control does not exist.
bool PostNotification(WindowHandle dialog, int id, unsigned code);

// The tooltip texts of the notification area's icons, as the desktop
// process (the owner of the taskbar) keeps them in its tooltip windows. A
// tooltip's text lives in that process: it is read through a buffer placed
// in the process's memory. Empty when there is no taskbar.
std::vector<std::string> NotificationTips();

} // namespace tavlo::uidriver
