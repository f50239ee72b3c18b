// Window-system look-ups that only an outside observer needs: the UI test
// driver (tests/ui) inspects a running tavlo.exe from another process. The
// program itself never calls these.
//
// This header stays free of <windows.h>.
#pragma once

#include "platform/NotifyWindow.h" // port::WindowHandle

#include <string>

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

} // namespace tavlo::uidriver
