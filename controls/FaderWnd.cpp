#include "controls/FaderWnd.h"

void CFaderWnd::FadeOut(CWnd& wndToFade) {
    auto* fader = new CFaderWnd(wndToFade);
    // Without a window (no layered windows, or the creation failed) there
    // is nothing that could ever delete it later.
    if (fader->GetSafeHwnd() == nullptr)
        delete fader;
}

CFaderWnd::CFaderWnd(CWnd& wndToFade) : CWnd(wndToFade.GetUi()), m_pWndToFade(&wndToFade) {
    m_pfnUpdateLayered = m_ui.FindUpdateLayeredWindow();
    if (m_pfnUpdateLayered == nullptr || m_pWndToFade->GetSafeHwnd() == nullptr)
        return;

    const port::Rect rect = m_ui.GetWindowRect(m_pWndToFade->GetSafeHwnd());
    port::WindowSpec spec;
    spec.className = kClassName;
    spec.rect = rect;
    spec.owner = m_ui.GetMainWindow();
    spec.exStyle =
        port::kWsExLayered | port::kWsExToolWindow | port::kWsExTransparent | port::kWsExTopmost;
    spec.visible = true;
    if (m_ui.CreatePopupWindow(spec, this) == nullptr)
        return;

    m_blend.blendOp = 0; // source over
    m_blend.blendFlags = 0;
    m_blend.sourceConstantAlpha = kStartAlpha;
    m_blend.alphaFormat = 0;
    port::LayeredUpdate update;
    update.snapshot = &rect;
    update.blend = m_blend;
    m_pfnUpdateLayered(m_ui, m_hWnd, update);
    m_ui.SetTimer(m_hWnd, kTimerId, kTimerPeriodMs);
}

void CFaderWnd::OnTimer() {
    if (m_blend.sourceConstantAlpha < kAlphaStep) {
        m_ui.KillTimer(m_hWnd, kTimerId);
        // Deletes the object (PostNcDestroy): nothing of it may be touched
        // after this call, so not CWnd::DestroyWindow, which clears m_hWnd.
        m_ui.DestroyWindow(m_hWnd);
        return;
    }
    m_blend.sourceConstantAlpha =
        static_cast<std::uint8_t>(m_blend.sourceConstantAlpha - kAlphaStep);
    port::LayeredUpdate update;
    update.blend = m_blend;
    m_pfnUpdateLayered(m_ui, m_hWnd, update);
}

bool CFaderWnd::WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                           std::intptr_t& result) {
    switch (message) {
    case port::kWmTimer:
        if (wParam == kTimerId) {
            OnTimer();
            result = 0;
            return true;
        }
        return false;
    case port::kWmSetFocus:
        // The fader is only a picture: the focus goes straight back.
        if (wParam != 0)
            m_ui.SetFocus(reinterpret_cast<port::WindowHandle>(wParam));
        result = 0;
        return true;
    default:
        return CWnd::WindowProc(message, wParam, lParam, result);
    }
}

void CFaderWnd::PostNcDestroy() {
    delete this;
}
