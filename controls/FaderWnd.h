// CFaderWnd: a closing window seems to fade away. Just before a window is
// closed or hidden, a fader is made over it: a borderless, click-through,
// top-most layered copy of the window's image that grows more transparent
// every 25 ms and destroys (and deletes) itself once it has faded out.
//
// Fire and forget: FadeOut allocates the fader, which then lives on its
// own; the caller never touches it again and may close its window at once.
#pragma once

#include "platform/Ui.h"
#include "platform/Wnd.h"

#include <cstdint>

class CFaderWnd : public CWnd {
public:
    // The window's class, so that the window can be told apart.
    static constexpr const char* kClassName = "TavloFaderWindow";
    static constexpr unsigned kTimerId = 1;
    static constexpr unsigned kTimerPeriodMs = 25;
    static constexpr std::uint8_t kStartAlpha = 100;
    static constexpr std::uint8_t kAlphaStep = 5;

    // Starts the fade of the window's image. Without the platform's
    // layered-window update nothing is shown and nothing stays behind.
    static void FadeOut(CWnd& wndToFade);

private:
    explicit CFaderWnd(CWnd& wndToFade);
    ~CFaderWnd() override = default;

    bool WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                    std::intptr_t& result) override;
    void PostNcDestroy() override;
    void OnTimer();

    port::UpdateLayeredFunction m_pfnUpdateLayered = nullptr;
    port::BlendFunction m_blend;
    CWnd* m_pWndToFade;
};
