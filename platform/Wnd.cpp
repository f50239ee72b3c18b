#include "platform/Wnd.h"

CWnd::~CWnd() {
    DestroyWindow();
}

void CWnd::DestroyWindow() {
    if (m_hWnd != nullptr) {
        port::WindowHandle window = m_hWnd;
        m_ui.DestroyWindow(window);
        m_hWnd = nullptr;
    }
}

bool CWnd::OnMessage(port::WindowHandle window, unsigned message, std::uintptr_t wParam,
                     std::intptr_t lParam, std::intptr_t& result) {
    // The handle is learnt from the first message of a new window; after
    // kWmDestroy the window is gone, and a late message (such as the
    // platform's final non-client destroy) must not bring its handle back.
    if (message == port::kWmCreate) {
        m_hWnd = window;
        m_bWindowGone = false;
    } else if (m_hWnd == nullptr && !m_bWindowGone) {
        m_hWnd = window;
    }
    const bool handled = WindowProc(message, wParam, lParam, result);
    if (message == port::kWmDestroy) {
        m_hWnd = nullptr;
        m_bWindowGone = true;
        PostNcDestroy();
    }
    return handled;
}

bool CWnd::WindowProc(unsigned, std::uintptr_t, std::intptr_t, std::intptr_t&) {
    return false;
}

int CDialog::DoModal() {
    return m_ui.RunModalDialog(m_nTemplateId, this, m_hOwner);
}

void CDialog::EndDialog(int result) {
    if (m_hWnd != nullptr)
        m_ui.EndDialog(m_hWnd, result);
}

bool CDialog::WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                         std::intptr_t& result) {
    switch (message) {
    case port::kWmInitDialog:
        // True: the dialog manager sets the focus.
        result = OnInitDialog() ? 1 : 0;
        return true;
    case port::kWmCommand:
        if (lParam == 0 || port::HighWord(wParam) == 0) {
            if (port::LowWord(wParam) == static_cast<unsigned>(port::kIdOk)) {
                OnOK();
                result = 0;
                return true;
            }
            if (port::LowWord(wParam) == static_cast<unsigned>(port::kIdCancel)) {
                OnCancel();
                result = 0;
                return true;
            }
        }
        return false;
    default:
        return false;
    }
}
