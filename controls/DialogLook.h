// What the program's dialogs (the main window, the account, options and
// About dialogs) share in their look: they draw their background, static
// texts and buttons on one colour with a transparent text background (edits
// and lists keep the system's), and they replace their templates' Swedish
// placeholder texts with English ones when they open.
#pragma once

#include "platform/Ui.h"
#include "platform/Wnd.h"

#include <cstdint>
#include <memory>
#include <span>

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

// One control's English text.
struct ControlText {
    int id;
    const char* text;
};

inline void SetControlTexts(port::Ui& ui, port::WindowHandle dialog,
                            std::span<const ControlText> texts) {
    for (const ControlText& control : texts)
        ui.SetItemText(dialog, control.id, control.text);
}

// A modal dialog in that look: it creates m_brush when it opens (in its
// OnInitDialog) and the brush answers the colour messages until the window
// goes. Messages it does not handle go to CDialog.
class CLookDialog : public CDialog {
public:
    using CDialog::CDialog;

    std::unique_ptr<port::Brush> m_brush;

protected:
    bool WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                    std::intptr_t& result) override {
        switch (message) {
        case port::kWmCtlColorBtn:
        case port::kWmCtlColorDlg:
        case port::kWmCtlColorStatic:
            return ColourOnDialogBrush(m_ui, m_brush.get(), wParam, result);
        case port::kWmDestroy:
            m_brush.reset();
            return false;
        default:
            return CDialog::WindowProc(message, wParam, lParam, result);
        }
    }
};
