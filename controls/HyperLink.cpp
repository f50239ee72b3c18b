#include "controls/HyperLink.h"

#include "controls/DialogLook.h"
#include "platform/Paths.h"

#include <cstdio>

namespace {

// Static control styles (SS_*) the control looks at, and SS_NOTIFY, which
// makes it report clicks.
constexpr std::uint32_t kSsTypeMask = 0x1F;
constexpr std::uint32_t kSsCenter = 0x01;
constexpr std::uint32_t kSsRight = 0x02;
constexpr std::uint32_t kSsNotify = 0x100;
constexpr std::uint32_t kSsCenterImage = 0x200;
constexpr unsigned kDtRight = 0x0002;
constexpr unsigned kDtSingleLine = 0x0020;

constexpr unsigned kHoverPollMs = 100;
// The cursor resource of the help viewer that shows a pointing hand.
constexpr int kHelpViewerHandCursor = 106;

} // namespace

CHyperLink::~CHyperLink() {
    if (m_hWnd != nullptr)
        m_ui.KillTimer(m_hWnd, m_timerId);
    m_tooltip.reset();
    m_ui.DestroyCursor(m_hHandCursor);
}

void CHyperLink::PreSubclassWindow() {
    m_ui.AddStyle(m_hWnd, kSsNotify);
    const std::string text = m_ui.GetWindowText(m_hWnd);
    if (m_strTarget.empty())
        m_strTarget = text;
    if (text.empty())
        m_ui.SetWindowText(m_hWnd, m_strTarget);
    m_fontPlain = m_ui.CreateWindowFont(m_hWnd, false);
    m_fontUnderlined = m_ui.CreateWindowFont(m_hWnd, true);
    FitToText();
    if (m_hHandCursor == nullptr)
        m_hHandCursor = m_ui.LoadProgramCursor("winhlp32.exe", kHelpViewerHandCursor);
    m_currentFont = m_underlineMode == 1 ? m_fontUnderlined.get() : m_fontPlain.get();
    m_tooltip = m_ui.CreateTooltip(m_hWnd, m_strTarget);
}

void CHyperLink::SetTarget(const std::string& target) {
    m_strTarget = target;
    if (m_hWnd != nullptr) {
        FitToText();
        if (m_tooltip != nullptr)
            m_tooltip->SetText(target);
    }
}

void CHyperLink::SetLinkColours(port::Colour normal, port::Colour visited, port::Colour hover) {
    m_colourNormal = normal;
    m_colourVisited = visited;
    m_colourHover = hover;
    if (m_hWnd != nullptr)
        m_ui.InvalidateWindow(m_hWnd, true);
}

void CHyperLink::SetUnderlineMode(int mode) {
    if (mode != m_underlineMode && m_hWnd != nullptr) {
        SelectFont(mode == 1 ? m_fontUnderlined.get() : m_fontPlain.get());
        m_ui.InvalidateWindow(m_hWnd, true);
    }
    m_underlineMode = mode;
}

void CHyperLink::EnableAutoFit() {
    m_bAutoFit = 1;
    FitToText();
}

void CHyperLink::SetVisitedState() {
    m_bVisitedState = 1;
    if (m_hWnd != nullptr)
        m_ui.InvalidateWindow(m_hWnd, true);
}

port::Colour CHyperLink::CurrentColour() const {
    if (m_bHovering)
        return m_colourHover;
    return m_bVisitedState ? m_colourVisited : m_colourNormal;
}

void CHyperLink::SelectFont(const port::Font* font) {
    m_currentFont = font;
}

void CHyperLink::FitToText() {
    if (m_hWnd == nullptr || !m_bAutoFit)
        return;
    port::Rect rect = m_ui.GetWindowRectInParent(m_hWnd);
    const port::Rect client = m_ui.GetClientRectInParent(m_hWnd);
    const port::Size extent =
        m_ui.MeasureText(m_hWnd, m_fontUnderlined.get(), m_ui.GetWindowText(m_hWnd));
    const std::uint32_t style = m_ui.GetStyle(m_hWnd);

    const int height = extent.cy + rect.Height() - client.Height();
    if ((style & kSsCenterImage) != 0) {
        const int middle = (rect.top + rect.bottom) / 2;
        rect.top = middle - height / 2;
    }
    rect.bottom = rect.top + height;

    const int width = extent.cx + rect.Width() - client.Width();
    if ((style & kSsTypeMask) == kSsCenter) {
        const int middle = (rect.left + rect.right) / 2;
        rect.left = middle - width / 2;
    } else if ((style & kSsTypeMask) == kSsRight) {
        rect.left = rect.right - width;
    }
    rect.right = rect.left + width;

    m_ui.SetWindowPos(m_hWnd, rect.left, rect.top, rect.Width(), rect.Height(),
                      port::kSwpNoZOrder | port::kSwpNoActivate);
}

void CHyperLink::OnMouseMove() {
    if (m_bHovering)
        return;
    m_bHovering = 1;
    if (m_underlineMode == -1)
        SelectFont(m_fontUnderlined.get());
    m_ui.InvalidateWindow(m_hWnd, true);
    m_ui.SetTimer(m_hWnd, m_timerId, kHoverPollMs);
}

void CHyperLink::OnHoverTimer() {
    const port::Point at = m_ui.ScreenToClient(m_hWnd, m_ui.GetCursorPos());
    const port::Rect client = m_ui.GetClientRect(m_hWnd);
    const bool inside =
        at.x >= client.left && at.x < client.right && at.y >= client.top && at.y < client.bottom;
    if (inside)
        return;
    m_bHovering = 0;
    m_ui.KillTimer(m_hWnd, m_timerId);
    if (m_underlineMode != 1)
        SelectFont(m_fontPlain.get());
    m_ui.InvalidateWindow(m_hWnd, true);
}

void CHyperLink::OnClicked() {
    m_bHovering = 0;
    const int result = OpenTarget(m_strTarget);
    if (result > 32) {
        SetVisitedState();
    } else {
        m_ui.MessageBeep(port::kMbIconExclamation);
        ShowOpenError(result);
    }
}

int CHyperLink::OpenTarget(const std::string& target) {
    int result = m_ui.ShellOpenWithResult(target);
    if (result > 32)
        return result;
    // The browser registered for web pages: the command line of the class
    // of ".htm", without its placeholder, followed by the target.
    std::string documentClass;
    std::string command;
    if (!m_ui.ReadClassesRootDefault(".htm", documentClass) ||
        !m_ui.ReadClassesRootDefault(documentClass + "\\shell\\open\\command", command))
        return result;
    std::size_t placeholder = command.find("\"%1\"");
    if (placeholder == std::string::npos)
        placeholder = command.find("%1");
    if (placeholder != std::string::npos)
        command.erase(placeholder);
    command += " " + target;
    result = m_ui.RunCommandLine(command);
    return result;
}

std::string CHyperLink::OpenErrorText(int code) {
    switch (code) {
    case 0:
        return "The operating system is out\nof memory or resources.";
    case 2:
        return "The specified file was not found.";
    case 3:
        return "The specified path was not found.";
    case 5:
        return "The operating system denied\naccess to the specified file.";
    case 8:
        return "There was not enough memory to complete the operation.";
    case 11:
        return "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    case 26:
        return "A sharing violation occurred. ";
    case 27:
        return "The filename association is\nincomplete or invalid.";
    case 28:
        return "The DDE transaction could not\nbe completed because the request timed out.";
    case 29:
        return "The DDE transaction failed.";
    case 30:
        return "The DDE transaction could not\nbe completed because other DDE transactions\nwere "
               "being processed.";
    case 31:
        return "There is no application associated\nwith the given filename extension.";
    case 32:
        return "The specified dynamic-link library was not found.";
    default: {
        char text[64];
        std::snprintf(text, sizeof text, "Unknown Error (%d) occurred.", code);
        return text;
    }
    }
}

void CHyperLink::ShowOpenError(int code) {
    m_ui.MessageBox(m_hWnd, "Unable to open hyperlink:\n\n" + OpenErrorText(code),
                    port::ApplicationName(), port::kMbOk | port::kMbIconExclamation);
}

void CHyperLink::Paint() {
    auto canvas = m_ui.BeginPaint(m_hWnd);
    if (canvas == nullptr)
        return;
    const std::uint32_t style = m_ui.GetStyle(m_hWnd);
    unsigned flags = 0;
    if ((style & kSsTypeMask) == kSsCenter)
        flags |= port::kDtCenter;
    else if ((style & kSsTypeMask) == kSsRight)
        flags |= kDtRight;
    if ((style & kSsCenterImage) != 0)
        flags |= port::kDtVCenter | kDtSingleLine;
    else
        flags |= port::kDtWordBreak;
    canvas->SetFont(m_currentFont);
    canvas->SetTextColour(CurrentColour());
    canvas->SetTransparentBackground();
    canvas->DrawText(m_ui.GetWindowText(m_hWnd), m_ui.GetClientRect(m_hWnd), flags);
}

bool CHyperLink::WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                            std::intptr_t& result) {
    if (m_tooltip != nullptr)
        m_tooltip->Relay(message, wParam, lParam);
    switch (message) {
    case port::kWmEraseBkgnd: {
        auto canvas = m_ui.CanvasFor(wParam);
        if (canvas != nullptr)
            canvas->FillRect(m_ui.GetClientRect(m_hWnd), kDialogBackColour);
        result = 1;
        return true;
    }
    case port::kWmPaint:
        Paint();
        result = 0;
        return true;
    case port::kWmMouseMove:
        OnMouseMove();
        return false;
    case port::kWmTimer:
        if (wParam != m_timerId)
            return false;
        OnHoverTimer();
        result = 0;
        return true;
    case port::kWmSetCursor:
        if (m_hHandCursor == nullptr)
            return false;
        m_ui.SetCursor(m_hHandCursor);
        result = 1;
        return true;
    case port::kWmLButtonUp:
        OnClicked();
        return false;
    case port::kWmDestroy:
        m_ui.KillTimer(m_hWnd, m_timerId);
        m_tooltip.reset();
        return false;
    default:
        return false;
    }
}
