// The popup notifier: a small skinned window that slides out of the screen
// edge where the taskbar is, shows a text for a while and slides back. A
// click on it posts kWmNotifierClicked to its owner.
#pragma once

#include "platform/Ui.h"
#include "platform/Wnd.h"

#include <cstdint>
#include <memory>
#include <string>

class CTaskbarNotifier : public CWnd {
public:
    // Posted to the owner's window when the popup is clicked.
    static constexpr unsigned kWmNotifierClicked = port::kWmUser + 123; // 1147

    // Timers of the window, one per phase.
    static constexpr unsigned kTimerAppearing = 1;
    static constexpr unsigned kTimerWaiting = 2;
    static constexpr unsigned kTimerDisappearing = 3;

    enum State : std::int32_t { kIdle = 0, kAppearing = 1, kWaiting = 2, kDisappearing = 3 };
    enum Placement : std::int32_t { kTop = 1, kLeft = 2, kRight = 3, kBottom = 4 };

    explicit CTaskbarNotifier(port::Ui& ui);
    ~CTaskbarNotifier() override;

    bool Create(CWnd* pOwner);
    bool SetSkin();
    void SetTextFont();
    void SetTextColors();
    void SetTextRect(const port::Rect& rect);
    void Show(const std::string& text, std::uint32_t stayMs);
    void Hide();

    // Read-only views for callers and tests.
    std::int32_t GetState() const { return m_nState; }
    std::int32_t GetPlacement() const { return m_nPlacement; }
    port::Point GetStartPosition() const { return {m_nStartX, m_nStartY}; }
    port::Point GetCurrentPosition() const { return {m_nCurrentX, m_nCurrentY}; }
    std::uint32_t GetShowStepMs() const { return m_dwShowStepMs; }
    std::uint32_t GetHideStepMs() const { return m_dwHideStepMs; }
    std::uint32_t GetStayMs() const { return m_dwStayMs; }
    port::Size GetSkinSize() const { return {m_nSkinWidth, m_nSkinHeight}; }
    const port::Rect& GetTextRect() const { return m_rcText; }
    const std::string& GetText() const { return m_strText; }
    bool IsMouseOver() const { return m_bMouseOver != 0; }
    port::Colour GetNormalTextColour() const { return m_crNormalText; }
    port::Colour GetHoverTextColour() const { return m_crHoverText; }

protected:
    bool WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                    std::intptr_t& result) override;

private:
    void OnTimer(unsigned id);
    void OnAppearingTick();
    void OnDisappearingTick();
    void OnEraseBackground(std::uintptr_t deviceContext);
    void OnPaint();
    void MoveToCurrent();

    CWnd* m_pOwner = nullptr;
    std::unique_ptr<port::Font> m_normalFont;
    std::unique_ptr<port::Font> m_hoverFont;
    port::Colour m_crNormalText = port::Rgb(133, 146, 181);
    port::Colour m_crHoverText = port::Rgb(10, 36, 106);
    port::CursorHandle m_hHandCursor = nullptr;
    std::unique_ptr<port::Bitmap> m_skin;
    port::Rect m_rcText{0, 0, 0, 0};
    std::int32_t m_nSkinWidth = 0;
    std::int32_t m_nSkinHeight = 0;
    std::string m_strText;
    std::int32_t m_bMouseOver = 0;
    std::int32_t m_nState = kIdle;
    std::uint32_t m_dwShowMs = 0;
    std::uint32_t m_dwStayMs = 0;
    std::uint32_t m_dwHideMs = 0;
    std::uint32_t m_dwShowStepMs = 0;
    std::uint32_t m_dwHideStepMs = 0;
    std::int32_t m_nStartX = 0;
    std::int32_t m_nStartY = 0;
    std::int32_t m_nCurrentX = 0;
    std::int32_t m_nCurrentY = 0;
    std::int32_t m_nPlacement = 0;
    std::int32_t m_nStep = 2;
};
