#include "app/win32/scr/ScreenSaver.h"

#include "platform/win32/WindowsGateway.h"

#include <cctype>
#include <cstdlib>

namespace tavlo::scr {

ScreenSaverMode ParseScreenSaverArguments(const std::vector<std::string>& arguments) {
    if (arguments.empty())
        return ScreenSaverMode::Show;
    const std::string& first = arguments.front();
    if (first.size() < 2 || (first[0] != '/' && first[0] != '-'))
        return ScreenSaverMode::Unknown;
    // "/c:1234" and "/p 1234" carry a window after the letter.
    if (first.size() > 2 && first[2] != ':')
        return ScreenSaverMode::Unknown;
    switch (std::tolower(static_cast<unsigned char>(first[1]))) {
    case 's':
        return ScreenSaverMode::Show;
    case 'c':
        return ScreenSaverMode::Configure;
    case 'p':
        return ScreenSaverMode::Preview;
    default:
        return ScreenSaverMode::Unknown;
    }
}

namespace {

constexpr char kClassName[] = "TavloAnimation";
constexpr UINT_PTR kFrameTimer = 1;
constexpr UINT_PTR kLimitTimer = 2;
constexpr UINT kFrameMs = 25;
constexpr int kEnvelopeWidth = 96;
constexpr int kEnvelopeHeight = 60;
// Pointer travel that counts as the user coming back, in pixels.
constexpr int kMoveTolerance = 4;

struct Animation {
    int x = 0;
    int y = 0;
    int dx = 3;
    int dy = 2;
    bool havePointer = false;
    POINT firstPointer{};
};

void DrawEnvelope(HDC dc, int x, int y) {
    const HBRUSH paper = ::CreateSolidBrush(RGB(250, 250, 244));
    const HPEN ink = ::CreatePen(PS_SOLID, 3, RGB(40, 62, 112));
    const HGDIOBJ oldBrush = ::SelectObject(dc, paper);
    const HGDIOBJ oldPen = ::SelectObject(dc, ink);
    ::Rectangle(dc, x, y, x + kEnvelopeWidth, y + kEnvelopeHeight);
    const POINT flap[] = {{x + 2, y + 2},
                          {x + kEnvelopeWidth / 2, y + kEnvelopeHeight * 11 / 20},
                          {x + kEnvelopeWidth - 3, y + 2}};
    ::Polyline(dc, flap, 3);
    ::MoveToEx(dc, x + 2, y + kEnvelopeHeight - 3, nullptr);
    ::LineTo(dc, x + kEnvelopeWidth * 2 / 5, y + kEnvelopeHeight * 11 / 20);
    ::MoveToEx(dc, x + kEnvelopeWidth - 3, y + kEnvelopeHeight - 3, nullptr);
    ::LineTo(dc, x + kEnvelopeWidth * 3 / 5, y + kEnvelopeHeight * 11 / 20);
    ::SelectObject(dc, oldPen);
    ::SelectObject(dc, oldBrush);
    ::DeleteObject(ink);
    ::DeleteObject(paper);
}

// Draws the frame off-screen first, so the envelope does not flicker.
void Paint(HWND hwnd, const Animation& animation) {
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(hwnd, &paint);
    RECT client{};
    ::GetClientRect(hwnd, &client);
    const HDC memory = ::CreateCompatibleDC(dc);
    const HBITMAP bitmap = ::CreateCompatibleBitmap(dc, client.right, client.bottom);
    if (memory != nullptr && bitmap != nullptr) {
        const HGDIOBJ old = ::SelectObject(memory, bitmap);
        ::FillRect(memory, &client, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
        DrawEnvelope(memory, animation.x, animation.y);
        ::BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
        ::SelectObject(memory, old);
    }
    if (bitmap != nullptr)
        ::DeleteObject(bitmap);
    if (memory != nullptr)
        ::DeleteDC(memory);
    ::EndPaint(hwnd, &paint);
}

void Step(HWND hwnd, Animation& animation) {
    RECT client{};
    ::GetClientRect(hwnd, &client);
    const int maxX = client.right - kEnvelopeWidth;
    const int maxY = client.bottom - kEnvelopeHeight;
    animation.x += animation.dx;
    animation.y += animation.dy;
    if (animation.x <= 0 || animation.x >= maxX) {
        animation.dx = -animation.dx;
        animation.x = animation.x <= 0 ? 0 : maxX;
    }
    if (animation.y <= 0 || animation.y >= maxY) {
        animation.dy = -animation.dy;
        animation.y = animation.y <= 0 ? 0 : maxY;
    }
    ::InvalidateRect(hwnd, nullptr, FALSE);
}

LRESULT CALLBACK AnimationProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* animation = reinterpret_cast<Animation*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (animation == nullptr)
        return ::DefWindowProcA(hwnd, message, wParam, lParam);
    switch (message) {
    case WM_TIMER:
        if (wParam == kLimitTimer)
            ::DestroyWindow(hwnd);
        else if (wParam == kFrameTimer)
            Step(hwnd, *animation);
        return 0;
    case WM_PAINT:
        Paint(hwnd, *animation);
        return 0;
    case WM_ERASEBKGND:
        return 1; // the paint covers everything
    case WM_SETCURSOR:
        ::SetCursor(nullptr);
        return TRUE;
    case WM_MOUSEMOVE: {
        POINT p{};
        ::GetCursorPos(&p);
        if (!animation->havePointer) {
            animation->havePointer = true;
            animation->firstPointer = p;
        } else if (std::abs(p.x - animation->firstPointer.x) > kMoveTolerance ||
                   std::abs(p.y - animation->firstPointer.y) > kMoveTolerance) {
            ::DestroyWindow(hwnd);
        }
        return 0;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        ::DestroyWindow(hwnd);
        return 0;
    case WM_CLOSE:
        ::DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        ::KillTimer(hwnd, kFrameTimer);
        ::KillTimer(hwnd, kLimitTimer);
        ::PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        break;
    default:
        break;
    }
    return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

int Show(unsigned limitMs) {
    const HINSTANCE instance = ::GetModuleHandleA(nullptr);
    WNDCLASSA wc{};
    wc.lpfnWndProc = AnimationProc;
    wc.hInstance = instance;
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = kClassName;
    if (::RegisterClassA(&wc) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return 0;
    Animation animation;
    const int width = ::GetSystemMetrics(SM_CXSCREEN);
    const int height = ::GetSystemMetrics(SM_CYSCREEN);
    animation.x = width / 3;
    animation.y = height / 4;
    const HWND hwnd =
        ::CreateWindowExA(WS_EX_TOPMOST, kClassName, kScreenSaverTitle, WS_POPUP | WS_VISIBLE, 0, 0,
                          width, height, nullptr, nullptr, instance, &animation);
    if (hwnd == nullptr)
        return 0;
    ::SetTimer(hwnd, kFrameTimer, kFrameMs, nullptr);
    ::SetTimer(hwnd, kLimitTimer, limitMs, nullptr);
    ::SetForegroundWindow(hwnd);
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    // The window ended the loop; anything left of it goes now.
    if (::IsWindow(hwnd))
        ::DestroyWindow(hwnd);
    return 0;
}

} // namespace

int RunScreenSaver(ScreenSaverMode mode, unsigned limitMs) {
    switch (mode) {
    case ScreenSaverMode::Show:
        return Show(limitMs);
    case ScreenSaverMode::Configure:
        ::MessageBoxA(nullptr, "This animation has no options.", "Tavlo",
                      MB_OK | MB_ICONINFORMATION);
        return 0;
    case ScreenSaverMode::Preview:
    case ScreenSaverMode::Unknown:
        return 0;
    }
    return 0;
}

} // namespace tavlo::scr
