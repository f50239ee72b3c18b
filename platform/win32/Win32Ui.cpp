#include "platform/win32/Win32Ui.h"

#include "platform/win32/Win32Picture.h"
#include "platform/win32/WindowsGateway.h"

// clang-format off
#include <commctrl.h>
#include <commdlg.h>
#include <ole2.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <mmsystem.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <vector>

// The port's operations carry the plain names that <windows.h> turns into
// macros for its A/W pairs; this file calls the A functions explicitly.
#undef GetWindowText
#undef SetWindowText
#undef PostMessage
#undef SendMessage
#undef LoadString
#undef LoadIcon
#undef LoadBitmap
#undef CreateFont
#undef MessageBox
#undef PlaySound
#undef DrawText

namespace port::win32 {

// One modal dialog run (RunModalDialog); lives on the runner's stack.
struct DialogRun {
    Win32Ui::State* state = nullptr;
    MessageTarget* target = nullptr;
    int templateId = 0;
    HWND hwnd = nullptr;
    HWND disabledOwner = nullptr; // the owner this run disabled
    bool inInit = false;
    bool hiddenDuringInit = false;
    bool ended = false;
    bool destroyed = false; // kWmDestroy was delivered
    int result = -1;
};

struct Win32Ui::State {
    HINSTANCE instance = nullptr;  // window classes
    HINSTANCE resources = nullptr; // templates, menus, strings, images
    bool ownsResources = false;
    HWND mainWindow = nullptr;
    std::set<std::string> registeredClasses;
    std::map<HWND, DialogRun*> dialogs;

    DialogRun* FindDialog(HWND hwnd) const {
        const auto it = dialogs.find(hwnd);
        return it == dialogs.end() ? nullptr : it->second;
    }
};

namespace {

HWND H(WindowHandle window) {
    return static_cast<HWND>(window);
}

Rect FromRect(const RECT& r) {
    return Rect{r.left, r.top, r.right, r.bottom};
}

RECT ToRect(const Rect& r) {
    return RECT{r.left, r.top, r.right, r.bottom};
}

// The dialog manager's answers that travel as the procedure's return value
// instead of DWLP_MSGRESULT.
bool ReturnsDirectly(UINT message) {
    return (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) ||
           message == WM_INITDIALOG || message == WM_COMPAREITEM || message == WM_VKEYTOITEM ||
           message == WM_CHARTOITEM || message == WM_QUERYDRAGICON;
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* target = reinterpret_cast<MessageTarget*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (target == nullptr)
        return ::DefWindowProcA(hwnd, message, wParam, lParam);
    // kWmDestroy is the last message a target sees: the C++ object forgets
    // its window there, and may be gone once it has returned.
    if (message == WM_DESTROY)
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    std::intptr_t result = 0;
    if (target->OnMessage(hwnd, message, wParam, lParam, result))
        return result;
    return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

// The dialog manager leaves a template's initial data (resource type 240
// under the template's id) to the program: records of control id, message,
// 32-bit length and bytes, up to a zero id. The item messages carry their
// 16-bit numbers there; the text ends at its zero byte.
void AddInitialItems(HINSTANCE resources, int templateId, HWND dialog) {
    constexpr WORD kInitListAddString = 0x0401;
    constexpr WORD kInitComboAddString = 0x0403;
    const HRSRC found =
        ::FindResourceA(resources, MAKEINTRESOURCEA(templateId), MAKEINTRESOURCEA(240));
    if (found == nullptr)
        return;
    const HGLOBAL loaded = ::LoadResource(resources, found);
    const auto* data = static_cast<const unsigned char*>(::LockResource(loaded));
    const std::size_t size = ::SizeofResource(resources, found);
    if (data == nullptr)
        return;
    std::size_t pos = 0;
    while (pos + 8 <= size) {
        WORD control = 0;
        WORD message = 0;
        DWORD length = 0;
        // Records follow each other byte by byte: they need not be aligned.
        std::memcpy(&control, data + pos, sizeof control);
        if (control == 0)
            return;
        std::memcpy(&message, data + pos + 2, sizeof message);
        std::memcpy(&length, data + pos + 4, sizeof length);
        pos += 8;
        if (length > size - pos)
            return;
        const std::string text(reinterpret_cast<const char*>(data + pos),
                               ::strnlen(reinterpret_cast<const char*>(data + pos), length));
        pos += length;
        const UINT add = message == kInitComboAddString  ? CB_ADDSTRING
                         : message == kInitListAddString ? LB_ADDSTRING
                                                         : 0;
        if (add != 0)
            ::SendDlgItemMessageA(dialog, static_cast<short>(control), add, 0,
                                  reinterpret_cast<LPARAM>(text.c_str()));
    }
}

// A subclassed control: its own procedure and the target that sees its
// messages first, kept as window properties.
constexpr const char* kSubclassProcProp = "Tavlo.SubclassProc";
constexpr const char* kSubclassTargetProp = "Tavlo.SubclassTarget";

WNDPROC OriginalProc(HWND hwnd) {
    return reinterpret_cast<WNDPROC>(::GetPropA(hwnd, kSubclassProcProp));
}

void RestoreProc(HWND hwnd) {
    const WNDPROC original = OriginalProc(hwnd);
    if (original == nullptr)
        return;
    ::SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    ::RemovePropA(hwnd, kSubclassProcProp);
    ::RemovePropA(hwnd, kSubclassTargetProp);
}

LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    const WNDPROC original = OriginalProc(hwnd);
    auto* target = static_cast<MessageTarget*>(::GetPropA(hwnd, kSubclassTargetProp));
    if (message == WM_NCDESTROY || original == nullptr) {
        RestoreProc(hwnd);
        return original != nullptr ? ::CallWindowProcA(original, hwnd, message, wParam, lParam)
                                   : ::DefWindowProcA(hwnd, message, wParam, lParam);
    }
    // kWmDestroy is the last message the target sees.
    if (message == WM_DESTROY)
        ::SetPropA(hwnd, kSubclassTargetProp, nullptr);
    std::intptr_t result = 0;
    if (target != nullptr && target->OnMessage(hwnd, message, wParam, lParam, result))
        return result;
    return ::CallWindowProcA(original, hwnd, message, wParam, lParam);
}

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == WM_INITDIALOG) {
        auto* run = reinterpret_cast<DialogRun*>(lParam);
        ::SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        run->hwnd = hwnd;
        AddInitialItems(run->state->resources, run->templateId, hwnd);
        // Entered here so that ShowWindow and EndDialog called from the
        // initialisation find the run.
        run->state->dialogs[hwnd] = run;
        run->inInit = true;
        // The framework creates the C++ side first: kWmCreate, then the
        // initialisation. -1 from kWmCreate fails the creation.
        std::intptr_t result = 0;
        if (run->target->OnMessage(hwnd, kWmCreate, 0, 0, result) && result == -1) {
            run->inInit = false;
            run->ended = true;
            run->result = -1;
            return FALSE;
        }
        result = 0;
        const bool handled = run->target->OnMessage(hwnd, message, wParam, lParam, result);
        run->inInit = false;
        return handled ? static_cast<INT_PTR>(result) : TRUE;
    }
    auto* run = reinterpret_cast<DialogRun*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    if (run == nullptr)
        return FALSE;
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        if (!run->ended) {
            run->ended = true;
            run->result = -1;
        }
        return FALSE;
    }
    // As for windows, kWmDestroy is the last message the target sees.
    if (run->destroyed)
        return FALSE;
    if (message == WM_DESTROY)
        run->destroyed = true;
    std::intptr_t result = 0;
    if (!run->target->OnMessage(hwnd, message, wParam, lParam, result))
        return FALSE;
    if (ReturnsDirectly(message))
        return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, static_cast<LONG_PTR>(result));
    return TRUE;
}

// --- Drawing objects -----------------------------------------------------------

template <class Base> class GdiHandle : public Base {
public:
    explicit GdiHandle(HGDIOBJ object) : m_object(object) {}
    ~GdiHandle() override { ::DeleteObject(m_object); }
    GdiHandle(const GdiHandle&) = delete;
    GdiHandle& operator=(const GdiHandle&) = delete;
    std::intptr_t Native() const override { return reinterpret_cast<std::intptr_t>(m_object); }

protected:
    HGDIOBJ m_object;
};

class Win32Bitmap final : public GdiHandle<Bitmap> {
public:
    explicit Win32Bitmap(HBITMAP bitmap) : GdiHandle(bitmap) {
        BITMAP info{};
        if (::GetObjectA(bitmap, sizeof info, &info) == sizeof info)
            m_size = Size{info.bmWidth, info.bmHeight};
    }
    Size GetSize() const override { return m_size; }

private:
    Size m_size;
};

using Win32Font = GdiHandle<Font>;
using Win32Brush = GdiHandle<Brush>;

// A device context to paint on: the window's own between BeginPaint and
// EndPaint, or a borrowed one. The font selected first is put back.
class Win32Canvas final : public Canvas {
public:
    explicit Win32Canvas(HWND paintWindow) : m_window(paintWindow) {
        m_dc = ::BeginPaint(paintWindow, &m_paint);
    }
    explicit Win32Canvas(HDC borrowed) : m_dc(borrowed) {}
    ~Win32Canvas() override {
        if (m_originalFont != nullptr)
            ::SelectObject(m_dc, m_originalFont);
        if (m_window != nullptr)
            ::EndPaint(m_window, &m_paint);
    }
    Win32Canvas(const Win32Canvas&) = delete;
    Win32Canvas& operator=(const Win32Canvas&) = delete;

    void FillRect(const Rect& rect, Colour colour) override {
        const HBRUSH brush = ::CreateSolidBrush(colour);
        if (brush == nullptr)
            return;
        const RECT r = ToRect(rect);
        ::FillRect(m_dc, &r, brush);
        ::DeleteObject(brush);
    }

    void DrawBitmap(const Bitmap& bitmap, int x, int y) override {
        const HDC memory = ::CreateCompatibleDC(m_dc);
        if (memory == nullptr)
            return;
        const HGDIOBJ old = ::SelectObject(memory, reinterpret_cast<HGDIOBJ>(bitmap.Native()));
        const Size size = bitmap.GetSize();
        ::BitBlt(m_dc, x, y, size.cx, size.cy, memory, 0, 0, SRCCOPY);
        ::SelectObject(memory, old);
        ::DeleteDC(memory);
    }

    void DrawIcon(IconHandle icon, int x, int y) override {
        ::DrawIconEx(m_dc, x, y, static_cast<HICON>(icon), 0, 0, 0, nullptr, DI_NORMAL);
    }

    void SetFont(const Font* font) override {
        if (font == nullptr) {
            if (m_originalFont != nullptr)
                ::SelectObject(m_dc, m_originalFont);
            m_originalFont = nullptr;
            return;
        }
        const HGDIOBJ old = ::SelectObject(m_dc, reinterpret_cast<HGDIOBJ>(font->Native()));
        if (m_originalFont == nullptr)
            m_originalFont = old;
    }

    void SetTextColour(Colour colour) override { ::SetTextColor(m_dc, colour); }
    void SetTransparentBackground() override { ::SetBkMode(m_dc, TRANSPARENT); }

    void DrawMemoryCanvas(const MemoryCanvas& canvas, const Rect& source, Point at) override {
        const HDC memory = MemoryCanvasDc(canvas);
        if (memory != nullptr)
            ::BitBlt(m_dc, at.x, at.y, source.Width(), source.Height(), memory, source.left,
                     source.top, SRCCOPY);
    }

    void DrawText(const std::string& text, const Rect& rect, unsigned flags) override {
        RECT r = ToRect(rect);
        ::DrawTextA(m_dc, text.data(), static_cast<int>(text.size()), &r, flags);
    }

private:
    HWND m_window = nullptr;
    PAINTSTRUCT m_paint{};
    HDC m_dc = nullptr;
    HGDIOBJ m_originalFont = nullptr;
};

// The first popup of a loaded menu resource; owns the menu.
class Win32Menu final : public Menu {
public:
    Win32Menu(HMENU menu, HMENU popup) : m_menu(menu), m_popup(popup) {}
    ~Win32Menu() override { ::DestroyMenu(m_menu); }
    Win32Menu(const Win32Menu&) = delete;
    Win32Menu& operator=(const Win32Menu&) = delete;

    bool SetDefaultItem(unsigned item, bool byPosition) override {
        return ::SetMenuDefaultItem(m_popup, item, byPosition ? TRUE : FALSE) != 0;
    }

    int GetItemId(int position) const override {
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU;
        if (position < 0 || !::GetMenuItemInfoA(m_popup, static_cast<UINT>(position), TRUE, &info))
            return -1;
        if ((info.fType & MFT_SEPARATOR) != 0 || info.hSubMenu != nullptr)
            return -1;
        return static_cast<int>(info.wID);
    }

    void Track(Point at, WindowHandle target) override {
        ::TrackPopupMenu(m_popup, TPM_LEFTALIGN | TPM_LEFTBUTTON, at.x, at.y, 0, H(target),
                         nullptr);
    }

private:
    HMENU m_menu;
    HMENU m_popup;
};

enum class ListKind { None, ListBox, ComboBox };

ListKind KindOf(HWND control) {
    if (control == nullptr)
        return ListKind::None;
    char name[32] = {};
    ::GetClassNameA(control, name, sizeof name);
    if (::lstrcmpiA(name, "ListBox") == 0)
        return ListKind::ListBox;
    if (::lstrcmpiA(name, "ComboBox") == 0)
        return ListKind::ComboBox;
    return ListKind::None;
}

// Sends the list box or the combo box form of a list message; LB_ERR (-1)
// when the control is neither.
LRESULT ListMessage(HWND control, UINT listBox, UINT comboBox, WPARAM wParam, LPARAM lParam) {
    switch (KindOf(control)) {
    case ListKind::ListBox:
        return ::SendMessageA(control, listBox, wParam, lParam);
    case ListKind::ComboBox:
        return ::SendMessageA(control, comboBox, wParam, lParam);
    default:
        return LB_ERR;
    }
}

std::string TextOf(HWND window) {
    if (window == nullptr)
        return {};
    const int length = ::GetWindowTextLengthA(window);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int copied = ::GetWindowTextA(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(copied, 0)));
    return text;
}

} // namespace

// --- Construction ----------------------------------------------------------------

Win32Ui::Win32Ui() : m_state(std::make_unique<State>()) {
    m_state->instance = ::GetModuleHandleA(nullptr);
    m_state->resources = m_state->instance;
}

Win32Ui::Win32Ui(const std::string& resourceModule) : m_state(std::make_unique<State>()) {
    m_state->instance = ::GetModuleHandleA(nullptr);
    m_state->resources =
        ::LoadLibraryExA(resourceModule.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    m_state->ownsResources = m_state->resources != nullptr;
}

Win32Ui::~Win32Ui() {
    if (m_state->ownsResources)
        ::FreeLibrary(m_state->resources);
}

bool Win32Ui::Loaded() const {
    return m_state->resources != nullptr;
}

std::string Win32Ui::LoadResourceData(int id, const std::string& type) const {
    if (m_state->resources == nullptr)
        return {};
    const HRSRC found = ::FindResourceA(m_state->resources, MAKEINTRESOURCEA(id), type.c_str());
    if (found == nullptr)
        return {};
    const HGLOBAL loaded = ::LoadResource(m_state->resources, found);
    const DWORD size = ::SizeofResource(m_state->resources, found);
    const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (data == nullptr)
        return {};
    return std::string(static_cast<const char*>(data), size);
}

std::unique_ptr<Picture> Win32Ui::LoadPicture(const std::string& bytes) {
    return LoadOlePicture(bytes);
}

Size Win32Ui::ScreenPixelsPerInch() const {
    const HDC screen = ::GetDC(nullptr);
    if (screen == nullptr)
        return Size{96, 96};
    const Size ppi{::GetDeviceCaps(screen, LOGPIXELSX), ::GetDeviceCaps(screen, LOGPIXELSY)};
    ::ReleaseDC(nullptr, screen);
    return ppi;
}

Colour Win32Ui::GetSystemColour(SystemColour colour) const {
    return ::GetSysColor(colour == SystemColour::ButtonFace ? COLOR_BTNFACE : COLOR_MENU);
}

std::unique_ptr<MemoryCanvas> Win32Ui::CreateMemoryCanvas(WindowHandle compatibleWith, Size size) {
    return CreateWin32MemoryCanvas(H(compatibleWith), size);
}

std::unique_ptr<WaitableEvent> Win32Ui::CreateManualResetEvent() {
    return CreateWin32Event();
}

void Win32Ui::InvalidateWindow(WindowHandle window, bool erase) {
    ::InvalidateRect(H(window), nullptr, erase ? TRUE : FALSE);
}

WindowHandle Win32Ui::GetItem(WindowHandle dialog, int id) const {
    return ::GetDlgItem(H(dialog), id);
}

bool Win32Ui::SubclassWindow(WindowHandle window, MessageTarget* target) {
    const HWND hwnd = H(window);
    if (!::IsWindow(hwnd))
        return false;
    if (target == nullptr) {
        RestoreProc(hwnd);
        return true;
    }
    if (OriginalProc(hwnd) == nullptr) {
        const auto original = reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(hwnd, GWLP_WNDPROC));
        if (!::SetPropA(hwnd, kSubclassProcProp, reinterpret_cast<HANDLE>(original)))
            return false;
        ::SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProc));
    }
    return ::SetPropA(hwnd, kSubclassTargetProp, target) != 0;
}

std::uint32_t Win32Ui::GetStyle(WindowHandle window) const {
    return static_cast<std::uint32_t>(::GetWindowLongPtrA(H(window), GWL_STYLE));
}

void Win32Ui::AddStyle(WindowHandle window, std::uint32_t bits) {
    const LONG_PTR style = ::GetWindowLongPtrA(H(window), GWL_STYLE);
    ::SetWindowLongPtrA(H(window), GWL_STYLE, style | static_cast<LONG_PTR>(bits));
}

Rect Win32Ui::GetWindowRectInParent(WindowHandle window) const {
    RECT r{};
    ::GetWindowRect(H(window), &r);
    ::MapWindowPoints(nullptr, ::GetParent(H(window)), reinterpret_cast<POINT*>(&r), 2);
    return FromRect(r);
}

Rect Win32Ui::GetClientRectInParent(WindowHandle window) const {
    RECT r{};
    ::GetClientRect(H(window), &r);
    ::MapWindowPoints(H(window), ::GetParent(H(window)), reinterpret_cast<POINT*>(&r), 2);
    return FromRect(r);
}

Point Win32Ui::ScreenToClient(WindowHandle window, Point point) const {
    POINT p{point.x, point.y};
    ::ScreenToClient(H(window), &p);
    return Point{p.x, p.y};
}

std::unique_ptr<Font> Win32Ui::CreateWindowFont(WindowHandle window, bool underline) {
    HGDIOBJ font = reinterpret_cast<HGDIOBJ>(::SendMessageA(H(window), WM_GETFONT, 0, 0));
    if (font == nullptr)
        font = ::GetStockObject(DEFAULT_GUI_FONT);
    if (font == nullptr)
        font = ::GetStockObject(ANSI_VAR_FONT);
    LOGFONTA logFont{};
    if (font == nullptr || ::GetObjectA(font, sizeof logFont, &logFont) == 0)
        return nullptr;
    logFont.lfUnderline = underline ? TRUE : FALSE;
    const HFONT made = ::CreateFontIndirectA(&logFont);
    if (made == nullptr)
        return nullptr;
    return std::make_unique<Win32Font>(made);
}

Size Win32Ui::MeasureText(WindowHandle window, const Font* font, const std::string& text) const {
    const HDC dc = ::GetDC(H(window));
    if (dc == nullptr)
        return Size{};
    const HGDIOBJ old =
        font != nullptr ? ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(font->Native())) : nullptr;
    SIZE extent{};
    ::GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &extent);
    if (old != nullptr)
        ::SelectObject(dc, old);
    ::ReleaseDC(H(window), dc);
    return Size{extent.cx, extent.cy};
}

namespace {

// A tooltip window with one tool: the whole client area of its window.
class Win32Tooltip final : public Ui::Tooltip {
public:
    Win32Tooltip(HWND tip, HWND window) : m_tip(tip), m_window(window) {}
    ~Win32Tooltip() override { ::DestroyWindow(m_tip); }
    Win32Tooltip(const Win32Tooltip&) = delete;
    Win32Tooltip& operator=(const Win32Tooltip&) = delete;

    void SetText(const std::string& text) override {
        m_text = text;
        TTTOOLINFOA tool = Tool();
        ::SendMessageA(m_tip, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
    }

    void Relay(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override {
        MSG msg{};
        msg.hwnd = m_window;
        msg.message = message;
        msg.wParam = wParam;
        msg.lParam = lParam;
        msg.time = ::GetMessageTime();
        const DWORD pos = ::GetMessagePos();
        msg.pt = POINT{static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
        ::SendMessageA(m_tip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
    }

    bool Add(const std::string& text) {
        m_text = text;
        TTTOOLINFOA tool = Tool();
        ::GetClientRect(m_window, &tool.rect);
        return ::SendMessageA(m_tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool)) != 0;
    }

private:
    TTTOOLINFOA Tool() {
        TTTOOLINFOA tool{};
        // The size of the record the oldest common controls know, which
        // every version accepts.
        tool.cbSize = TTTOOLINFOA_V1_SIZE;
        tool.hwnd = m_window;
        tool.uId = 1;
        tool.lpszText = m_text.data();
        return tool;
    }

    HWND m_tip;
    HWND m_window;
    std::string m_text;
};

} // namespace

std::unique_ptr<Ui::Tooltip> Win32Ui::CreateTooltip(WindowHandle window, const std::string& text) {
    const HWND tip = ::CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                       CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                       H(window), nullptr, m_state->instance, nullptr);
    if (tip == nullptr)
        return nullptr;
    auto tooltip = std::make_unique<Win32Tooltip>(tip, H(window));
    if (!tooltip->Add(text))
        return nullptr;
    return tooltip;
}

CursorHandle Win32Ui::LoadProgramCursor(const std::string& program, int id) {
    char folder[MAX_PATH] = {};
    const UINT length = ::GetWindowsDirectoryA(folder, sizeof folder);
    if (length == 0 || length >= sizeof folder)
        return nullptr;
    const std::string path = std::string(folder) + "\\" + program;
    const HMODULE module = ::LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr)
        return nullptr;
    HCURSOR copy = nullptr;
    if (const HCURSOR cursor = ::LoadCursorA(module, MAKEINTRESOURCEA(id)))
        copy = reinterpret_cast<HCURSOR>(::CopyIcon(reinterpret_cast<HICON>(cursor)));
    ::FreeLibrary(module);
    return copy;
}

void Win32Ui::DestroyCursor(CursorHandle cursor) {
    if (cursor != nullptr)
        ::DestroyCursor(static_cast<HCURSOR>(cursor));
}

bool Win32Ui::ReadClassesRootDefault(const std::string& key, std::string& value) const {
    char data[MAX_PATH * 2] = {};
    LONG size = sizeof data;
    if (::RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), data, &size) != ERROR_SUCCESS)
        return false;
    value = data;
    return true;
}

int Win32Ui::ShellOpenWithResult(const std::string& file) {
    const HINSTANCE result =
        ::ShellExecuteA(nullptr, "open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return static_cast<int>(reinterpret_cast<INT_PTR>(result));
}

int Win32Ui::RunCommandLine(const std::string& commandLine) {
    return static_cast<int>(::WinExec(commandLine.c_str(), SW_SHOWNORMAL));
}

void Win32Ui::MessageBeep(unsigned type) {
    ::MessageBeep(type);
}

std::string Win32Ui::GetItemClassName(WindowHandle dialog, int id) const {
    const HWND control = ::GetDlgItem(H(dialog), id);
    if (control == nullptr)
        return {};
    char name[256] = {};
    ::GetClassNameA(control, name, sizeof name);
    return name;
}

void* Win32Ui::GetWindowMenu(WindowHandle window) const {
    return ::GetMenu(H(window));
}

std::vector<Win32Ui::ControlView> Win32Ui::GetDialogControls(WindowHandle dialog) const {
    std::vector<ControlView> controls;
    // The dialog manager creates the controls in template order, each at
    // the bottom of the z-order: the child list is the template's order.
    for (HWND child = ::GetWindow(H(dialog), GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        ControlView view;
        view.id = static_cast<int>(::GetWindowLongPtrA(child, GWLP_ID));
        char name[256] = {};
        ::GetClassNameA(child, name, sizeof name);
        view.className = name;
        view.style = static_cast<std::uint32_t>(::GetWindowLongPtrA(child, GWL_STYLE));
        view.exStyle = static_cast<std::uint32_t>(::GetWindowLongPtrA(child, GWL_EXSTYLE));
        view.text = TextOf(child);
        RECT r{};
        ::GetWindowRect(child, &r);
        ::MapWindowPoints(nullptr, H(dialog), reinterpret_cast<POINT*>(&r), 2);
        view.rect = FromRect(r);
        controls.push_back(std::move(view));
    }
    return controls;
}

Rect Win32Ui::MapDialogUnits(WindowHandle dialog, const Rect& units) const {
    RECT r = ToRect(units);
    ::MapDialogRect(H(dialog), &r);
    return FromRect(r);
}

// --- Start-up ---------------------------------------------------------------------

namespace {

// OLE on this thread from OleInitialize (which also answers S_FALSE when
// the thread had it already: that call too is balanced) to its end.
class OleHosting final : public ControlHosting {
public:
    OleHosting() = default;
    ~OleHosting() override { ::OleUninitialize(); }
    OleHosting(const OleHosting&) = delete;
    OleHosting& operator=(const OleHosting&) = delete;
};

} // namespace

bool Win32Ui::InitCommonControls() {
    // The classes a dialog program of this kind uses (progress, tooltips,
    // list views and their kin); the plain dialog controls need nothing.
    INITCOMMONCONTROLSEX init{};
    init.dwSize = sizeof init;
    init.dwICC = ICC_WIN95_CLASSES;
    return ::InitCommonControlsEx(&init) != FALSE;
}

std::unique_ptr<ControlHosting> Win32Ui::EnableControlHosting() {
    if (FAILED(::OleInitialize(nullptr)))
        return nullptr;
    return std::make_unique<OleHosting>();
}

bool Win32Ui::ThreadHostsControls() {
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    if (FAILED(::CoGetApartmentType(&type, &qualifier)))
        return false;
    return type == APTTYPE_STA || type == APTTYPE_MAINSTA;
}

// --- Windows ----------------------------------------------------------------------

WindowHandle Win32Ui::CreatePopupWindow(const WindowSpec& spec, MessageTarget* target) {
    if (m_state->registeredClasses.count(spec.className) == 0) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = m_state->instance;
        wc.hCursor = spec.arrowCursor ? ::LoadCursorA(nullptr, IDC_ARROW) : nullptr;
        wc.hbrBackground =
            spec.windowBackground ? reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1) : nullptr;
        wc.lpszClassName = spec.className.c_str();
        if (::RegisterClassA(&wc) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            return nullptr;
        m_state->registeredClasses.insert(spec.className);
    }
    const DWORD style = WS_POPUP | (spec.visible ? WS_VISIBLE : 0);
    return ::CreateWindowExA(spec.exStyle, spec.className.c_str(), spec.title.c_str(), style,
                             spec.rect.left, spec.rect.top, spec.rect.Width(), spec.rect.Height(),
                             H(spec.owner), nullptr, m_state->instance, target);
}

void Win32Ui::DestroyWindow(WindowHandle window) {
    if (window != nullptr)
        ::DestroyWindow(H(window));
}

void Win32Ui::ShowWindow(WindowHandle window, ShowCommand command) {
    int show = SW_SHOWNORMAL;
    switch (command) {
    case ShowCommand::Hide:
        show = SW_HIDE;
        break;
    case ShowCommand::Normal:
        show = SW_SHOWNORMAL;
        break;
    case ShowCommand::Show:
        show = SW_SHOW;
        break;
    case ShowCommand::NoActivate:
        show = SW_SHOWNOACTIVATE;
        break;
    case ShowCommand::Default:
        show = SW_SHOWDEFAULT;
        break;
    }
    if (DialogRun* run = m_state->FindDialog(H(window)); run != nullptr && run->inInit)
        run->hiddenDuringInit = command == ShowCommand::Hide;
    ::ShowWindow(H(window), show);
}

bool Win32Ui::IsWindowVisible(WindowHandle window) const {
    return ::IsWindowVisible(H(window)) != 0;
}

bool Win32Ui::IsIconic(WindowHandle window) const {
    return ::IsIconic(H(window)) != 0;
}

void Win32Ui::SetWindowPos(WindowHandle window, int x, int y, int cx, int cy, unsigned flags) {
    ::SetWindowPos(H(window), nullptr, x, y, cx, cy, flags);
}

void Win32Ui::MoveWindow(WindowHandle window, const Rect& rect, bool repaint) {
    ::MoveWindow(H(window), rect.left, rect.top, rect.Width(), rect.Height(),
                 repaint ? TRUE : FALSE);
}

Rect Win32Ui::GetWindowRect(WindowHandle window) const {
    RECT r{};
    ::GetWindowRect(H(window), &r);
    return FromRect(r);
}

Rect Win32Ui::GetClientRect(WindowHandle window) const {
    RECT r{};
    ::GetClientRect(H(window), &r);
    return FromRect(r);
}

void Win32Ui::RedrawNow(WindowHandle window) {
    ::RedrawWindow(H(window), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

std::string Win32Ui::GetWindowText(WindowHandle window) const {
    return TextOf(H(window));
}

void Win32Ui::SetWindowText(WindowHandle window, const std::string& text) {
    ::SetWindowTextA(H(window), text.c_str());
}

WindowHandle Win32Ui::FindTopLevelWindow(const std::string& title) const {
    return ::FindWindowA(nullptr, title.c_str());
}

void Win32Ui::SetForegroundWindow(WindowHandle window) {
    ::SetForegroundWindow(H(window));
}

void Win32Ui::BringWindowToTop(WindowHandle window) {
    ::BringWindowToTop(H(window));
}

void Win32Ui::SetSmallIcon(WindowHandle window, IconHandle icon) {
    ::SendMessageA(H(window), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

WindowHandle Win32Ui::FindWindowOfClass(const std::string& className) const {
    return ::FindWindowA(className.c_str(), nullptr);
}

std::uint32_t Win32Ui::GetExStyle(WindowHandle window) const {
    return static_cast<std::uint32_t>(::GetWindowLongPtrA(H(window), GWL_EXSTYLE));
}

WindowHandle Win32Ui::GetOwner(WindowHandle window) const {
    return ::GetWindow(H(window), GW_OWNER);
}

void Win32Ui::SetFocus(WindowHandle window) {
    ::SetFocus(H(window));
}

namespace {

using UpdateLayeredWindowFunction = BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF,
                                                  BLENDFUNCTION*, DWORD);

// Looked up by name once: the function is missing before Windows 2000, and
// the program must still start there.
UpdateLayeredWindowFunction LookUpUpdateLayeredWindow() {
    static const UpdateLayeredWindowFunction function = [] {
        const HMODULE user32 = ::GetModuleHandleA("user32.dll");
        const FARPROC proc =
            user32 != nullptr ? ::GetProcAddress(user32, "UpdateLayeredWindow") : nullptr;
        // The detour through void(*)() keeps GCC's function cast check quiet.
        return reinterpret_cast<UpdateLayeredWindowFunction>(reinterpret_cast<void (*)()>(proc));
    }();
    return function;
}

// The screen's device context while it lives.
class ScreenDc {
public:
    ScreenDc() : m_dc(::GetDC(nullptr)) {}
    ~ScreenDc() {
        if (m_dc != nullptr)
            ::ReleaseDC(nullptr, m_dc);
    }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    HDC Get() const { return m_dc; }

private:
    HDC m_dc;
};

bool UpdateLayered(Ui&, WindowHandle window, const LayeredUpdate& update) {
    const UpdateLayeredWindowFunction updateLayeredWindow = LookUpUpdateLayeredWindow();
    if (updateLayeredWindow == nullptr)
        return false;
    BLENDFUNCTION blend{update.blend.blendOp, update.blend.blendFlags,
                        update.blend.sourceConstantAlpha, update.blend.alphaFormat};
    if (update.snapshot == nullptr)
        return updateLayeredWindow(H(window), nullptr, nullptr, nullptr, nullptr, nullptr, 0,
                                   &blend, ULW_ALPHA) != FALSE;
    // The picture is taken from the screen where the faded window stands:
    // what the user sees of it, frame and caption included.
    const ScreenDc screen;
    if (screen.Get() == nullptr)
        return false;
    SIZE size{update.snapshot->Width(), update.snapshot->Height()};
    POINT source{update.snapshot->left, update.snapshot->top};
    return updateLayeredWindow(H(window), nullptr, nullptr, &size, screen.Get(), &source, 0, &blend,
                               ULW_ALPHA) != FALSE;
}

} // namespace

UpdateLayeredFunction Win32Ui::FindUpdateLayeredWindow() {
    return LookUpUpdateLayeredWindow() != nullptr ? &UpdateLayered : nullptr;
}

void Win32Ui::PostMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                          std::intptr_t lParam) {
    ::PostMessageA(H(window), message, wParam, lParam);
}

std::intptr_t Win32Ui::SendMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                                   std::intptr_t lParam) {
    return ::SendMessageA(H(window), message, wParam, lParam);
}

std::intptr_t Win32Ui::DefaultHandling(WindowHandle window, unsigned message, std::uintptr_t wParam,
                                       std::intptr_t lParam) {
    const HWND hwnd = H(window);
    if (const WNDPROC original = OriginalProc(hwnd))
        return ::CallWindowProcA(original, hwnd, message, wParam, lParam);
    char className[16] = {};
    ::GetClassNameA(hwnd, className, sizeof className);
    if (m_state->FindDialog(hwnd) == nullptr && std::strcmp(className, "#32770") != 0)
        return ::DefWindowProcA(hwnd, message, wParam, lParam);
    // A dialog: calling the dialog manager's procedure from inside the
    // dialog's own handler would run the handler again, so its answers are
    // given here for the messages where they differ from DefWindowProc.
    switch (message) {
    case WM_CREATE:
    case WM_DESTROY:
    case WM_NCDESTROY:
        return 0;
    case WM_INITDIALOG:
        return TRUE;
    case WM_CLOSE:
        // The dialog manager turns the close box into the cancel command.
        ::PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(hwnd, IDCANCEL)));
        return 0;
    case WM_ERASEBKGND: {
        const HDC dc = reinterpret_cast<HDC>(wParam);
        HBRUSH brush = reinterpret_cast<HBRUSH>(
            ::SendMessageA(hwnd, WM_CTLCOLORDLG, wParam, reinterpret_cast<LPARAM>(hwnd)));
        if (brush == nullptr)
            brush = ::GetSysColorBrush(COLOR_3DFACE);
        RECT r{};
        ::GetClientRect(hwnd, &r);
        ::FillRect(dc, &r, brush);
        return TRUE;
    }
    default:
        return ::DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

void Win32Ui::SetMainWindow(WindowHandle window) {
    m_state->mainWindow = H(window);
}

WindowHandle Win32Ui::GetMainWindow() const {
    return m_state->mainWindow;
}

void Win32Ui::SetTimer(WindowHandle window, unsigned id, unsigned periodMs) {
    ::SetTimer(H(window), id, periodMs, nullptr);
}

void Win32Ui::KillTimer(WindowHandle window, unsigned id) {
    ::KillTimer(H(window), id);
}

// --- Dialogs ------------------------------------------------------------------------

int Win32Ui::RunModalDialog(int templateId, MessageTarget* target, WindowHandle owner) {
    DialogRun run;
    run.state = m_state.get();
    run.target = target;
    run.templateId = templateId;
    const HWND ownerWindow = H(owner);
    // A modal dialog keeps its owner disabled while it runs.
    if (ownerWindow != nullptr && ::IsWindowEnabled(ownerWindow)) {
        ::EnableWindow(ownerWindow, FALSE);
        run.disabledOwner = ownerWindow;
    }
    struct Registration {
        State& state;
        DialogRun& run;
        ~Registration() {
            if (run.hwnd != nullptr)
                state.dialogs.erase(run.hwnd);
            if (run.disabledOwner != nullptr)
                ::EnableWindow(run.disabledOwner, TRUE);
        }
    } registration{*m_state, run};

    const HWND dialog =
        ::CreateDialogParamA(m_state->resources, MAKEINTRESOURCEA(templateId), ownerWindow,
                             DialogProc, reinterpret_cast<LPARAM>(&run));
    if (dialog == nullptr)
        return -1;
    if (!run.ended && !run.hiddenDuringInit)
        ::ShowWindow(dialog, SW_SHOWNORMAL);

    MSG msg;
    while (!run.ended) {
        const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            // WM_QUIT: end this run and leave the request for the outer loop.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got == -1)
            break;
        if (::IsWindow(dialog) && ::IsDialogMessageA(dialog, &msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    const int result = run.ended ? run.result : -1;
    if (run.disabledOwner != nullptr) {
        // Before the dialog goes, so that activation returns to the owner.
        ::EnableWindow(run.disabledOwner, TRUE);
        run.disabledOwner = nullptr;
    }
    if (::IsWindow(dialog))
        ::DestroyWindow(dialog);
    return result;
}

void Win32Ui::EndDialog(WindowHandle dialog, int result) {
    DialogRun* run = m_state->FindDialog(H(dialog));
    if (run == nullptr || run->ended)
        return;
    run->ended = true;
    run->result = result;
    if (run->disabledOwner != nullptr) {
        ::EnableWindow(run->disabledOwner, TRUE);
        run->disabledOwner = nullptr;
    }
    ::ShowWindow(H(dialog), SW_HIDE);
    // Wakes the loop when the end was decided outside one of its messages
    // (in a nested loop).
    ::PostMessageA(H(dialog), WM_NULL, 0, 0);
}

// --- Controls ---------------------------------------------------------------------

void Win32Ui::CheckItem(WindowHandle dialog, int id, bool checked) {
    ::CheckDlgButton(H(dialog), id, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool Win32Ui::IsItemChecked(WindowHandle dialog, int id) const {
    return ::IsDlgButtonChecked(H(dialog), id) == BST_CHECKED;
}

void Win32Ui::SetItemText(WindowHandle dialog, int id, const std::string& text) {
    ::SetDlgItemTextA(H(dialog), id, text.c_str());
}

std::string Win32Ui::GetItemText(WindowHandle dialog, int id) const {
    return TextOf(::GetDlgItem(H(dialog), id));
}

void Win32Ui::EnableItem(WindowHandle dialog, int id, bool enable) {
    if (const HWND control = ::GetDlgItem(H(dialog), id); control != nullptr)
        ::EnableWindow(control, enable ? TRUE : FALSE);
}

bool Win32Ui::IsItemEnabled(WindowHandle dialog, int id) const {
    const HWND control = ::GetDlgItem(H(dialog), id);
    return control != nullptr && ::IsWindowEnabled(control) != 0;
}

int Win32Ui::ListAddString(WindowHandle dialog, int id, const std::string& text) {
    return static_cast<int>(ListMessage(::GetDlgItem(H(dialog), id), LB_ADDSTRING, CB_ADDSTRING, 0,
                                        reinterpret_cast<LPARAM>(text.c_str())));
}

void Win32Ui::ListDeleteString(WindowHandle dialog, int id, int index) {
    ListMessage(::GetDlgItem(H(dialog), id), LB_DELETESTRING, CB_DELETESTRING,
                static_cast<WPARAM>(index), 0);
}

void Win32Ui::ListResetContent(WindowHandle dialog, int id) {
    ListMessage(::GetDlgItem(H(dialog), id), LB_RESETCONTENT, CB_RESETCONTENT, 0, 0);
}

int Win32Ui::ListGetCount(WindowHandle dialog, int id) const {
    const LRESULT count = ListMessage(::GetDlgItem(H(dialog), id), LB_GETCOUNT, CB_GETCOUNT, 0, 0);
    return count < 0 ? 0 : static_cast<int>(count);
}

std::string Win32Ui::ListGetText(WindowHandle dialog, int id, int index) const {
    const HWND control = ::GetDlgItem(H(dialog), id);
    const LRESULT length =
        ListMessage(control, LB_GETTEXTLEN, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const LRESULT copied =
        ListMessage(control, LB_GETTEXT, CB_GETLBTEXT, static_cast<WPARAM>(index),
                    reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied < 0 ? 0 : static_cast<std::size_t>(copied));
    return text;
}

int Win32Ui::ListFindPrefix(WindowHandle dialog, int id, int start, const std::string& text) const {
    return static_cast<int>(ListMessage(::GetDlgItem(H(dialog), id), LB_FINDSTRING, CB_FINDSTRING,
                                        static_cast<WPARAM>(start),
                                        reinterpret_cast<LPARAM>(text.c_str())));
}

int Win32Ui::ListGetCurSel(WindowHandle dialog, int id) const {
    return static_cast<int>(
        ListMessage(::GetDlgItem(H(dialog), id), LB_GETCURSEL, CB_GETCURSEL, 0, 0));
}

void Win32Ui::ListSetCurSel(WindowHandle dialog, int id, int index) {
    ListMessage(::GetDlgItem(H(dialog), id), LB_SETCURSEL, CB_SETCURSEL, static_cast<WPARAM>(index),
                0);
}

// --- Menus ---------------------------------------------------------------------------

void Win32Ui::SetWindowMenu(WindowHandle window, int menuId) {
    const HWND hwnd = H(window);
    const HMENU menu = ::LoadMenuA(m_state->resources, MAKEINTRESOURCEA(menuId));
    const HMENU old = ::GetMenu(hwnd);
    RECT before{};
    ::GetClientRect(hwnd, &before);
    // The window destroys the menu it holds when it is destroyed itself.
    ::SetMenu(hwnd, menu);
    if (old != nullptr && old != menu)
        ::DestroyMenu(old);
    // A template laid out without a menu keeps its client area: the window
    // grows by the height of the menu bar.
    RECT after{};
    ::GetClientRect(hwnd, &after);
    const int grow = (before.bottom - before.top) - (after.bottom - after.top);
    if (grow != 0) {
        RECT frame{};
        ::GetWindowRect(hwnd, &frame);
        ::SetWindowPos(hwnd, nullptr, 0, 0, frame.right - frame.left,
                       frame.bottom - frame.top + grow, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void Win32Ui::AppendSystemMenuItem(WindowHandle window, unsigned command, const std::string& text) {
    const HMENU system = ::GetSystemMenu(H(window), FALSE);
    if (system == nullptr)
        return;
    ::AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuA(system, MF_STRING, command, text.c_str());
}

std::unique_ptr<Menu> Win32Ui::LoadPopupMenu(int menuId) {
    const HMENU menu = ::LoadMenuA(m_state->resources, MAKEINTRESOURCEA(menuId));
    if (menu == nullptr)
        return nullptr;
    const HMENU popup = ::GetSubMenu(menu, 0);
    if (popup == nullptr) {
        ::DestroyMenu(menu);
        return nullptr;
    }
    return std::make_unique<Win32Menu>(menu, popup);
}

// --- Resources -------------------------------------------------------------------------

std::string Win32Ui::LoadString(int id) const {
    if (m_state->resources == nullptr)
        return {};
    // A string table entry holds at most 4097 characters.
    std::vector<char> buffer(4100);
    const int length = ::LoadStringA(m_state->resources, static_cast<UINT>(id), buffer.data(),
                                     static_cast<int>(buffer.size()));
    return std::string(buffer.data(), static_cast<std::size_t>(std::max(length, 0)));
}

IconHandle Win32Ui::LoadIcon(int id) {
    if (m_state->resources == nullptr)
        return nullptr;
    return ::LoadImageA(m_state->resources, MAKEINTRESOURCEA(id), IMAGE_ICON, 0, 0,
                        LR_DEFAULTSIZE | LR_SHARED);
}

std::unique_ptr<Bitmap> Win32Ui::LoadBitmap(int id) {
    if (m_state->resources == nullptr)
        return nullptr;
    const auto bitmap = static_cast<HBITMAP>(
        ::LoadImageA(m_state->resources, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, 0));
    if (bitmap == nullptr)
        return nullptr;
    return std::make_unique<Win32Bitmap>(bitmap);
}

CursorHandle Win32Ui::LoadSystemCursor(SystemCursor cursor) {
    switch (cursor) {
    case SystemCursor::Hand:
        return ::LoadCursorA(nullptr, IDC_HAND);
    case SystemCursor::Wait:
        return ::LoadCursorA(nullptr, IDC_WAIT);
    case SystemCursor::Arrow:
        break;
    }
    return ::LoadCursorA(nullptr, IDC_ARROW);
}

std::unique_ptr<Font> Win32Ui::CreateFont(const FontSpec& spec) {
    LOGFONTA logFont{};
    const HDC screen = ::GetDC(nullptr);
    const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr)
        ::ReleaseDC(nullptr, screen);
    logFont.lfHeight = -::MulDiv(spec.pointTenths, dpi, 720);
    logFont.lfWeight = spec.weight;
    logFont.lfItalic = spec.italic ? TRUE : FALSE;
    logFont.lfUnderline = spec.underline ? TRUE : FALSE;
    logFont.lfCharSet = DEFAULT_CHARSET;
    const std::size_t faceLength = std::min(spec.face.size(), sizeof logFont.lfFaceName - 1);
    std::memcpy(logFont.lfFaceName, spec.face.data(), faceLength);
    const HFONT font = ::CreateFontIndirectA(&logFont);
    if (font == nullptr)
        return nullptr;
    return std::make_unique<Win32Font>(font);
}

std::unique_ptr<Brush> Win32Ui::CreateSolidBrush(Colour colour) {
    const HBRUSH brush = ::CreateSolidBrush(colour);
    if (brush == nullptr)
        return nullptr;
    return std::make_unique<Win32Brush>(brush);
}

// --- Painting --------------------------------------------------------------------------

std::unique_ptr<Canvas> Win32Ui::BeginPaint(WindowHandle window) {
    return std::make_unique<Win32Canvas>(H(window));
}

std::unique_ptr<Canvas> Win32Ui::CanvasFor(std::uintptr_t deviceContext) {
    return std::make_unique<Win32Canvas>(reinterpret_cast<HDC>(deviceContext));
}

// --- Pointer and screen -----------------------------------------------------------------

Point Win32Ui::GetCursorPos() const {
    POINT p{};
    ::GetCursorPos(&p);
    return Point{p.x, p.y};
}

void Win32Ui::SetCursor(CursorHandle cursor) {
    ::SetCursor(static_cast<HCURSOR>(cursor));
}

void Win32Ui::TrackMouse(WindowHandle window, unsigned hoverMs) {
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof track;
    track.dwFlags = TME_HOVER | TME_LEAVE;
    track.hwndTrack = H(window);
    track.dwHoverTime = hoverMs;
    ::TrackMouseEvent(&track);
}

Rect Win32Ui::GetWorkArea() const {
    RECT r{};
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &r, 0);
    return FromRect(r);
}

Size Win32Ui::GetScreenSize() const {
    return Size{::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
}

// --- Notification area -------------------------------------------------------------------

int Win32Ui::ShellMajorVersion() const {
    const HMODULE shell = ::GetModuleHandleA("shell32.dll");
    const FARPROC proc = shell != nullptr ? ::GetProcAddress(shell, "DllGetVersion") : nullptr;
    // Through the generic function pointer type, as GetProcAddress results go.
    const auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(reinterpret_cast<void (*)()>(proc));
    // Shells before 4.71 had no DllGetVersion but did have the notification
    // area.
    if (getVersion == nullptr)
        return 4;
    DLLVERSIONINFO info{};
    info.cbSize = sizeof info;
    if (FAILED(getVersion(&info)))
        return 4;
    return static_cast<int>(info.dwMajorVersion);
}

// The generations of the record by their 32-bit sizes: the shell of
// Windows 2000 (128-byte tip, balloon fields), of XP (the item's GUID), and
// of Vista on (the balloon icon, the whole record as declared here).
static_assert(sizeof(NOTIFYICONDATAA) == NOTIFYICONDATAA_V3_SIZE + sizeof(HICON),
              "the record is declared in its newest form");
static_assert(sizeof(void*) != 4 ||
                  (NOTIFYICONDATAA_V2_SIZE == 488 && NOTIFYICONDATAA_V3_SIZE == 504 &&
                   sizeof(NOTIFYICONDATAA) == 508),
              "32-bit sizes of the three generations");

std::uint32_t Win32Ui::NotifyIconRecordSize(std::uint32_t size32) {
    switch (size32) {
    case 488:
        return NOTIFYICONDATAA_V2_SIZE;
    case 504:
        return NOTIFYICONDATAA_V3_SIZE;
    case 508:
        return sizeof(NOTIFYICONDATAA);
    default:
        return 0;
    }
}

bool Win32Ui::NotifyIcon(NotifyIconAction action, const NotifyIconData& data) {
    // The caller's size is that of the 32-bit record of the generation it
    // fills; the shell is told this platform's size of that generation. The
    // record below is the whole newest one, zeroed, so every generation's
    // fields lie inside it. A size of no known generation with a 128-byte
    // tip would make the shell misread the record: refused.
    const std::uint32_t size = NotifyIconRecordSize(data.cbSize);
    if (size == 0)
        return false;
    NOTIFYICONDATAA record{};
    record.cbSize = size;
    record.hWnd = H(data.hWnd);
    record.uID = data.uID;
    record.uFlags = data.uFlags;
    record.uCallbackMessage = data.uCallbackMessage;
    record.hIcon = static_cast<HICON>(data.hIcon);
    static_assert(sizeof record.szTip == sizeof data.szTip);
    const std::size_t tipLength = ::strnlen(data.szTip, sizeof data.szTip - 1);
    std::memcpy(record.szTip, data.szTip, tipLength);
    record.szTip[tipLength] = '\0';
    DWORD command = NIM_ADD;
    if (action == NotifyIconAction::Modify)
        command = NIM_MODIFY;
    else if (action == NotifyIconAction::Delete)
        command = NIM_DELETE;
    return ::Shell_NotifyIconA(command, &record) != 0;
}

// --- Message boxes, shell, sound, process ------------------------------------------------

int Win32Ui::MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                        unsigned type) {
    return ::MessageBoxA(H(owner), text.c_str(), caption.c_str(), type);
}

bool Win32Ui::ShellOpen(const std::string& file, const std::string& parameters,
                        const std::string& folder) {
    const HINSTANCE outcome = ::ShellExecuteA(
        nullptr, "open", file.c_str(), parameters.empty() ? nullptr : parameters.c_str(),
        folder.empty() ? nullptr : folder.c_str(), SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(outcome) > 32;
}

void Win32Ui::PlaySound(const std::string& name) {
    ::PlaySoundA(name.c_str(), nullptr, 0);
}

std::string Win32Ui::ChooseFileToOpen(WindowHandle owner, const std::string& filter,
                                      const std::string& initialFolder) {
    // Room for a long path; the dialog fails rather than truncates.
    std::string path(32768, '\0');
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = static_cast<HWND>(owner);
    ofn.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path.data();
    ofn.nMaxFile = static_cast<DWORD>(path.size());
    ofn.lpstrInitialDir = initialFolder.empty() ? nullptr : initialFolder.c_str();
    ofn.Flags = OFN_EXPLORER;
    if (!::GetOpenFileNameA(&ofn))
        return std::string();
    path.resize(std::char_traits<char>::length(path.c_str()));
    return path;
}

void Win32Ui::ExitProcess(int code) {
    ::ExitProcess(static_cast<UINT>(code));
}

} // namespace port::win32
