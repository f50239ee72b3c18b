#include "controls/Static.h"

CStatic::~CStatic() {
    UnsubclassWindow();
}

bool CStatic::SubclassDlgItem(int id, port::WindowHandle dialog) {
    const port::WindowHandle control = m_ui.GetItem(dialog, id);
    return control != nullptr && SubclassWindow(control);
}

bool CStatic::SubclassWindow(port::WindowHandle window) {
    if (window == nullptr || !m_ui.SubclassWindow(window, this))
        return false;
    m_hWnd = window;
    PreSubclassWindow();
    return true;
}

void CStatic::UnsubclassWindow() {
    if (m_hWnd == nullptr)
        return;
    m_ui.SubclassWindow(m_hWnd, nullptr);
    // Forgotten, so that the base class does not destroy the dialog's control.
    m_hWnd = nullptr;
}
