// An in-memory window system: the window-system port without a screen.
//
// It keeps windows, dialogs and their controls, window timers, a message
// queue, menus, the notification area and the program's resources in memory
// and records everything a user would see or hear as a list of events. Unit
// tests drive it on a manual clock that they advance themselves; the Linux
// front end runs it on the real clock and prints its events.
//
// The resources (dialog templates, menus, strings, icons, bitmaps) are the
// table it is given when it is made; it knows no resource of its own. A
// dialog has the controls its template lists, with their ids, window
// classes, styles, texts and rectangles; list boxes and combo boxes sort
// when their style says so and get the items of the template's initial
// data before the dialog hears of its creation. Like the Windows dialog manager it creates no
// dialog from a template it does not have, and a control id the template
// does not list names nothing.
//
// Semantics follow the Windows window manager where the program can tell the
// difference: timers are periodic until killed and never shorter than 10 ms
// (USER_TIMER_MINIMUM), posted messages wait in a FIFO queue, sent ones are
// handled at once, paint requests of invalidated windows are handled when the
// queue is empty, destroying a window destroys the windows it owns first,
// list boxes search prefixes case-insensitively and wrap round.
//
// Fixed text metrics for DrawText: every character is kCharWidth pixels wide
// and every line kLineHeight pixels high, whatever the font, so word breaking
// and the end ellipsis can be tested.
//
// Thread safety: PostMessage may be called from any thread; everything else
// belongs to the thread that runs the message loop.
#pragma once

#include "platform/Resources.h"
#include "platform/Ui.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace port::headless {

// Thrown by ExitProcess. Deliberately not a std::exception, so that program
// code catching std::exception does not swallow the end of the process.
struct ProcessExit {
    int code = 0;
};

enum class ClockMode {
    Manual, // the clock stands still until the test advances it; starts at 0
    Real,   // a steady clock in ms since construction; the loop sleeps
};

// Text metrics of DrawText.
inline constexpr int kCharWidth = 6;
inline constexpr int kLineHeight = 14;

// The result of laying out a text as DrawText does with these metrics.
struct TextLayout {
    std::vector<std::string> lines; // the visible lines, as drawn
    bool ellipsis = false;          // "..." was put in place of cut text
};

// Hard line breaks at LF (a CR before it is dropped). With kDtWordBreak each
// paragraph is filled word by word (words separated by spaces; runs of spaces
// count as one) into lines of Width() / kCharWidth characters, and a word
// longer than a line is broken at the line's width. Height() / kLineHeight
// whole lines are visible. With kDtEndEllipsis, text that does not fit ends in
// "..." on the last visible line (cut so that the line with the dots fits),
// and an over-long unbroken line is cut the same way; without it the rest is
// clipped.
TextLayout LayOutText(const std::string& text, const Rect& rect, unsigned flags);

// Everything a user would notice.
enum class EventKind {
    TrayAdd,    // text: tip; icon; value: uID
    TrayModify, // text: tip; icon; value: uID; detail: the flags given
    TrayDelete, // value: uID
    WindowShow, // text: title
    WindowHide, // text: title
    WindowMove, // rect: the new window rectangle
    TextDrawn,  // text: the visible lines joined by LF; rect; value: 1 with ellipsis
    MenuShown,  // text: the items joined by LF, the default one marked "*";
                // rect: left/top = the point
    MessageBox, // text; detail: caption; value: type
    ShellOpen,  // text: file; detail: parameters
    Run,        // text: the command line (RunCommandLine)
    Sound,      // text: name
    Exit,       // value: exit code
    Drag,       // the window is dragged by its caption
    Foreground, // SetForegroundWindow
    BringToTop, // BringWindowToTop
};

const char* EventKindName(EventKind kind);

struct Event {
    std::uint64_t time = 0; // the clock, ms
    EventKind kind = EventKind::WindowShow;
    WindowHandle window = nullptr;
    std::string text;
    std::string detail;
    Rect rect;
    IconHandle icon = nullptr;
    int value = 0;
};

// One line describing the event, for logs and the Linux front end.
std::string Describe(const Event& event);

// One recorded drawing operation.
struct PaintOp {
    enum class Kind { Fill, Bitmap, Icon, Text, MemoryCanvas };
    Kind kind = Kind::Fill;
    WindowHandle window = nullptr; // null for a canvas of an unknown context
    Rect rect;                     // fill / text rectangle; bitmap and icon: where
    Colour colour = 0;             // fill colour; text colour
    int resourceId = 0;            // bitmap or icon resource; memory canvas number
    std::string text;
    std::string fontFace; // empty: no font selected (the system font)
    bool underline = false;
    bool transparent = false; // text background
    unsigned flags = 0;       // kDt*
    TextLayout layout;        // Text: what became visible
};

// Menu items (command 0: separator) and popups, as the resources give them.
using MenuItem = MenuItemResource;
using MenuPopup = MenuPopupResource;

// The menu that Track showed and that is still open.
struct ShownMenu {
    std::vector<MenuItem> items;
    int defaultPosition = -1;
    Point at;
    WindowHandle target = nullptr;
};

enum class ResourceKind { String, Icon, Bitmap, Menu };

struct WindowInfo {
    std::string className;
    std::string title;
    bool visible = false;
    bool iconic = false;
    Rect rect;
    WindowHandle owner = nullptr;
    int menuId = 0; // SetWindowMenu
    std::vector<MenuItem> systemMenuItems;
    IconHandle smallIcon = nullptr;
    bool isDialog = false;
    int templateId = 0;
    bool isControl = false; // a dialog's control (GetItem); owner is the dialog
    int controlId = 0;
    std::uint32_t exStyle = 0; // kWsEx* of CreatePopupWindow
    // Layered windows: the constant alpha of each update, in order, and the
    // screen rectangle of the last snapshot.
    std::vector<int> layeredAlphas;
    std::optional<Rect> layeredSnapshot;
};

// One drawing operation on a memory canvas; any thread may add them.
struct CanvasOp {
    enum class Kind { Fill, Picture, Copy };
    Kind kind = Kind::Fill;
    int canvas = 0; // the canvas's number (from 1, in creation order)
    Rect rect;      // fill / picture destination / copy source
    Colour colour = 0;
    int picture = 0; // Picture: its number (from 1, in load order)
    int target = 0;  // Copy: the target canvas
    Point at;        // Copy: where in the target
};

// One control of a dialog: its template, and its state now.
struct ControlInfo {
    ControlResource resource; // id, window class, style, template text, rectangle
    std::string text;         // the text now
    bool enabled = true;
    bool checked = false;           // check boxes
    std::vector<std::string> items; // list box and combo box items
    int curSel = -1;

    bool IsList() const {
        return resource.className == "ListBox" || resource.className == "ComboBox";
    }
};

struct MessageBoxCall {
    WindowHandle owner = nullptr;
    std::string text;
    std::string caption;
    unsigned type = 0;
};

// A file-open dialog that was run.
struct FileOpenCall {
    WindowHandle owner = nullptr;
    std::string filter;
    std::string initialFolder;
};

class HeadlessUi : public Ui {
public:
    // Without resources: no dialog, menu, string, icon or bitmap loads.
    explicit HeadlessUi(ClockMode mode = ClockMode::Manual);
    // With the program's resources (tavlo::res::ProgramResources()) or a
    // table of a test's own.
    explicit HeadlessUi(ResourceTable resources, ClockMode mode = ClockMode::Manual);
    ~HeadlessUi() override;

    HeadlessUi(const HeadlessUi&) = delete;
    HeadlessUi& operator=(const HeadlessUi&) = delete;

    // --- The clock and the message loop ---------------------------------

    std::uint64_t Now() const;
    // Manual clock: dispatches posted messages, then fires the timers that
    // fall due up to now + ms in time order (ties in the order they were
    // set), moving the clock to each due time and dispatching posted
    // messages after each; the clock ends at now + ms. Real clock: runs the
    // message loop (sleeping between events) for ms.
    void Advance(std::uint64_t ms);
    // Dispatches posted messages (and the paints they leave due) only.
    void RunPending();
    // Called by the modal loop when nothing is queued and the dialog has not
    // ended. It may post, advance the clock, end the dialog or throw. When
    // it changes nothing, the loop goes on as without a handler.
    void SetIdleHandler(std::function<void()> handler);
    // Manual clock without progress: a modal run gives up (destroys the
    // dialog, returns -1) once its next timer lies more than this far beyond
    // the run's start, so that periodic timers cannot keep a test running.
    // Default one hour.
    void SetModalTimeLimit(std::uint64_t ms);

    // Creates, initialises and shows a dialog like RunModalDialog, but
    // returns at once. DialogEnded tells whether EndDialog was called.
    WindowHandle OpenDialog(int templateId, MessageTarget* target, WindowHandle owner);
    bool DialogEnded(WindowHandle dialog, int* result = nullptr) const;

    // --- Test hooks ---------------------------------------------------------

    void SetIconic(WindowHandle window, bool iconic);
    // Clicks a button of a dialog, as BM_CLICK does: an automatic check box
    // toggles, then kWmCommand with the button's id goes to the dialog.
    // False (and nothing sent) when the dialog has no such button or it is
    // disabled.
    bool PressButton(WindowHandle dialog, int id);
    // Picks an item of the open menu: posts kWmCommand (command, 0) to its
    // target and closes the menu. False when no menu is open or it has no
    // such command.
    bool ChooseMenuItem(unsigned command);
    void DismissMenu();
    // A resource of the program that is not there.
    void RemoveResource(ResourceKind kind, int id);
    // Replaces (or adds) a bitmap resource with one of this size.
    void SetBitmapResource(int id, Size size);
    void SetWorkArea(const Rect& rect);
    void SetScreenSize(Size size);
    void SetCursorPosition(Point at);
    void SetShellMajorVersion(int version);
    // Without layered windows FindUpdateLayeredWindow finds nothing (a
    // system before them); with them (the default) it finds an update that
    // records its alphas in the window's WindowInfo.
    void SetLayeredWindowsAvailable(bool available) { m_layeredWindows = available; }
    // Makes every notification-area call fail (and change nothing).
    void SetNotifyIconFailure(bool fail);
    // Answers message boxes; by default kIdOk.
    void SetMessageBoxHandler(std::function<int(const MessageBoxCall&)> handler);
    void SetShellOpenResult(bool result);
    // What the file-open dialog yields from now on; "" (the default) is
    // the user cancelling.
    void SetFileOpenAnswer(std::string path) { m_fileOpenAnswer = std::move(path); }
    const std::vector<FileOpenCall>& FileOpenCalls() const { return m_fileOpenCalls; }
    // ShellOpenWithResult's and RunCommandLine's answers (by default 42 and
    // 33: success).
    void SetShellOpenCode(int code) { m_shellOpenCode = code; }
    void SetRunResult(int code) { m_runResult = code; }
    // A value under HKEY_CLASSES_ROOT (none exist by default).
    void SetClassesRootDefault(const std::string& key, const std::string& value);
    // Whether a program's cursor resource loads (by default not).
    void SetProgramCursorAvailable(bool available) { m_programCursorAvailable = available; }
    // Replaces (or adds) a resource of a custom type.
    void SetResourceData(int id, const std::string& type, std::string bytes);
    // The picture loader accepts GIF and BMP data of at least a header
    // (reporting the size the header declares, at 96 pixels per inch) when
    // the filter, if set, agrees.
    void SetPictureLoadFilter(std::function<bool(const std::string&)> filter);
    void SetEventListener(std::function<void(const Event&)> listener);

    // --- Queries --------------------------------------------------------------

    const std::vector<Event>& Events() const { return m_events; }
    std::vector<Event> EventsOf(EventKind kind) const;
    void ClearEvents() { m_events.clear(); }
    const std::vector<PaintOp>& PaintOps() const { return m_paintOps; }
    void ClearPaintOps() { m_paintOps.clear(); }

    // Null once the window is destroyed.
    const WindowInfo* FindWindowInfo(WindowHandle window) const;
    bool WindowExists(WindowHandle window) const { return FindWindowInfo(window) != nullptr; }
    // The period as requested, when the timer runs.
    std::optional<unsigned> TimerPeriod(WindowHandle window, unsigned id) const;
    // The clock time of its next expiry.
    std::optional<std::uint64_t> TimerDue(WindowHandle window, unsigned id) const;
    WindowHandle ForegroundWindow() const { return m_foreground; }
    WindowHandle FocusWindow() const { return m_focus; }
    // The newest dialog of a template that still exists (a modal one that a
    // command opened, for instance); null when there is none.
    WindowHandle FindDialogOfTemplate(int templateId) const;
    WindowHandle TopWindow() const { return m_top; }
    std::size_t PendingMessageCount() const;

    const std::optional<ShownMenu>& OpenMenu() const { return m_openMenu; }
    // The popups of a menu resource: the tray menu has one, the main menu
    // "File" and "Help". Empty when unknown or removed.
    std::vector<MenuPopup> MenuBarResource(int menuId) const;
    // The items of a menu resource's first popup (empty when unknown).
    std::vector<MenuItem> MenuResource(int menuId) const;

    const NotifyIconData* FindNotifyIcon(WindowHandle window, std::uint32_t id) const;
    std::size_t NotifyIconCount() const { return m_notifyIcons.size(); }

    // Everything the picture loader was given, in order (accepted or not),
    // and the numbers of the pictures it made (0 for a refusal).
    struct PictureLoad {
        std::string bytes;
        int picture = 0;
    };
    std::vector<PictureLoad> PictureLoads() const;
    // The latest drawing operations on memory canvases (at most 10000: the
    // older half goes when the list is full).
    std::vector<CanvasOp> CanvasOps() const;
    void ClearCanvasOps();
    // Memory canvases that exist now.
    int LiveMemoryCanvasCount() const;

    struct TooltipInfo {
        std::string text;
        std::vector<unsigned> relayed; // the messages relayed to it
    };
    // The tooltip of a window while it exists.
    std::optional<TooltipInfo> FindTooltip(WindowHandle window) const;
    // The handle LoadProgramCursor gives while SetProgramCursorAvailable.
    static CursorHandle ProgramCursor();
    int LiveProgramCursorCount() const { return m_liveProgramCursors; }

    CursorHandle CurrentCursor() const { return m_cursor; }
    struct MouseTrackRequest {
        WindowHandle window = nullptr;
        unsigned hoverMs = 0;
    };
    const std::optional<MouseTrackRequest>& MouseTracking() const { return m_mouseTracking; }

    // The resource number of an icon handle of LoadIcon, 0 for others.
    int IconResourceId(IconHandle icon) const;

    // The controls of a dialog in template order (empty for other windows),
    // and the first one with an id (null when there is none).
    std::vector<ControlInfo> Controls(WindowHandle dialog) const;
    const ControlInfo* FindControlInfo(WindowHandle dialog, int id) const;

    // --- port::Ui -----------------------------------------------------------

    // Nothing to set up without a screen: both succeed and do nothing.
    bool InitCommonControls() override { return true; }
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

    void SetMainWindow(WindowHandle window) override { m_mainWindow = window; }
    WindowHandle GetMainWindow() const override { return m_mainWindow; }

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
    Size ScreenPixelsPerInch() const override { return Size{96, 96}; }
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

    Point GetCursorPos() const override { return m_cursorPos; }
    void SetCursor(CursorHandle cursor) override { m_cursor = cursor; }
    void TrackMouse(WindowHandle window, unsigned hoverMs) override;

    Rect GetWorkArea() const override { return m_workArea; }
    Size GetScreenSize() const override { return m_screenSize; }

    int ShellMajorVersion() const override { return m_shellMajorVersion; }
    bool NotifyIcon(NotifyIconAction action, const NotifyIconData& data) override;

    int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                   unsigned type) override;
    bool ShellOpen(const std::string& file, const std::string& parameters,
                   const std::string& folder) override;
    void PlaySound(const std::string& name) override;
    std::string ChooseFileToOpen(WindowHandle owner, const std::string& filter,
                                 const std::string& initialFolder) override;
    [[noreturn]] void ExitProcess(int code) override;

private:
    using Control = ControlInfo;
    struct Window {
        WindowInfo info;
        MessageTarget* target = nullptr;
        std::vector<Control> controls;            // a dialog's, in template order
        std::vector<WindowHandle> controlWindows; // their windows, in the same order
        bool invalid = false;                     // needs a paint
        bool inInitDialog = false;
        bool hiddenDuringInit = false;
        bool ended = false;
        int result = 0;
        bool destroying = false;
        std::uint32_t style = 0; // of windows that are no control
    };
    struct Timer {
        unsigned period = 0;    // as requested
        unsigned effective = 0; // never below 10 ms
        std::uint64_t due = 0;
        std::uint64_t order = 0; // set order, for ties
    };
    struct Posted {
        WindowHandle window;
        unsigned message;
        std::uintptr_t wParam;
        std::intptr_t lParam;
    };
    class HeadlessMenu;
    class HeadlessCanvas;
    class HeadlessMemoryCanvas;
    class HeadlessEvent;
    class HeadlessTooltip;
    friend class HeadlessTooltip;
    friend class HeadlessMenu;
    friend class HeadlessCanvas;
    friend class HeadlessMemoryCanvas;
    friend class HeadlessEvent;

    void AddCanvasOp(CanvasOp op);
    // The update FindUpdateLayeredWindow hands out: a layered window of the
    // HeadlessUi it is called with takes the blend (and the snapshot).
    static bool UpdateLayered(Ui& ui, WindowHandle window, const LayeredUpdate& update);
    // Wakes the waits of the events (the clock moved, or one was set).
    void SignalClock();

    // Visible, and for a control its dialog too.
    bool Showing(WindowHandle window) const;
    Window* Find(WindowHandle window);
    const Window* Find(WindowHandle window) const;
    Control* FindControl(WindowHandle dialog, int id);
    const Control* FindControl(WindowHandle dialog, int id) const;
    // The control when it is a list box or a combo box.
    Control* FindList(WindowHandle dialog, int id);
    const Control* FindList(WindowHandle dialog, int id) const;
    WindowHandle NewWindow(WindowInfo info, MessageTarget* target);
    WindowHandle CreateDialogWindow(int templateId, MessageTarget* target, WindowHandle owner);
    void Record(Event event);
    void SetVisible(WindowHandle window, bool visible);
    void SetRect(WindowHandle window, const Rect& rect);
    void Paint(WindowHandle window);

    // Dispatches the queue and then the due paints, until both are empty.
    // True when anything was dispatched.
    bool DispatchPending();
    bool PopPosted(Posted& out);
    // The earliest timer, or none.
    std::optional<std::pair<WindowHandle, unsigned>> NextTimer() const;
    // Fires one timer due at or before the limit, moving a manual clock to
    // its due time. False when none is due.
    bool FireOneTimer(std::uint64_t limit);
    // Real clock: sleeps until a message is posted, the next timer is due or
    // the deadline passes.
    void WaitForWork(std::optional<std::uint64_t> deadline);

    const ClockMode m_mode;
    const std::chrono::steady_clock::time_point m_start;
    std::atomic<std::uint64_t> m_manualNow{0};
    // The events' waits: the manual clock and the events' states.
    mutable std::mutex m_clockMutex;
    std::condition_variable m_clockSignal;

    mutable std::mutex m_canvasMutex;
    std::vector<CanvasOp> m_canvasOps;
    int m_canvasCount = 0;
    int m_liveCanvases = 0;
    std::vector<PictureLoad> m_pictureLoads;
    std::function<bool(const std::string&)> m_pictureFilter;
    std::map<std::pair<int, std::string>, std::string> m_resourceData;

    mutable std::mutex m_queueMutex;
    std::condition_variable m_queueSignal;
    std::deque<Posted> m_queue;

    std::map<WindowHandle, std::unique_ptr<Window>> m_windows;
    std::uintptr_t m_nextWindowNumber = 1;
    std::map<std::pair<WindowHandle, unsigned>, Timer> m_timers;
    std::uint64_t m_timerOrder = 0;
    WindowHandle m_mainWindow = nullptr;
    WindowHandle m_foreground = nullptr;
    WindowHandle m_top = nullptr;
    WindowHandle m_focus = nullptr;
    bool m_layeredWindows = true;

    std::function<void()> m_idleHandler;
    std::uint64_t m_modalTimeLimit = 60ull * 60 * 1000;

    std::optional<ShownMenu> m_openMenu;
    const ResourceTable m_resources;
    std::map<std::pair<ResourceKind, int>, bool> m_removed;
    std::map<int, Size> m_bitmapSizes;

    Rect m_workArea{0, 0, 1024, 738};
    Size m_screenSize{1024, 768};
    Point m_cursorPos;
    CursorHandle m_cursor = nullptr;
    std::optional<MouseTrackRequest> m_mouseTracking;

    int m_shellMajorVersion = 5;
    bool m_notifyIconFailure = false;
    std::map<std::pair<WindowHandle, std::uint32_t>, NotifyIconData> m_notifyIcons;

    std::function<int(const MessageBoxCall&)> m_messageBoxHandler;
    bool m_shellOpenResult = true;
    std::string m_fileOpenAnswer;
    std::vector<FileOpenCall> m_fileOpenCalls;
    int m_shellOpenCode = 42;
    int m_runResult = 33;
    std::map<std::string, std::string> m_classesRoot;
    bool m_programCursorAvailable = false;
    int m_liveProgramCursors = 0;
    std::map<WindowHandle, TooltipInfo> m_tooltips;

    std::vector<Event> m_events;
    std::vector<PaintOp> m_paintOps;
    std::function<void(const Event&)> m_listener;
};

} // namespace port::headless
