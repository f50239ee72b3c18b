// Port: the window system as the program uses it.
//
// Windows, dialogs, controls addressed by id, window timers, menus, the
// notification-area icon, painting, message boxes, the shell's "open",
// synchronous sound and the program's resources. Message numbers, flag
// values and command numbers are the Windows ones, so the Win32 half passes
// them through unchanged and the headless half (platform/headless/HeadlessUi)
// gives them the same meaning: one piece of program logic runs on both.
//
// Everything here is used from the user-interface thread only, except
// PostMessage, which any thread may call.
#pragma once

#include "platform/NotifyWindow.h" // port::WindowHandle

#include <cstdint>
#include <memory>
#include <string>

namespace port {

// --- Geometry and colour ----------------------------------------------------

struct Point {
    int x = 0;
    int y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct Size {
    int cx = 0;
    int cy = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

// 0x00BBGGRR, as the Windows COLORREF.
using Colour = std::uint32_t;
constexpr Colour Rgb(unsigned r, unsigned g, unsigned b) {
    return (r & 0xFFu) | ((g & 0xFFu) << 8) | ((b & 0xFFu) << 16);
}

// --- Messages (Windows numbers) ----------------------------------------------

inline constexpr unsigned kWmNull = 0x0000;
inline constexpr unsigned kWmCreate = 0x0001;
inline constexpr unsigned kWmDestroy = 0x0002;
inline constexpr unsigned kWmSetFocus = 0x0007;
inline constexpr unsigned kWmPaint = 0x000F;
inline constexpr unsigned kWmClose = 0x0010;
inline constexpr unsigned kWmEraseBkgnd = 0x0014;
inline constexpr unsigned kWmSetCursor = 0x0020;
inline constexpr unsigned kWmQueryDragIcon = 0x0037;
inline constexpr unsigned kWmNcLButtonDown = 0x00A1;
inline constexpr unsigned kWmInitDialog = 0x0110;
inline constexpr unsigned kWmCommand = 0x0111;
inline constexpr unsigned kWmSysCommand = 0x0112;
inline constexpr unsigned kWmTimer = 0x0113;
inline constexpr unsigned kWmCtlColorBtn = 0x0135;
inline constexpr unsigned kWmCtlColorDlg = 0x0136;
inline constexpr unsigned kWmCtlColorStatic = 0x0138;
inline constexpr unsigned kWmMouseMove = 0x0200;
inline constexpr unsigned kWmLButtonDown = 0x0201;
inline constexpr unsigned kWmLButtonUp = 0x0202;
inline constexpr unsigned kWmLButtonDblClk = 0x0203;
inline constexpr unsigned kWmRButtonUp = 0x0205;
inline constexpr unsigned kWmMouseHover = 0x02A1;
inline constexpr unsigned kWmMouseLeave = 0x02A3;
inline constexpr unsigned kWmUser = 0x0400;

// Hit-test codes (low word of kWmSetCursor's lParam; wParam of
// kWmNcLButtonDown).
inline constexpr unsigned kHtClient = 1;
inline constexpr unsigned kHtCaption = 2;

// Standard dialog command numbers (also the answers of message boxes).
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// Notification code of a list box or combo box selection change
// (high word of kWmCommand's wParam).
inline constexpr unsigned kSelChange = 1;
inline constexpr unsigned kListDblClk = 2; // list box only

// Packs and unpacks kWmCommand's wParam: command in the low word, the
// notification code in the high word.
constexpr std::uintptr_t MakeCommandParam(unsigned id, unsigned code = 0) {
    return (static_cast<std::uintptr_t>(code & 0xFFFFu) << 16) | (id & 0xFFFFu);
}
constexpr unsigned LowWord(std::uintptr_t v) {
    return static_cast<unsigned>(v & 0xFFFFu);
}
constexpr unsigned HighWord(std::uintptr_t v) {
    return static_cast<unsigned>((v >> 16) & 0xFFFFu);
}

// --- Show states, window positions, text drawing, message boxes ------------

enum class ShowCommand {
    Hide,       // SW_HIDE
    Normal,     // SW_SHOWNORMAL: shown, activated, restored
    Show,       // SW_SHOW: shown and activated in its current size
    NoActivate, // SW_SHOWNOACTIVATE / SW_SHOWNA: shown, not activated
    Default,    // SW_SHOWDEFAULT
};

// Extended window styles (WS_EX_*) of windows the program creates.
inline constexpr std::uint32_t kWsExTopmost = 0x00000008;
inline constexpr std::uint32_t kWsExTransparent = 0x00000020; // the mouse passes through
inline constexpr std::uint32_t kWsExToolWindow = 0x00000080;  // no taskbar button
inline constexpr std::uint32_t kWsExLayered = 0x00080000;

inline constexpr unsigned kSwpNoSize = 0x0001;
inline constexpr unsigned kSwpNoMove = 0x0002;
inline constexpr unsigned kSwpNoZOrder = 0x0004;
inline constexpr unsigned kSwpNoActivate = 0x0010;

inline constexpr unsigned kDtCenter = 0x0001;
inline constexpr unsigned kDtVCenter = 0x0004;
inline constexpr unsigned kDtWordBreak = 0x0010;
inline constexpr unsigned kDtEndEllipsis = 0x8000;

inline constexpr unsigned kMbOk = 0x0000;
inline constexpr unsigned kMbYesNo = 0x0004;
inline constexpr unsigned kMbIconExclamation = 0x0030;
inline constexpr unsigned kMbIconInformation = 0x0040;

// --- Resources and drawing objects -------------------------------------------

// Icons and cursors loaded from resources are shared and never destroyed.
using IconHandle = void*;
using CursorHandle = void*;

enum class SystemCursor { Arrow, Hand, Wait };

// A drawing object (bitmap, font, brush); destroyed with its owner.
class GdiObject {
public:
    virtual ~GdiObject() = default;
    // The platform's handle (HBITMAP, HFONT, HBRUSH), for answers to
    // messages such as kWmCtlColorDlg. Opaque elsewhere.
    virtual std::intptr_t Native() const = 0;
};

class Bitmap : public GdiObject {
public:
    virtual Size GetSize() const = 0;
};

class Font : public GdiObject {};
class Brush : public GdiObject {};

struct FontSpec {
    std::string face;
    int pointTenths = 0; // 85 = 8.5 points, converted for the screen
    int weight = 400;
    bool italic = false;
    bool underline = false;
};

class MemoryCanvas;

// A surface to paint on: the window's during kWmPaint (ended when the
// canvas is destroyed), or the device context handed over by
// kWmEraseBkgnd / kWmCtlColor*.
class Canvas {
public:
    virtual ~Canvas() = default;
    virtual void FillRect(const Rect& rect, Colour colour) = 0;
    // Copies the whole bitmap at its own size to (x, y).
    virtual void DrawBitmap(const Bitmap& bitmap, int x, int y) = 0;
    virtual void DrawIcon(IconHandle icon, int x, int y) = 0;
    virtual void SetFont(const Font* font) = 0;
    virtual void SetTextColour(Colour colour) = 0;
    virtual void SetTransparentBackground() = 0;
    // The platform's text drawing with kDt* flags.
    virtual void DrawText(const std::string& text, const Rect& rect, unsigned flags) = 0;
    // Copies source (in the memory canvas) to at.
    virtual void DrawMemoryCanvas(const MemoryCanvas& canvas, const Rect& source, Point at) = 0;
};

// A decoded picture of the platform's picture loader.
class Picture {
public:
    virtual ~Picture() = default;
    // The size the loader reports, in hundredths of a millimetre.
    virtual Size HimetricSize() const = 0;
};

// An off-screen surface of a fixed size (a memory device context with its
// bitmap), compatible with a window's. One thread at a time may use it.
class MemoryCanvas {
public:
    virtual ~MemoryCanvas() = default;
    virtual Size GetSize() const = 0;
    virtual void FillRect(const Rect& rect, Colour colour) = 0;
    // Renders the whole picture upright, stretched into dest. False when the
    // renderer refused.
    virtual bool DrawPicture(const Picture& picture, const Rect& dest) = 0;
    // Copies source (in this canvas) to at in target.
    virtual void CopyTo(MemoryCanvas& target, const Rect& source, Point at) const = 0;
};

enum class SystemColour { ButtonFace, Menu };

// A manual-reset event whose waits run on the window system's clock (the
// test clock of the headless port). Any thread may use it.
class WaitableEvent {
public:
    virtual ~WaitableEvent() = default;
    virtual void Set() = 0;
    virtual void Reset() = 0;
    // True when the event is (or becomes) set within ms, false on time-out.
    virtual bool Wait(unsigned ms) = 0;
};

class Menu {
public:
    virtual ~Menu() = default;
    // Makes an item (a position, or a command number) the default (bold).
    virtual bool SetDefaultItem(unsigned item, bool byPosition) = 0;
    // Command number of the item at position, or -1 (separator, no item).
    virtual int GetItemId(int position) const = 0;
    // Shows the menu at a screen point (left-aligned, left-button tracking);
    // the chosen command goes to target as kWmCommand. Returns when the
    // menu has closed.
    virtual void Track(Point at, WindowHandle target) = 0;
};

// --- Notification area --------------------------------------------------------

inline constexpr unsigned kNifMessage = 0x01;
inline constexpr unsigned kNifIcon = 0x02;
inline constexpr unsigned kNifTip = 0x04;

enum class NotifyIconAction { Add, Modify, Delete };

// The fields of the platform's notification-icon record that the program
// uses; everything else of the record is zero.
struct NotifyIconData {
    std::uint32_t cbSize = 0;
    WindowHandle hWnd = nullptr;
    std::uint32_t uID = 0;
    std::uint32_t uFlags = 0;
    std::uint32_t uCallbackMessage = 0;
    IconHandle hIcon = nullptr;
    char szTip[128] = {}; // NUL-terminated: at most 127 characters
};

// --- Start-up -----------------------------------------------------------------

// While one lives, the thread that made it can host embedded controls (the
// objects of the picture loader among them); its end undoes that.
class ControlHosting {
public:
    virtual ~ControlHosting() = default;
};

// --- Windows ------------------------------------------------------------------

// Receives the messages of one window. OnMessage returns false for
// "not handled": the message then takes the default path (DefWindowProc
// for windows, the dialog manager's for dialogs).
class MessageTarget {
public:
    virtual bool OnMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                           std::intptr_t lParam, std::intptr_t& result) = 0;

protected:
    ~MessageTarget() = default;
};

struct WindowSpec {
    std::string className;         // registered once per name
    bool arrowCursor = false;      // class cursor: arrow, else none
    bool windowBackground = false; // class brush: the window colour, else none
    std::string title;
    Rect rect; // screen position and size
    WindowHandle owner = nullptr;
    std::uint32_t exStyle = 0; // kWsEx* bits
    bool visible = false;      // shown as it is created
};

// The blend of a layered window (BLENDFUNCTION): operation 0 is "source
// over"; the constant alpha applies to the whole window.
struct BlendFunction {
    std::uint8_t blendOp = 0;
    std::uint8_t blendFlags = 0;
    std::uint8_t sourceConstantAlpha = 255;
    std::uint8_t alphaFormat = 0;
    friend bool operator==(const BlendFunction&, const BlendFunction&) = default;
};

// One update of a layered window (UpdateLayeredWindow with ULW_ALPHA, no
// destination context and no new position). With a snapshot the window's
// contents become the image now on the screen inside that rectangle (and
// the window takes its size); without one only the blend changes.
struct LayeredUpdate {
    const Rect* snapshot = nullptr;
    BlendFunction blend;
};

class Ui;
// The platform's layered-window update, looked up at run time: systems
// without layered windows have none. False when the update failed.
using UpdateLayeredFunction = bool (*)(Ui& ui, WindowHandle window, const LayeredUpdate& update);

// --- The window system --------------------------------------------------------

class Ui {
public:
    virtual ~Ui() = default;

    // Start-up of a dialog program: the window classes of the common
    // controls. False when they could not be set up.
    virtual bool InitCommonControls() = 0;
    // Enables the hosting of embedded controls on the calling thread (the
    // user-interface thread) until the result is destroyed; null when that
    // failed.
    virtual std::unique_ptr<ControlHosting> EnableControlHosting() = 0;

    // Windows. Creation sends kWmCreate to target before it returns.
    virtual WindowHandle CreatePopupWindow(const WindowSpec& spec, MessageTarget* target) = 0;
    virtual void DestroyWindow(WindowHandle window) = 0;
    virtual void ShowWindow(WindowHandle window, ShowCommand command) = 0;
    virtual bool IsWindowVisible(WindowHandle window) const = 0;
    virtual bool IsIconic(WindowHandle window) const = 0;
    virtual void SetWindowPos(WindowHandle window, int x, int y, int cx, int cy,
                              unsigned flags) = 0;
    // Moves and sizes (with a repaint when asked).
    virtual void MoveWindow(WindowHandle window, const Rect& rect, bool repaint) = 0;
    virtual Rect GetWindowRect(WindowHandle window) const = 0;
    virtual Rect GetClientRect(WindowHandle window) const = 0;
    // Invalidate, erase and update at once.
    virtual void RedrawNow(WindowHandle window) = 0;
    virtual std::string GetWindowText(WindowHandle window) const = 0;
    virtual void SetWindowText(WindowHandle window, const std::string& text) = 0;
    // A top-level window with exactly this title, or null.
    virtual WindowHandle FindTopLevelWindow(const std::string& title) const = 0;
    virtual void SetForegroundWindow(WindowHandle window) = 0;
    virtual void BringWindowToTop(WindowHandle window) = 0;
    virtual void SetSmallIcon(WindowHandle window, IconHandle icon) = 0;
    // Keyboard focus: SetFocus sends kWmSetFocus (wParam: the window that
    // had it) to the window that gets it.
    virtual void SetFocus(WindowHandle window) = 0;
    // The layered-window update of the user-interface library, looked up by
    // name; null where the system has none.
    virtual UpdateLayeredFunction FindUpdateLayeredWindow() = 0;

    virtual void PostMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                             std::intptr_t lParam) = 0;
    virtual std::intptr_t SendMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                                      std::intptr_t lParam) = 0;
    // The default handling of a message (DefWindowProc / the dialog's).
    virtual std::intptr_t DefaultHandling(WindowHandle window, unsigned message,
                                          std::uintptr_t wParam, std::intptr_t lParam) = 0;

    // The application's main window (the target of tray commands).
    virtual void SetMainWindow(WindowHandle window) = 0;
    virtual WindowHandle GetMainWindow() const = 0;

    // Window timers: periodic until killed; setting a running one restarts it
    // with the new period. Each expiry sends kWmTimer (wParam = id).
    virtual void SetTimer(WindowHandle window, unsigned id, unsigned periodMs) = 0;
    virtual void KillTimer(WindowHandle window, unsigned id) = 0;

    // Dialogs. RunModalDialog creates the dialog of the template, sends
    // kWmCreate then kWmInitDialog, shows it unless kWmInitDialog hid it,
    // runs the message loop until EndDialog and destroys the window; the
    // result is EndDialog's value.
    virtual int RunModalDialog(int templateId, MessageTarget* target, WindowHandle owner) = 0;
    virtual void EndDialog(WindowHandle dialog, int result) = 0;

    // Controls of a dialog, by id.
    virtual void SetItemText(WindowHandle dialog, int id, const std::string& text) = 0;
    virtual std::string GetItemText(WindowHandle dialog, int id) const = 0;
    virtual void EnableItem(WindowHandle dialog, int id, bool enable) = 0;
    virtual bool IsItemEnabled(WindowHandle dialog, int id) const = 0;
    // Check boxes (CheckDlgButton / IsDlgButtonChecked).
    virtual void CheckItem(WindowHandle dialog, int id, bool checked) = 0;
    virtual bool IsItemChecked(WindowHandle dialog, int id) const = 0;
    // List boxes and drop-down lists, with the platform's semantics: indexes
    // from 0, -1 for none; FindPrefix is case-insensitive and starts after
    // index start, wrapping round (start -1: from the top).
    virtual int ListAddString(WindowHandle dialog, int id, const std::string& text) = 0;
    // Removes an item; the selection is lost when it was that item.
    virtual void ListDeleteString(WindowHandle dialog, int id, int index) = 0;
    virtual void ListResetContent(WindowHandle dialog, int id) = 0;
    virtual int ListGetCount(WindowHandle dialog, int id) const = 0;
    virtual std::string ListGetText(WindowHandle dialog, int id, int index) const = 0;
    virtual int ListFindPrefix(WindowHandle dialog, int id, int start,
                               const std::string& text) const = 0;
    virtual int ListGetCurSel(WindowHandle dialog, int id) const = 0;
    virtual void ListSetCurSel(WindowHandle dialog, int id, int index) = 0;

    // Menus. SetWindowMenu replaces the window's menu by menu resource
    // menuId. AppendSystemMenuItem adds a separator and an item to the
    // window's system menu.
    virtual void SetWindowMenu(WindowHandle window, int menuId) = 0;
    virtual void AppendSystemMenuItem(WindowHandle window, unsigned command,
                                      const std::string& text) = 0;
    // The first popup of menu resource menuId, or null.
    virtual std::unique_ptr<Menu> LoadPopupMenu(int menuId) = 0;

    // Resources of the program. Missing ones give null / "".
    virtual std::string LoadString(int id) const = 0;
    virtual IconHandle LoadIcon(int id) = 0;
    virtual std::unique_ptr<Bitmap> LoadBitmap(int id) = 0;
    virtual CursorHandle LoadSystemCursor(SystemCursor cursor) = 0;
    virtual std::unique_ptr<Font> CreateFont(const FontSpec& spec) = 0;
    virtual std::unique_ptr<Brush> CreateSolidBrush(Colour colour) = 0;

    // Painting. BeginPaint is for kWmPaint (the paint ends with the canvas);
    // CanvasFor wraps the device context of kWmEraseBkgnd or kWmCtlColor*.
    virtual std::unique_ptr<Canvas> BeginPaint(WindowHandle window) = 0;
    virtual std::unique_ptr<Canvas> CanvasFor(std::uintptr_t deviceContext) = 0;

    // The bytes of a resource of a custom type ("GIF"); empty when missing.
    virtual std::string LoadResourceData(int id, const std::string& type) const = 0;
    // The picture loader: decodes an image file held in memory (GIF, BMP,
    // JPEG...). Null when it refuses the data.
    virtual std::unique_ptr<Picture> LoadPicture(const std::string& bytes) = 0;
    // Pixels per logical inch of the screen, horizontally and vertically.
    virtual Size ScreenPixelsPerInch() const = 0;
    virtual Colour GetSystemColour(SystemColour colour) const = 0;
    // A canvas of this size compatible with the window's; null on failure.
    virtual std::unique_ptr<MemoryCanvas> CreateMemoryCanvas(WindowHandle compatibleWith,
                                                             Size size) = 0;
    // Created unsignalled; null when the platform could not make one.
    virtual std::unique_ptr<WaitableEvent> CreateManualResetEvent() = 0;
    // Asks for a paint of the whole client area, erasing the background
    // first when erase is true. Any thread may call this.
    virtual void InvalidateWindow(WindowHandle window, bool erase) = 0;

    // Controls as windows. GetItem: the window of control id of a dialog
    // (null when there is none). SubclassWindow routes the control's
    // messages to target first; what it does not handle goes on to the
    // control's own procedure (DefaultHandling). A null target restores the
    // control. False when the window does not exist.
    virtual WindowHandle GetItem(WindowHandle dialog, int id) const = 0;
    virtual bool SubclassWindow(WindowHandle window, MessageTarget* target) = 0;

    // Style bits of a window (GWL_STYLE), and adding some.
    virtual std::uint32_t GetStyle(WindowHandle window) const = 0;
    virtual void AddStyle(WindowHandle window, std::uint32_t bits) = 0;
    // The rectangles of a child window in its parent's client coordinates.
    virtual Rect GetWindowRectInParent(WindowHandle window) const = 0;
    virtual Rect GetClientRectInParent(WindowHandle window) const = 0;
    virtual Point ScreenToClient(WindowHandle window, Point point) const = 0;
    // The window's font (WM_GETFONT), else the default GUI font, else the
    // variable-pitch system font, as a new font with or without underline.
    virtual std::unique_ptr<Font> CreateWindowFont(WindowHandle window, bool underline) = 0;
    // The extent of a single line of text in the font, on the window's
    // device context.
    virtual Size MeasureText(WindowHandle window, const Font* font,
                             const std::string& text) const = 0;
    // A tooltip over the window's client area with this text; messages for
    // the window are relayed to it. Null when it could not be made.
    class Tooltip {
    public:
        virtual ~Tooltip() = default;
        virtual void SetText(const std::string& text) = 0;
        virtual void Relay(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
    };
    virtual std::unique_ptr<Tooltip> CreateTooltip(WindowHandle window,
                                                   const std::string& text) = 0;
    // A copy of cursor resource id of a program in the Windows folder (its
    // file name), or null; the caller destroys it with DestroyCursor.
    virtual CursorHandle LoadProgramCursor(const std::string& program, int id) = 0;
    virtual void DestroyCursor(CursorHandle cursor) = 0;
    // The default value of a key under HKEY_CLASSES_ROOT; false when the
    // key or its value is missing.
    virtual bool ReadClassesRootDefault(const std::string& key, std::string& value) const = 0;
    // The shell's "open" of a file or URL, shown normal: ShellExecute's
    // result (greater than 32 for success).
    virtual int ShellOpenWithResult(const std::string& file) = 0;
    // Runs a command line shown normal: WinExec's result (greater than 31
    // for success).
    virtual int RunCommandLine(const std::string& commandLine) = 0;
    // MessageBeep with an kMbIcon* type.
    virtual void MessageBeep(unsigned type) = 0;

    // Pointer.
    virtual Point GetCursorPos() const = 0;
    virtual void SetCursor(CursorHandle cursor) = 0;
    // Asks for kWmMouseHover after hoverMs and for kWmMouseLeave.
    virtual void TrackMouse(WindowHandle window, unsigned hoverMs) = 0;

    // Screen: the primary work area (desktop minus taskbar) and screen size.
    virtual Rect GetWorkArea() const = 0;
    virtual Size GetScreenSize() const = 0;

    // Notification area. ShellMajorVersion is the shell's major version
    // (the notification area exists from 4 on).
    virtual int ShellMajorVersion() const = 0;
    virtual bool NotifyIcon(NotifyIconAction action, const NotifyIconData& data) = 0;

    // A modal message box; returns the button pressed (kIdOk ...).
    virtual int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                           unsigned type) = 0;
    // The shell's "open" of a file, program or URL, shown normal; parameters
    // and folder may be empty. The outcome is the caller's to ignore.
    virtual bool ShellOpen(const std::string& file, const std::string& parameters,
                           const std::string& folder) = 0;
    // Plays a sound synchronously: a system sound alias or a file name, the
    // default sound when neither exists.
    virtual void PlaySound(const std::string& name) = 0;
    // The system's file-open dialog, modal to owner. filter holds pairs of
    // description and pattern, each ended by a NUL, the list ended by one
    // more (as OPENFILENAME takes it); an empty initialFolder leaves the
    // folder to the system. The chosen path, or "" when the user cancelled.
    virtual std::string ChooseFileToOpen(WindowHandle owner, const std::string& filter,
                                         const std::string& initialFolder) = 0;

    // Ends the process at once with this exit code; does not return.
    [[noreturn]] virtual void ExitProcess(int code) = 0;
};

} // namespace port
