// The program's dialogs (the main window, the account, options and About
// dialogs) draw their background, static texts and buttons on one colour
// with a transparent text background; edits and lists keep the system's.
#pragma once

#include "platform/Ui.h"

#include <cstdint>

inline constexpr port::Colour kDialogBackColour = port::Rgb(197, 209, 223);

// The answer to WM_CTLCOLORBTN, WM_CTLCOLORDLG and WM_CTLCOLORSTATIC: the
// control's text background made transparent and the dialog's brush handed
// back. False, leaving the default colours, while the dialog has no brush.
inline bool ColourOnDialogBrush(port::Ui& ui, const port::Brush* brush, std::uintptr_t wParam,
                                std::intptr_t& result) {
    if (brush == nullptr)
        return false;
    ui.CanvasFor(wParam)->SetTransparentBackground();
    result = brush->Native();
    return true;
}
