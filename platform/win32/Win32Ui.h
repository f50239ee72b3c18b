// The window system port on the Win32 API (ANSI functions; texts in the
// system code page). Message numbers and flags of port::Ui are the Windows
// ones and pass through unchanged.
//
// This header stays free of <windows.h>: the state lives behind a pointer.
#pragma once

#include "platform/Ui.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace port::win32 {

class Win32Ui : public Ui {
public:
    // Resources (templates, menus, strings, icons, bitmaps) come from the
    // running executable.
    Win32Ui();
    // Resources come from another module, loaded as a data file (a built
    // tavlo.exe, for checks of its resources). Loaded() tells whether the
    // file could be opened; without it every resource is missing.
    explicit Win32Ui(const std::string& resourceModule);
    ~Win32Ui() override;

    Win32Ui(const Win32Ui&) = delete;
    Win32Ui& operator=(const Win32Ui&) = delete;

    bool Loaded() const;

    // The class name of control id of a dialog ("" when there is none).
    std::string GetItemClassName(WindowHandle dialog, int id) const;
    // A top-level window of a window class (null when there is none), its
    // extended style bits (WS_EX_*) and its owner, for checks.
    WindowHandle FindWindowOfClass(const std::string& className) const;
    std::uint32_t GetExStyle(WindowHandle window) const;
    WindowHandle GetOwner(WindowHandle window) const;
    // The window's menu (null when it has none): a native HMENU, for checks.
    void* GetWindowMenu(WindowHandle window) const;
    // A dialog's controls as the dialog manager made them, for checks: in
    // template order, each with its id, window class, style bits, text and
    // rectangle in the dialog's client area.
    struct ControlView {
        int id = 0;
        std::string className;
        std::uint32_t style = 0;
        std::uint32_t exStyle = 0;
        std::string text;
        Rect rect;
    };
    std::vector<ControlView> GetDialogControls(WindowHandle dialog) const;
    // Dialog units of a dialog's template font in pixels (MapDialogRect).
    Rect MapDialogUnits(WindowHandle dialog, const Rect& units) const;
    // NotifyIconData::cbSize is the size of the 32-bit notification-icon
    // record of a shell generation (488, 504, or 508 for the whole record);
    // this is the size of the same generation's record on this platform,
    // the one passed to the shell. 0 for any other size.
    static std::uint32_t NotifyIconRecordSize(std::uint32_t size32);

    // Whether the calling thread can host embedded controls now (it is in a
    // single-threaded COM apartment), for checks.
    static bool ThreadHostsControls();

    bool InitCommonControls() override;
    std::unique_ptr<ControlHosting> EnableControlHosting() override;

    WindowHandle CreatePopupWindow(const WindowSpec& spec, MessageTarget* target) override;
    void DestroyWindow(WindowHandle window) override;
    void ShowWindow(WindowHandle window, ShowCommand command) override;
    bool IsWindowVisible(WindowHandle window) const override;
    bool IsIconic(WindowHandle window) const override;
    void SetWindowPos(WindowHandle window, int x, int y, int cx, int cy, unsigned flags) override;
    void MoveWindow(WindowHandle window, const Rect& rect, bool repaint) override;
    Rect GetWindowRect(WindowHandle window) const override;
    Rect GetClientRect(WindowHandle window) const override;
    void RedrawNow(WindowHandle window) override;
    std::string GetWindowText(WindowHandle window) const override;
    void SetWindowText(WindowHandle window, const std::string& text) override;
    WindowHandle FindTopLevelWindow(const std::string& title) const override;
    void SetForegroundWindow(WindowHandle window) override;
    void BringWindowToTop(WindowHandle window) override;
    void SetSmallIcon(WindowHandle window, IconHandle icon) override;
    void SetFocus(WindowHandle window) override;
    UpdateLayeredFunction FindUpdateLayeredWindow() override;

    void PostMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                     std::intptr_t lParam) override;
    std::intptr_t SendMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                              std::intptr_t lParam) override;
    std::intptr_t DefaultHandling(WindowHandle window, unsigned message, std::uintptr_t wParam,
                                  std::intptr_t lParam) override;

    void SetMainWindow(WindowHandle window) override;
    WindowHandle GetMainWindow() const override;

    void SetTimer(WindowHandle window, unsigned id, unsigned periodMs) override;
    void KillTimer(WindowHandle window, unsigned id) override;

    int RunModalDialog(int templateId, MessageTarget* target, WindowHandle owner) override;
    void EndDialog(WindowHandle dialog, int result) override;

    void SetItemText(WindowHandle dialog, int id, const std::string& text) override;
    std::string GetItemText(WindowHandle dialog, int id) const override;
    void EnableItem(WindowHandle dialog, int id, bool enable) override;
    bool IsItemEnabled(WindowHandle dialog, int id) const override;
    void CheckItem(WindowHandle dialog, int id, bool checked) override;
    bool IsItemChecked(WindowHandle dialog, int id) const override;
    int ListAddString(WindowHandle dialog, int id, const std::string& text) override;
    void ListDeleteString(WindowHandle dialog, int id, int index) override;
    void ListResetContent(WindowHandle dialog, int id) override;
    int ListGetCount(WindowHandle dialog, int id) const override;
    std::string ListGetText(WindowHandle dialog, int id, int index) const override;
    int ListFindPrefix(WindowHandle dialog, int id, int start,
                       const std::string& text) const override;
    int ListGetCurSel(WindowHandle dialog, int id) const override;
    void ListSetCurSel(WindowHandle dialog, int id, int index) override;

    void SetWindowMenu(WindowHandle window, int menuId) override;
    void AppendSystemMenuItem(WindowHandle window, unsigned command,
                              const std::string& text) override;
    std::unique_ptr<Menu> LoadPopupMenu(int menuId) override;

    std::string LoadString(int id) const override;
    IconHandle LoadIcon(int id) override;
    std::unique_ptr<Bitmap> LoadBitmap(int id) override;
    CursorHandle LoadSystemCursor(SystemCursor cursor) override;
    std::unique_ptr<Font> CreateFont(const FontSpec& spec) override;
    std::unique_ptr<Brush> CreateSolidBrush(Colour colour) override;

    std::unique_ptr<Canvas> BeginPaint(WindowHandle window) override;
    std::unique_ptr<Canvas> CanvasFor(std::uintptr_t deviceContext) override;

    std::string LoadResourceData(int id, const std::string& type) const override;
    std::unique_ptr<Picture> LoadPicture(const std::string& bytes) override;
    Size ScreenPixelsPerInch() const override;
    Colour GetSystemColour(SystemColour colour) const override;
    std::unique_ptr<MemoryCanvas> CreateMemoryCanvas(WindowHandle compatibleWith,
                                                     Size size) override;
    std::unique_ptr<WaitableEvent> CreateManualResetEvent() override;
    void InvalidateWindow(WindowHandle window, bool erase) override;
    WindowHandle GetItem(WindowHandle dialog, int id) const override;
    bool SubclassWindow(WindowHandle window, MessageTarget* target) override;

    std::uint32_t GetStyle(WindowHandle window) const override;
    void AddStyle(WindowHandle window, std::uint32_t bits) override;
    Rect GetWindowRectInParent(WindowHandle window) const override;
    Rect GetClientRectInParent(WindowHandle window) const override;
    Point ScreenToClient(WindowHandle window, Point point) const override;
    std::unique_ptr<Font> CreateWindowFont(WindowHandle window, bool underline) override;
    Size MeasureText(WindowHandle window, const Font* font, const std::string& text) const override;
    std::unique_ptr<Tooltip> CreateTooltip(WindowHandle window, const std::string& text) override;
    CursorHandle LoadProgramCursor(const std::string& program, int id) override;
    void DestroyCursor(CursorHandle cursor) override;
    bool ReadClassesRootDefault(const std::string& key, std::string& value) const override;
    int ShellOpenWithResult(const std::string& file) override;
    int RunCommandLine(const std::string& commandLine) override;
    void MessageBeep(unsigned type) override;

    Point GetCursorPos() const override;
    void SetCursor(CursorHandle cursor) override;
    void TrackMouse(WindowHandle window, unsigned hoverMs) override;

    Rect GetWorkArea() const override;
    Size GetScreenSize() const override;

    int ShellMajorVersion() const override;
    bool NotifyIcon(NotifyIconAction action, const NotifyIconData& data) override;

    int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                   unsigned type) override;
    bool ShellOpen(const std::string& file, const std::string& parameters,
                   const std::string& folder) override;
    void PlaySound(const std::string& name) override;
    std::string ChooseFileToOpen(WindowHandle owner, const std::string& filter,
                                 const std::string& initialFolder) override;

    [[noreturn]] void ExitProcess(int code) override;

    struct State;

private:
    std::unique_ptr<State> m_state;
};

} // namespace port::win32
