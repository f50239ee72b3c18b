#include "notify/TaskbarNotifier.h"

#include "res/resource.h"

namespace {

// The appearing and the disappearing slide take this long.
constexpr std::uint32_t kSlideMs = 400;
// The popup stands this far inside the work area's right edge.
constexpr int kRightInset = 15;
constexpr unsigned kMoveFlags = port::kSwpNoZOrder | port::kSwpNoActivate;

} // namespace

CTaskbarNotifier::CTaskbarNotifier(port::Ui& ui) : CWnd(ui) {}

CTaskbarNotifier::~CTaskbarNotifier() {
    DestroyWindow();
}

bool CTaskbarNotifier::Create(CWnd* pOwner) {
    m_pOwner = pOwner;
    port::WindowSpec spec;
    spec.className = "TavloNotifierWindow";
    spec.arrowCursor = true;
    spec.windowBackground = true;
    spec.rect = port::Rect{0, 0, 0, 0};
    spec.owner = pOwner != nullptr ? pOwner->GetSafeHwnd() : nullptr;
    const port::WindowHandle window = m_ui.CreatePopupWindow(spec, this);
    if (m_hWnd == nullptr)
        m_hWnd = window;
    return window != nullptr;
}

bool CTaskbarNotifier::SetSkin() {
    std::unique_ptr<port::Bitmap> skin = m_ui.LoadBitmap(IDB_SKIN);
    if (!skin)
        return false;
    m_skin = std::move(skin);
    const port::Size size = m_skin->GetSize();
    m_nSkinWidth = size.cx;
    m_nSkinHeight = size.cy;
    m_rcText = port::Rect{0, 0, m_nSkinWidth, m_nSkinHeight};
    return true;
}

void CTaskbarNotifier::SetTextFont() {
    port::FontSpec spec;
    spec.face = "Arial";
    spec.pointTenths = 85;
    spec.weight = 400;
    m_normalFont = m_ui.CreateFont(spec);
    spec.underline = true;
    m_hoverFont = m_ui.CreateFont(spec);
}

void CTaskbarNotifier::SetTextColors() {
    m_crNormalText = port::Rgb(0, 0, 0);
    m_crHoverText = port::Rgb(0, 0, 200);
    if (m_hWnd != nullptr)
        m_ui.RedrawNow(m_hWnd);
}

void CTaskbarNotifier::SetTextRect(const port::Rect& rect) {
    m_rcText = rect;
}

void CTaskbarNotifier::Show(const std::string& text, std::uint32_t stayMs) {
    m_strText = text;
    m_dwStayMs = stayMs;
    m_dwShowMs = kSlideMs;
    m_dwHideMs = kSlideMs;

    const port::Rect work = m_ui.GetWorkArea();
    const port::Size screen = m_ui.GetScreenSize();
    const int width = m_nSkinWidth;
    const int height = m_nSkinHeight;

    // The taskbar's edge: the side by which the work area falls short of the
    // screen; the bottom when no taskbar takes room.
    Placement edge = kBottom;
    if (work.right - work.left < screen.cx)
        edge = work.left == 0 ? kRight : kLeft;
    else if (work.bottom - work.top < screen.cy && work.top != 0)
        edge = kTop;

    switch (m_nState) {
    case kIdle: {
        // The slide moves 2 pixels per tick over half the skin; a skin of
        // under 2 pixels that way (none loaded) would divide by zero, and a
        // window that does not exist cannot be shown: stay idle.
        const int slide = (edge == kLeft || edge == kRight) ? width : height;
        if (m_hWnd == nullptr || slide / 2 <= 0)
            return;
        m_ui.ShowWindow(m_hWnd, port::ShowCommand::Show);
        m_nPlacement = edge;
        switch (edge) {
        case kTop:
            m_nStartX = work.right - width;
            m_nStartY = work.top - height;
            break;
        case kLeft:
            m_nStartX = work.left - width;
            m_nStartY = work.bottom - height;
            break;
        case kRight:
            m_nStartX = work.right;
            m_nStartY = work.bottom - height;
            break;
        case kBottom:
            m_nStartX = work.right - width;
            m_nStartY = work.bottom;
            break;
        }
        const auto halfSlide = static_cast<std::uint32_t>(slide / 2);
        m_dwShowStepMs = m_dwShowMs / halfSlide;
        m_dwHideStepMs = m_dwHideMs / halfSlide;
        m_nCurrentX = m_nStartX - kRightInset;
        m_nCurrentY = m_nStartY;
        // The window keeps its zero size until the first tick moves it.
        m_ui.SetTimer(m_hWnd, kTimerAppearing, m_dwShowStepMs);
        break;
    }
    case kAppearing:
        // The slide goes on; the new stay time applies when it has finished.
        m_ui.RedrawNow(m_hWnd);
        break;
    case kWaiting:
        m_ui.RedrawNow(m_hWnd);
        m_ui.SetTimer(m_hWnd, kTimerWaiting, m_dwStayMs);
        break;
    case kDisappearing:
        m_ui.KillTimer(m_hWnd, kTimerDisappearing);
        m_ui.SetTimer(m_hWnd, kTimerWaiting, m_dwStayMs);
        switch (edge) {
        case kRight:
            m_nCurrentX = work.right - width;
            break;
        case kLeft:
            m_nCurrentX = work.left;
            break;
        case kTop:
            m_nCurrentY = work.top;
            break;
        case kBottom:
            m_nCurrentY = work.bottom - height;
            break;
        }
        m_ui.MoveWindow(
            m_hWnd, port::Rect{m_nCurrentX, m_nCurrentY, m_nCurrentX + width, m_nCurrentY + height},
            true);
        m_ui.RedrawNow(m_hWnd);
        break;
    default:
        break;
    }
}

void CTaskbarNotifier::Hide() {
    if (m_hWnd == nullptr) {
        m_nState = kIdle;
        return;
    }
    // All three: between Show and the first tick of a phase the state still
    // names the phase before, while the next phase's timer already runs.
    m_ui.KillTimer(m_hWnd, kTimerAppearing);
    m_ui.KillTimer(m_hWnd, kTimerWaiting);
    m_ui.KillTimer(m_hWnd, kTimerDisappearing);
    m_ui.MoveWindow(m_hWnd, port::Rect{0, 0, 0, 0}, true);
    m_ui.ShowWindow(m_hWnd, port::ShowCommand::Hide);
    m_nState = kIdle;
}

void CTaskbarNotifier::MoveToCurrent() {
    m_ui.SetWindowPos(m_hWnd, m_nCurrentX, m_nCurrentY, m_nSkinWidth, m_nSkinHeight, kMoveFlags);
}

void CTaskbarNotifier::OnAppearingTick() {
    m_nState = kAppearing;
    bool sliding = false;
    switch (m_nPlacement) {
    case kTop:
        sliding = m_nCurrentY - m_nStartY < m_nSkinHeight;
        if (sliding)
            m_nCurrentY += m_nStep;
        break;
    case kLeft:
        sliding = m_nCurrentX - m_nStartX < m_nSkinWidth;
        if (sliding)
            m_nCurrentX += m_nStep;
        break;
    case kRight:
        sliding = m_nCurrentX > m_nStartX - m_nSkinWidth;
        if (sliding)
            m_nCurrentX -= m_nStep;
        break;
    case kBottom:
        sliding = m_nCurrentY > m_nStartY - m_nSkinHeight;
        if (sliding)
            m_nCurrentY -= m_nStep;
        break;
    default:
        break;
    }
    if (!sliding) {
        m_ui.KillTimer(m_hWnd, kTimerAppearing);
        m_ui.SetTimer(m_hWnd, kTimerWaiting, m_dwStayMs);
        m_nState = kWaiting;
    }
    MoveToCurrent();
}

void CTaskbarNotifier::OnDisappearingTick() {
    m_nState = kDisappearing;
    bool sliding = false;
    switch (m_nPlacement) {
    case kTop:
        sliding = m_nCurrentY > m_nStartY;
        if (sliding)
            m_nCurrentY -= m_nStep;
        break;
    case kLeft:
        sliding = m_nCurrentX > m_nStartX;
        if (sliding)
            m_nCurrentX -= m_nStep;
        break;
    case kRight:
        sliding = m_nCurrentX < m_nStartX;
        if (sliding)
            m_nCurrentX += m_nStep;
        break;
    case kBottom:
        sliding = m_nCurrentY < m_nStartY;
        if (sliding)
            m_nCurrentY += m_nStep;
        break;
    default:
        break;
    }
    if (!sliding) {
        // Hide parks the window at zero size; the move below then puts the
        // hidden window back at its end position in its full size, so the
        // next Show starts from there.
        m_ui.KillTimer(m_hWnd, kTimerDisappearing);
        Hide();
    }
    MoveToCurrent();
}

void CTaskbarNotifier::OnTimer(unsigned id) {
    switch (id) {
    case kTimerAppearing:
        OnAppearingTick();
        break;
    case kTimerWaiting:
        m_ui.KillTimer(m_hWnd, kTimerWaiting);
        m_ui.SetTimer(m_hWnd, kTimerDisappearing, m_dwHideStepMs);
        break;
    case kTimerDisappearing:
        OnDisappearingTick();
        break;
    default:
        break;
    }
}

void CTaskbarNotifier::OnEraseBackground(std::uintptr_t deviceContext) {
    if (!m_skin)
        return;
    const std::unique_ptr<port::Canvas> canvas = m_ui.CanvasFor(deviceContext);
    canvas->DrawBitmap(*m_skin, 0, 0);
}

void CTaskbarNotifier::OnPaint() {
    const std::unique_ptr<port::Canvas> canvas = m_ui.BeginPaint(m_hWnd);
    const bool over = m_bMouseOver != 0;
    canvas->SetFont(over ? m_hoverFont.get() : m_normalFont.get());
    canvas->SetTextColour(over ? m_crHoverText : m_crNormalText);
    canvas->SetTransparentBackground();
    canvas->DrawText(m_strText, m_rcText,
                     port::kDtCenter | port::kDtVCenter | port::kDtWordBreak |
                         port::kDtEndEllipsis);
}

bool CTaskbarNotifier::WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                                  std::intptr_t& result) {
    switch (message) {
    case port::kWmCreate:
        m_hHandCursor = m_ui.LoadSystemCursor(port::SystemCursor::Hand);
        result = 0;
        return true;
    case port::kWmTimer:
        OnTimer(static_cast<unsigned>(wParam));
        result = 0;
        return true;
    case port::kWmEraseBkgnd:
        OnEraseBackground(wParam);
        result = 1; // erased
        return true;
    case port::kWmPaint:
        OnPaint();
        result = 0;
        return true;
    case port::kWmMouseMove:
        m_ui.TrackMouse(m_hWnd, 1);
        result = 0;
        return true;
    case port::kWmMouseHover:
        if (!m_bMouseOver) {
            m_bMouseOver = 1;
            m_ui.RedrawNow(m_hWnd);
        }
        result = 0;
        return true;
    case port::kWmMouseLeave:
        if (m_bMouseOver) {
            m_bMouseOver = 0;
            m_ui.RedrawNow(m_hWnd);
        }
        result = 0;
        return true;
    case port::kWmSetCursor:
        if (port::LowWord(static_cast<std::uintptr_t>(lParam)) != port::kHtClient)
            return false;
        m_ui.SetCursor(m_hHandCursor);
        result = 1;
        return true;
    case port::kWmLButtonUp:
        if (m_pOwner != nullptr && m_pOwner->GetSafeHwnd() != nullptr)
            m_ui.PostMessage(m_pOwner->GetSafeHwnd(), kWmNotifierClicked, 0, 0);
        result = 0;
        return true;
    default:
        return false;
    }
}
