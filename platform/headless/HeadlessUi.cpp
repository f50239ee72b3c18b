#include "platform/headless/HeadlessUi.h"

#include "platform/CaseFold.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

namespace port::headless {

namespace {

// USER_TIMER_MINIMUM: Windows raises shorter timer periods to 10 ms.
constexpr unsigned kTimerMinimumMs = 10;

// Style bits the controls act on.
constexpr std::uint32_t kWsDisabled = 0x08000000;
constexpr std::uint32_t kLbsSort = 0x0002;
constexpr std::uint32_t kCbsSort = 0x0100;
constexpr std::uint32_t kBsTypeMask = 0x000F;
constexpr std::uint32_t kBsAutoCheckBox = 0x0003;
constexpr std::uint32_t kBsAuto3State = 0x0006;

// BM_CLICK toggles these by itself.
bool IsAutoCheckBox(std::uint32_t style) {
    const std::uint32_t type = style & kBsTypeMask;
    return type == kBsAutoCheckBox || type == kBsAuto3State;
}

// Fake handles. Windows are numbered in steps of 16, so a window's device
// context token (handle + 1) can never be taken for a window.
constexpr std::uintptr_t kWindowBase = 0x10000;
constexpr std::uintptr_t kWindowStride = 0x10;
constexpr std::uintptr_t kIconBase = 0x7F000000;
constexpr std::uintptr_t kCursorArrow = 0x7E000010;
constexpr std::uintptr_t kCursorHand = 0x7E000020;
constexpr std::uintptr_t kCursorWait = 0x7E000030;
constexpr std::uintptr_t kCursorProgram = 0x7E000040;

// The most drawing operations on memory canvases that are kept.
constexpr std::size_t kCanvasOpLimit = 10000;

// InvalidateWindow from any thread travels through the message queue under
// a number no window message uses.
constexpr unsigned kInvalidateRequest = 0xFFFF0001u;

IconHandle IconFor(int id) {
    return reinterpret_cast<IconHandle>(kIconBase + static_cast<std::uintptr_t>(id) * 16);
}

int IconIdOf(IconHandle icon) {
    const auto value = reinterpret_cast<std::uintptr_t>(icon);
    if (value < kIconBase || (value - kIconBase) % 16 != 0 || value - kIconBase > 0xFFFF0)
        return 0;
    return static_cast<int>((value - kIconBase) / 16);
}

bool LessFolded(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return port::FoldCase(static_cast<unsigned char>(x)) <
               port::FoldCase(static_cast<unsigned char>(y));
    });
}

bool StartsWithFolded(const std::string& text, const std::string& prefix) {
    if (prefix.size() > text.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (port::FoldCase(static_cast<unsigned char>(text[i])) !=
            port::FoldCase(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

// The tip up to its NUL, at most the 127 characters the field holds.
std::string TipOf(const NotifyIconData& data) {
    const std::size_t limit = sizeof data.szTip - 1;
    const void* nul = std::memchr(data.szTip, '\0', limit);
    const std::size_t length =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - data.szTip)
                       : limit;
    return std::string(data.szTip, length);
}

std::string OneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string HandleText(const void* handle) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%#llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(handle)));
    return buffer;
}

std::string RectText(const Rect& r) {
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " +
           std::to_string(r.right) + ", " + std::to_string(r.bottom) + ")";
}

class HeadlessBitmap : public Bitmap {
public:
    HeadlessBitmap(int id, Size size) : m_id(id), m_size(size) {}
    std::intptr_t Native() const override { return reinterpret_cast<std::intptr_t>(this); }
    Size GetSize() const override { return m_size; }
    int Id() const { return m_id; }

private:
    int m_id;
    Size m_size;
};

class HeadlessFont : public Font {
public:
    explicit HeadlessFont(FontSpec spec) : m_spec(std::move(spec)) {}
    std::intptr_t Native() const override { return reinterpret_cast<std::intptr_t>(this); }
    const FontSpec& Spec() const { return m_spec; }

private:
    FontSpec m_spec;
};

class HeadlessBrush : public Brush {
public:
    explicit HeadlessBrush(Colour colour) : m_colour(colour) {}
    std::intptr_t Native() const override { return reinterpret_cast<std::intptr_t>(this); }
    Colour GetColour() const { return m_colour; }

private:
    Colour m_colour;
};

// Fills one paragraph into lines of at most width characters.
void WrapParagraph(const std::string& paragraph, std::size_t width,
                   std::vector<std::string>& lines) {
    std::vector<std::string> words;
    std::size_t pos = 0;
    while (pos < paragraph.size()) {
        const std::size_t end = std::min(paragraph.find(' ', pos), paragraph.size());
        if (end > pos)
            words.push_back(paragraph.substr(pos, end - pos));
        pos = end + 1;
    }
    std::string current;
    for (const std::string& word : words) {
        const std::string candidate = current.empty() ? word : current + " " + word;
        if (candidate.size() <= width) {
            current = candidate;
            continue;
        }
        if (!current.empty())
            lines.push_back(current);
        current = word;
        while (width > 0 && current.size() > width) {
            lines.push_back(current.substr(0, width));
            current.erase(0, width);
        }
    }
    lines.push_back(current);
}

void EndWithEllipsis(std::string& line, std::size_t width) {
    const std::size_t keep = width >= 3 ? width - 3 : 0;
    if (line.size() > keep)
        line.resize(keep);
    line += "...";
}

} // namespace

TextLayout LayOutText(const std::string& text, const Rect& rect, unsigned flags) {
    const std::size_t width = static_cast<std::size_t>(std::max(0, rect.Width() / kCharWidth));
    const std::size_t height = static_cast<std::size_t>(std::max(0, rect.Height() / kLineHeight));
    const bool ellipsis = (flags & kDtEndEllipsis) != 0;

    std::vector<std::string> lines;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        std::string paragraph = text.substr(pos, end - pos);
        if (!paragraph.empty() && paragraph.back() == '\r')
            paragraph.pop_back();
        if (flags & kDtWordBreak)
            WrapParagraph(paragraph, width, lines);
        else
            lines.push_back(paragraph);
        if (end >= text.size())
            break;
        pos = end + 1;
    }

    TextLayout layout;
    if (lines.size() > height) {
        lines.resize(height);
        if (ellipsis && height > 0) {
            EndWithEllipsis(lines.back(), width);
            layout.ellipsis = true;
        }
    }
    for (std::string& line : lines) {
        if (line.size() <= width)
            continue;
        if (ellipsis) {
            EndWithEllipsis(line, width);
            layout.ellipsis = true;
        } else {
            line.resize(width);
        }
    }
    layout.lines = std::move(lines);
    return layout;
}

const char* EventKindName(EventKind kind) {
    switch (kind) {
    case EventKind::TrayAdd:
        return "tray-add";
    case EventKind::TrayModify:
        return "tray-modify";
    case EventKind::TrayDelete:
        return "tray-delete";
    case EventKind::WindowShow:
        return "show";
    case EventKind::WindowHide:
        return "hide";
    case EventKind::WindowMove:
        return "move";
    case EventKind::TextDrawn:
        return "text";
    case EventKind::MenuShown:
        return "menu";
    case EventKind::MessageBox:
        return "message-box";
    case EventKind::ShellOpen:
        return "shell-open";
    case EventKind::Run:
        return "run";
    case EventKind::Sound:
        return "sound";
    case EventKind::Exit:
        return "exit";
    case EventKind::Drag:
        return "drag";
    case EventKind::Foreground:
        return "foreground";
    case EventKind::BringToTop:
        return "bring-to-top";
    }
    return "?";
}

std::string Describe(const Event& event) {
    std::string out = std::to_string(event.time) + " ms " + EventKindName(event.kind);
    switch (event.kind) {
    case EventKind::TrayAdd:
    case EventKind::TrayModify: {
        const int icon = IconIdOf(event.icon);
        out += " #" + std::to_string(event.value) + " icon " +
               (icon != 0 ? std::to_string(icon) : HandleText(event.icon)) + " tip \"" +
               OneLine(event.text) + "\"";
        break;
    }
    case EventKind::TrayDelete:
        out += " #" + std::to_string(event.value);
        break;
    case EventKind::WindowShow:
    case EventKind::WindowHide:
        out += " " + HandleText(event.window) + " \"" + OneLine(event.text) + "\"";
        break;
    case EventKind::WindowMove:
        out += " " + HandleText(event.window) + " " + RectText(event.rect);
        break;
    case EventKind::TextDrawn:
        out += " " + HandleText(event.window) + " \"" + OneLine(event.text) + "\"" +
               (event.value ? " (cut)" : "");
        break;
    case EventKind::MenuShown:
        out += " at (" + std::to_string(event.rect.left) + ", " + std::to_string(event.rect.top) +
               ") \"" + OneLine(event.text) + "\"";
        break;
    case EventKind::MessageBox:
        out += " \"" + OneLine(event.detail) + "\": \"" + OneLine(event.text) + "\"";
        break;
    case EventKind::ShellOpen:
        out += " \"" + OneLine(event.text) + "\"";
        if (!event.detail.empty())
            out += " \"" + OneLine(event.detail) + "\"";
        break;
    case EventKind::Sound:
    case EventKind::Run:
        out += " \"" + OneLine(event.text) + "\"";
        break;
    case EventKind::Exit:
        out += " code " + std::to_string(event.value);
        break;
    case EventKind::Drag:
    case EventKind::Foreground:
    case EventKind::BringToTop:
        out += " " + HandleText(event.window);
        break;
    }
    return out;
}

// --- Menus ---------------------------------------------------------------------

class HeadlessUi::HeadlessMenu : public Menu {
public:
    HeadlessMenu(HeadlessUi& ui, std::vector<MenuItem> items)
        : m_ui(ui), m_items(std::move(items)) {}

    bool SetDefaultItem(unsigned item, bool byPosition) override {
        if (byPosition) {
            if (item >= m_items.size() || m_items[item].command == 0)
                return false;
            m_default = static_cast<int>(item);
            return true;
        }
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            if (item != 0 && m_items[i].command == item) {
                m_default = static_cast<int>(i);
                return true;
            }
        }
        return false;
    }

    int GetItemId(int position) const override {
        if (position < 0 || static_cast<std::size_t>(position) >= m_items.size() ||
            m_items[static_cast<std::size_t>(position)].command == 0)
            return -1;
        return static_cast<int>(m_items[static_cast<std::size_t>(position)].command);
    }

    void Track(Point at, WindowHandle target) override {
        std::string text;
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            if (i != 0)
                text += '\n';
            if (m_items[i].command == 0)
                text += "----";
            else
                text += (static_cast<int>(i) == m_default ? "*" : "") + m_items[i].text;
        }
        m_ui.m_openMenu = ShownMenu{m_items, m_default, at, target};
        Event event;
        event.kind = EventKind::MenuShown;
        event.window = target;
        event.text = text;
        event.rect = Rect{at.x, at.y, at.x, at.y};
        m_ui.Record(std::move(event));
    }

private:
    HeadlessUi& m_ui;
    std::vector<MenuItem> m_items;
    int m_default = -1;
};

// --- Painting --------------------------------------------------------------------

// A picture of the loader: its number and the size its data declared.
class HeadlessPicture final : public Picture {
public:
    HeadlessPicture(int number, Size pixels) : m_number(number), m_pixels(pixels) {}
    Size HimetricSize() const override {
        // 96 pixels per inch, 2540 hundredths of a millimetre per inch. A
        // BMP header may declare any 32-bit size: counted in 64 bits and
        // held at the int range.
        const auto himetric = [](int pixels) {
            const std::int64_t value = (std::int64_t{pixels} * 2540 + 48) / 96;
            return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                             std::numeric_limits<int>::max()));
        };
        return Size{himetric(m_pixels.cx), himetric(m_pixels.cy)};
    }
    int Number() const { return m_number; }

private:
    int m_number;
    Size m_pixels;
};

class HeadlessUi::HeadlessMemoryCanvas final : public MemoryCanvas {
public:
    HeadlessMemoryCanvas(HeadlessUi& ui, int number, Size size)
        : m_ui(ui), m_number(number), m_size(size) {}
    ~HeadlessMemoryCanvas() override {
        std::lock_guard<std::mutex> lock(m_ui.m_canvasMutex);
        --m_ui.m_liveCanvases;
    }
    HeadlessMemoryCanvas(const HeadlessMemoryCanvas&) = delete;
    HeadlessMemoryCanvas& operator=(const HeadlessMemoryCanvas&) = delete;

    int Number() const { return m_number; }
    Size GetSize() const override { return m_size; }

    void FillRect(const Rect& rect, Colour colour) override {
        CanvasOp op;
        op.kind = CanvasOp::Kind::Fill;
        op.canvas = m_number;
        op.rect = rect;
        op.colour = colour;
        m_ui.AddCanvasOp(op);
    }

    bool DrawPicture(const Picture& picture, const Rect& dest) override {
        const auto* known = dynamic_cast<const HeadlessPicture*>(&picture);
        if (known == nullptr)
            return false;
        CanvasOp op;
        op.kind = CanvasOp::Kind::Picture;
        op.canvas = m_number;
        op.rect = dest;
        op.picture = known->Number();
        m_ui.AddCanvasOp(op);
        return true;
    }

    void CopyTo(MemoryCanvas& target, const Rect& source, Point at) const override {
        CanvasOp op;
        op.kind = CanvasOp::Kind::Copy;
        op.canvas = m_number;
        op.rect = source;
        const auto* known = dynamic_cast<const HeadlessMemoryCanvas*>(&target);
        op.target = known != nullptr ? known->Number() : 0;
        op.at = at;
        m_ui.AddCanvasOp(op);
    }

private:
    HeadlessUi& m_ui;
    int m_number;
    Size m_size;
};

class HeadlessUi::HeadlessEvent final : public WaitableEvent {
public:
    explicit HeadlessEvent(HeadlessUi& ui) : m_ui(ui) {}

    void Set() override {
        {
            std::lock_guard<std::mutex> lock(m_ui.m_clockMutex);
            m_set = true;
        }
        m_ui.m_clockSignal.notify_all();
    }

    void Reset() override {
        std::lock_guard<std::mutex> lock(m_ui.m_clockMutex);
        m_set = false;
    }

    bool Wait(unsigned ms) override {
        const std::uint64_t deadline = m_ui.Now() + ms;
        std::unique_lock<std::mutex> lock(m_ui.m_clockMutex);
        for (;;) {
            if (m_set)
                return true;
            const std::uint64_t now = m_ui.Now();
            if (now >= deadline)
                return false;
            if (m_ui.m_mode == ClockMode::Manual)
                m_ui.m_clockSignal.wait(lock); // until the test moves the clock
            else
                m_ui.m_clockSignal.wait_for(lock, std::chrono::milliseconds(deadline - now));
        }
    }

private:
    HeadlessUi& m_ui;
    bool m_set = false; // guarded by the window system's clock mutex
};

class HeadlessUi::HeadlessCanvas : public Canvas {
public:
    HeadlessCanvas(HeadlessUi& ui, WindowHandle window) : m_ui(ui), m_window(window) {}

    void FillRect(const Rect& rect, Colour colour) override {
        PaintOp op = NewOp(PaintOp::Kind::Fill);
        op.rect = rect;
        op.colour = colour;
        m_ui.m_paintOps.push_back(std::move(op));
    }

    void DrawBitmap(const Bitmap& bitmap, int x, int y) override {
        PaintOp op = NewOp(PaintOp::Kind::Bitmap);
        const Size size = bitmap.GetSize();
        op.rect = Rect{x, y, x + size.cx, y + size.cy};
        if (const auto* known = dynamic_cast<const HeadlessBitmap*>(&bitmap))
            op.resourceId = known->Id();
        m_ui.m_paintOps.push_back(std::move(op));
    }

    void DrawIcon(IconHandle icon, int x, int y) override {
        PaintOp op = NewOp(PaintOp::Kind::Icon);
        op.rect = Rect{x, y, x + 32, y + 32};
        op.resourceId = IconIdOf(icon);
        m_ui.m_paintOps.push_back(std::move(op));
    }

    void SetFont(const Font* font) override {
        const auto* known = dynamic_cast<const HeadlessFont*>(font);
        m_font = known != nullptr ? known->Spec() : FontSpec{"", 0, 400, false, false};
    }

    void SetTextColour(Colour colour) override { m_textColour = colour; }
    void SetTransparentBackground() override { m_transparent = true; }

    void DrawMemoryCanvas(const MemoryCanvas& canvas, const Rect& source, Point at) override {
        PaintOp op = NewOp(PaintOp::Kind::MemoryCanvas);
        op.rect = Rect{at.x, at.y, at.x + source.Width(), at.y + source.Height()};
        if (const auto* known = dynamic_cast<const HeadlessMemoryCanvas*>(&canvas))
            op.resourceId = known->Number();
        m_ui.m_paintOps.push_back(std::move(op));
    }

    void DrawText(const std::string& text, const Rect& rect, unsigned flags) override {
        PaintOp op = NewOp(PaintOp::Kind::Text);
        op.rect = rect;
        op.text = text;
        op.colour = m_textColour;
        op.fontFace = m_font.face;
        op.underline = m_font.underline;
        op.transparent = m_transparent;
        op.flags = flags;
        op.layout = LayOutText(text, rect, flags);

        Event event;
        event.kind = EventKind::TextDrawn;
        event.window = m_window;
        event.rect = rect;
        event.value = op.layout.ellipsis ? 1 : 0;
        for (std::size_t i = 0; i < op.layout.lines.size(); ++i)
            event.text += (i != 0 ? "\n" : "") + op.layout.lines[i];
        m_ui.m_paintOps.push_back(std::move(op));
        m_ui.Record(std::move(event));
    }

private:
    PaintOp NewOp(PaintOp::Kind kind) const {
        PaintOp op;
        op.kind = kind;
        op.window = m_window;
        return op;
    }

    HeadlessUi& m_ui;
    WindowHandle m_window;
    FontSpec m_font{"", 0, 400, false, false};
    Colour m_textColour = 0;
    bool m_transparent = false;
};

// --- Start-up ----------------------------------------------------------------------

std::unique_ptr<ControlHosting> HeadlessUi::EnableControlHosting() {
    return std::make_unique<ControlHosting>();
}

// --- Construction, clock, loop -------------------------------------------------

HeadlessUi::HeadlessUi(ClockMode mode) : HeadlessUi(ResourceTable{}, mode) {}

HeadlessUi::HeadlessUi(ResourceTable resources, ClockMode mode)
    : m_mode(mode), m_start(std::chrono::steady_clock::now()), m_resources(std::move(resources)) {
    for (const BitmapResource& bitmap : m_resources.bitmaps)
        m_bitmapSizes[bitmap.id] = bitmap.size;
}

HeadlessUi::~HeadlessUi() = default;

std::uint64_t HeadlessUi::Now() const {
    if (m_mode == ClockMode::Manual)
        return m_manualNow;
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - m_start)
                                          .count());
}

void HeadlessUi::Advance(std::uint64_t ms) {
    if (m_mode == ClockMode::Manual) {
        const std::uint64_t target = m_manualNow + ms;
        DispatchPending();
        while (FireOneTimer(target))
            DispatchPending();
        m_manualNow = std::max(m_manualNow.load(), target);
        SignalClock();
        return;
    }
    const std::uint64_t deadline = Now() + ms;
    for (;;) {
        DispatchPending();
        while (FireOneTimer(Now()))
            DispatchPending();
        if (Now() >= deadline)
            return;
        WaitForWork(deadline);
    }
}

void HeadlessUi::RunPending() {
    DispatchPending();
}

void HeadlessUi::SetIdleHandler(std::function<void()> handler) {
    m_idleHandler = std::move(handler);
}

void HeadlessUi::SetModalTimeLimit(std::uint64_t ms) {
    m_modalTimeLimit = ms;
}

bool HeadlessUi::PopPosted(Posted& out) {
    std::lock_guard<std::mutex> lock(m_queueMutex);
    if (m_queue.empty())
        return false;
    out = m_queue.front();
    m_queue.pop_front();
    return true;
}

bool HeadlessUi::DispatchPending() {
    bool any = false;
    for (;;) {
        Posted posted{};
        if (PopPosted(posted)) {
            any = true;
            if (posted.message == kInvalidateRequest) {
                if (Window* window = Find(posted.window))
                    window->invalid = true;
                continue;
            }
            SendMessage(posted.window, posted.message, posted.wParam, posted.lParam);
            continue;
        }
        // Paint requests come when no posted message waits, as WM_PAINT does.
        WindowHandle due = nullptr;
        for (const auto& [handle, window] : m_windows) {
            if (window->invalid && Showing(handle) && window->info.rect.Width() > 0 &&
                window->info.rect.Height() > 0) {
                due = handle;
                break;
            }
        }
        if (due == nullptr)
            return any;
        any = true;
        Paint(due);
    }
}

std::optional<std::pair<WindowHandle, unsigned>> HeadlessUi::NextTimer() const {
    std::optional<std::pair<WindowHandle, unsigned>> best;
    const Timer* bestTimer = nullptr;
    for (const auto& [key, timer] : m_timers) {
        if (bestTimer == nullptr || timer.due < bestTimer->due ||
            (timer.due == bestTimer->due && timer.order < bestTimer->order)) {
            best = key;
            bestTimer = &timer;
        }
    }
    return best;
}

bool HeadlessUi::FireOneTimer(std::uint64_t limit) {
    const auto next = NextTimer();
    if (!next)
        return false;
    Timer& timer = m_timers.at(*next);
    if (timer.due > limit)
        return false;
    if (m_mode == ClockMode::Manual) {
        m_manualNow = std::max(m_manualNow.load(), timer.due);
        SignalClock();
    }
    // Rescheduled before the handler runs, so that a SetTimer or KillTimer in
    // the handler has the last word. Expiries missed while the thread was
    // busy collapse into one, as WM_TIMER does.
    timer.due += timer.effective;
    if (timer.due <= Now())
        timer.due = Now() + timer.effective;
    SendMessage(next->first, kWmTimer, next->second, 0);
    return true;
}

void HeadlessUi::WaitForWork(std::optional<std::uint64_t> deadline) {
    std::optional<std::uint64_t> wake = deadline;
    if (const auto next = NextTimer()) {
        const std::uint64_t due = m_timers.at(*next).due;
        wake = wake ? std::min(*wake, due) : due;
    }
    std::unique_lock<std::mutex> lock(m_queueMutex);
    const auto posted = [this] { return !m_queue.empty(); };
    if (wake)
        m_queueSignal.wait_until(lock, m_start + std::chrono::milliseconds(*wake), posted);
    else
        m_queueSignal.wait(lock, posted);
}

std::size_t HeadlessUi::PendingMessageCount() const {
    std::lock_guard<std::mutex> lock(m_queueMutex);
    return m_queue.size();
}

// --- Windows ---------------------------------------------------------------------

HeadlessUi::Window* HeadlessUi::Find(WindowHandle window) {
    const auto it = m_windows.find(window);
    return it == m_windows.end() ? nullptr : it->second.get();
}

const HeadlessUi::Window* HeadlessUi::Find(WindowHandle window) const {
    const auto it = m_windows.find(window);
    return it == m_windows.end() ? nullptr : it->second.get();
}

bool HeadlessUi::Showing(WindowHandle handle) const {
    const Window* window = Find(handle);
    if (window == nullptr || !window->info.visible)
        return false;
    return !window->info.isControl || Showing(window->info.owner);
}

const WindowInfo* HeadlessUi::FindWindowInfo(WindowHandle window) const {
    const Window* found = Find(window);
    return found != nullptr ? &found->info : nullptr;
}

WindowHandle HeadlessUi::NewWindow(WindowInfo info, MessageTarget* target) {
    const auto handle =
        reinterpret_cast<WindowHandle>(kWindowBase + kWindowStride * m_nextWindowNumber++);
    auto window = std::make_unique<Window>();
    window->info = std::move(info);
    window->target = target;
    m_windows.emplace(handle, std::move(window));
    return handle;
}

void HeadlessUi::Record(Event event) {
    event.time = Now();
    m_events.push_back(event);
    if (m_listener)
        m_listener(m_events.back());
}

WindowHandle HeadlessUi::CreatePopupWindow(const WindowSpec& spec, MessageTarget* target) {
    WindowInfo info;
    info.className = spec.className;
    info.title = spec.title;
    info.rect = spec.rect;
    info.owner = spec.owner;
    info.exStyle = spec.exStyle;
    const WindowHandle handle = NewWindow(std::move(info), target);
    // A kWmCreate answered with -1 refuses the creation.
    if (SendMessage(handle, kWmCreate, 0, 0) == -1) {
        DestroyWindow(handle);
        return nullptr;
    }
    if (Find(handle) == nullptr)
        return nullptr;
    if (spec.visible)
        SetVisible(handle, true);
    return handle;
}

void HeadlessUi::DestroyWindow(WindowHandle handle) {
    Window* window = Find(handle);
    if (window == nullptr || window->destroying)
        return;
    window->destroying = true;
    // Owned windows go first, as the window manager does it.
    std::vector<WindowHandle> owned;
    for (const auto& [other, state] : m_windows) {
        if (state->info.owner == handle)
            owned.push_back(other);
    }
    for (WindowHandle other : owned)
        DestroyWindow(other);

    SendMessage(handle, kWmDestroy, 0, 0);

    window = Find(handle);
    if (window != nullptr && window->info.visible && !window->info.isControl) {
        Event event;
        event.kind = EventKind::WindowHide;
        event.window = handle;
        event.text = window->info.title;
        Record(std::move(event));
    }
    for (auto it = m_timers.begin(); it != m_timers.end();) {
        if (it->first.first == handle)
            it = m_timers.erase(it);
        else
            ++it;
    }
    if (m_openMenu && m_openMenu->target == handle)
        m_openMenu.reset();
    if (m_mouseTracking && m_mouseTracking->window == handle)
        m_mouseTracking.reset();
    if (m_foreground == handle)
        m_foreground = nullptr;
    if (m_top == handle)
        m_top = nullptr;
    if (m_focus == handle)
        m_focus = nullptr;
    m_windows.erase(handle);
}

void HeadlessUi::SetVisible(WindowHandle handle, bool visible) {
    Window* window = Find(handle);
    if (window == nullptr || window->info.visible == visible)
        return;
    window->info.visible = visible;
    if (visible)
        window->invalid = true;
    if (window->info.isControl)
        return;
    Event event;
    event.kind = visible ? EventKind::WindowShow : EventKind::WindowHide;
    event.window = handle;
    event.text = window->info.title;
    event.rect = window->info.rect;
    Record(std::move(event));
}

void HeadlessUi::SetRect(WindowHandle handle, const Rect& rect) {
    Window* window = Find(handle);
    if (window == nullptr || window->info.rect == rect)
        return;
    const bool resized =
        window->info.rect.Width() != rect.Width() || window->info.rect.Height() != rect.Height();
    window->info.rect = rect;
    // A moved window keeps its pixels; a resized one is painted again.
    if (resized)
        window->invalid = true;
    if (window->info.isControl)
        return;
    Event event;
    event.kind = EventKind::WindowMove;
    event.window = handle;
    event.rect = rect;
    Record(std::move(event));
}

void HeadlessUi::ShowWindow(WindowHandle handle, ShowCommand command) {
    Window* window = Find(handle);
    if (window == nullptr)
        return;
    switch (command) {
    case ShowCommand::Hide:
        if (window->inInitDialog)
            window->hiddenDuringInit = true;
        SetVisible(handle, false);
        if (m_foreground == handle)
            m_foreground = nullptr;
        break;
    case ShowCommand::Normal:
    case ShowCommand::Default:
        if (window->info.iconic) {
            window->info.iconic = false;
            window->invalid = true;
        }
        SetVisible(handle, true);
        m_foreground = handle;
        break;
    case ShowCommand::Show:
        SetVisible(handle, true);
        m_foreground = handle;
        break;
    case ShowCommand::NoActivate:
        SetVisible(handle, true);
        break;
    }
}

bool HeadlessUi::IsWindowVisible(WindowHandle handle) const {
    const Window* window = Find(handle);
    return window != nullptr && window->info.visible;
}

bool HeadlessUi::IsIconic(WindowHandle handle) const {
    const Window* window = Find(handle);
    return window != nullptr && window->info.iconic;
}

void HeadlessUi::SetIconic(WindowHandle handle, bool iconic) {
    if (Window* window = Find(handle)) {
        window->info.iconic = iconic;
        window->invalid = true;
    }
}

void HeadlessUi::SetWindowPos(WindowHandle handle, int x, int y, int cx, int cy, unsigned flags) {
    const Window* window = Find(handle);
    if (window == nullptr)
        return;
    Rect rect = window->info.rect;
    if ((flags & kSwpNoMove) == 0) {
        rect = Rect{x, y, x + rect.Width(), y + rect.Height()};
    }
    if ((flags & kSwpNoSize) == 0) {
        rect.right = rect.left + cx;
        rect.bottom = rect.top + cy;
    }
    SetRect(handle, rect);
    if ((flags & kSwpNoActivate) == 0)
        m_foreground = handle;
}

void HeadlessUi::MoveWindow(WindowHandle handle, const Rect& rect, bool repaint) {
    SetRect(handle, rect);
    if (Window* window = Find(handle); window != nullptr && repaint)
        window->invalid = true;
}

Rect HeadlessUi::GetWindowRect(WindowHandle handle) const {
    const Window* window = Find(handle);
    return window != nullptr ? window->info.rect : Rect{};
}

Rect HeadlessUi::GetClientRect(WindowHandle handle) const {
    const Window* window = Find(handle);
    if (window == nullptr)
        return Rect{};
    return Rect{0, 0, window->info.rect.Width(), window->info.rect.Height()};
}

void HeadlessUi::Paint(WindowHandle handle) {
    Window* window = Find(handle);
    if (window == nullptr)
        return;
    window->invalid = false;
    const std::uintptr_t deviceContext = reinterpret_cast<std::uintptr_t>(handle) + 1;
    SendMessage(handle, kWmEraseBkgnd, deviceContext, 0);
    SendMessage(handle, kWmPaint, 0, 0);
}

void HeadlessUi::RedrawNow(WindowHandle handle) {
    Window* window = Find(handle);
    if (window == nullptr)
        return;
    // A hidden or empty window has nothing to update; it is painted when it
    // shows.
    if (!Showing(handle) || window->info.rect.Width() <= 0 || window->info.rect.Height() <= 0) {
        window->invalid = true;
        return;
    }
    Paint(handle);
}

std::string HeadlessUi::GetWindowText(WindowHandle handle) const {
    const Window* window = Find(handle);
    if (window != nullptr && window->info.isControl)
        return GetItemText(window->info.owner, window->info.controlId);
    return window != nullptr ? window->info.title : std::string();
}

void HeadlessUi::SetWindowText(WindowHandle handle, const std::string& text) {
    Window* window = Find(handle);
    if (window != nullptr && window->info.isControl)
        SetItemText(window->info.owner, window->info.controlId, text);
    else if (window != nullptr)
        window->info.title = text;
}

WindowHandle HeadlessUi::FindTopLevelWindow(const std::string& title) const {
    for (const auto& [handle, window] : m_windows) {
        if (window->info.owner == nullptr && window->info.title == title)
            return handle;
    }
    return nullptr;
}

void HeadlessUi::SetForegroundWindow(WindowHandle handle) {
    if (Find(handle) == nullptr)
        return;
    m_foreground = handle;
    Event event;
    event.kind = EventKind::Foreground;
    event.window = handle;
    Record(std::move(event));
}

void HeadlessUi::BringWindowToTop(WindowHandle handle) {
    if (Find(handle) == nullptr)
        return;
    m_top = handle;
    Event event;
    event.kind = EventKind::BringToTop;
    event.window = handle;
    Record(std::move(event));
}

void HeadlessUi::SetSmallIcon(WindowHandle handle, IconHandle icon) {
    if (Window* window = Find(handle))
        window->info.smallIcon = icon;
}

void HeadlessUi::SetFocus(WindowHandle handle) {
    if (Find(handle) == nullptr || m_focus == handle)
        return;
    const WindowHandle previous = m_focus;
    m_focus = handle;
    SendMessage(handle, kWmSetFocus, reinterpret_cast<std::uintptr_t>(previous), 0);
}

UpdateLayeredFunction HeadlessUi::FindUpdateLayeredWindow() {
    return m_layeredWindows ? &HeadlessUi::UpdateLayered : nullptr;
}

bool HeadlessUi::UpdateLayered(Ui& ui, WindowHandle handle, const LayeredUpdate& update) {
    auto* self = dynamic_cast<HeadlessUi*>(&ui);
    Window* window = self != nullptr ? self->Find(handle) : nullptr;
    // Only a window made layered takes layered updates, as on Windows.
    if (window == nullptr || (window->info.exStyle & kWsExLayered) == 0)
        return false;
    if (update.snapshot != nullptr) {
        window->info.layeredSnapshot = *update.snapshot;
        const Rect& rect = window->info.rect;
        self->SetRect(handle, Rect{rect.left, rect.top, rect.left + update.snapshot->Width(),
                                   rect.top + update.snapshot->Height()});
    }
    window->info.layeredAlphas.push_back(update.blend.sourceConstantAlpha);
    return true;
}

// --- Messages ----------------------------------------------------------------------

void HeadlessUi::PostMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                             std::intptr_t lParam) {
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_queue.push_back(Posted{window, message, wParam, lParam});
    }
    m_queueSignal.notify_all();
}

std::intptr_t HeadlessUi::SendMessage(WindowHandle handle, unsigned message, std::uintptr_t wParam,
                                      std::intptr_t lParam) {
    const Window* window = Find(handle);
    if (window == nullptr)
        return 0;
    MessageTarget* target = window->target;
    std::intptr_t result = 0;
    if (target != nullptr && target->OnMessage(handle, message, wParam, lParam, result))
        return result;
    return DefaultHandling(handle, message, wParam, lParam);
}

std::intptr_t HeadlessUi::DefaultHandling(WindowHandle handle, unsigned message,
                                          std::uintptr_t wParam, std::intptr_t) {
    const Window* window = Find(handle);
    if (window == nullptr)
        return 0;
    switch (message) {
    case kWmNcLButtonDown:
        if (wParam == kHtCaption) {
            Event event;
            event.kind = EventKind::Drag;
            event.window = handle;
            Record(std::move(event));
        }
        return 0;
    case kWmClose:
        // The dialog manager turns a close into the Cancel command.
        if (window->info.isDialog)
            PostMessage(handle, kWmCommand, MakeCommandParam(static_cast<unsigned>(kIdCancel)), 0);
        else
            DestroyWindow(handle);
        return 0;
    default:
        return 0;
    }
}

// --- Timers ------------------------------------------------------------------------

void HeadlessUi::SetTimer(WindowHandle window, unsigned id, unsigned periodMs) {
    if (Find(window) == nullptr)
        return;
    Timer timer;
    timer.period = periodMs;
    timer.effective = std::max(periodMs, kTimerMinimumMs);
    timer.due = Now() + timer.effective;
    timer.order = ++m_timerOrder;
    m_timers[{window, id}] = timer;
}

void HeadlessUi::KillTimer(WindowHandle window, unsigned id) {
    m_timers.erase({window, id});
}

std::optional<unsigned> HeadlessUi::TimerPeriod(WindowHandle window, unsigned id) const {
    const auto it = m_timers.find({window, id});
    if (it == m_timers.end())
        return std::nullopt;
    return it->second.period;
}

std::optional<std::uint64_t> HeadlessUi::TimerDue(WindowHandle window, unsigned id) const {
    const auto it = m_timers.find({window, id});
    if (it == m_timers.end())
        return std::nullopt;
    return it->second.due;
}

// --- Dialogs -----------------------------------------------------------------------

WindowHandle HeadlessUi::CreateDialogWindow(int templateId, MessageTarget* target,
                                            WindowHandle owner) {
    WindowInfo info;
    info.className = "#32770"; // the dialog class
    info.owner = owner;
    info.isDialog = true;
    info.templateId = templateId;
    // As the dialog manager: no template, no dialog.
    const DialogResource* dialog = m_resources.FindDialog(templateId);
    if (dialog == nullptr)
        return nullptr;
    info.title = dialog->caption;
    info.rect = Rect{0, 0, dialog->pixels.cx, dialog->pixels.cy};
    const WindowHandle handle = NewWindow(std::move(info), target);
    // The controls exist before the dialog hears of its creation.
    for (const ControlResource& resource : dialog->controls) {
        Control control;
        control.resource = resource;
        control.text = resource.text;
        control.enabled = (resource.style & kWsDisabled) == 0;
        WindowInfo controlInfo;
        controlInfo.className = resource.className;
        controlInfo.owner = handle;
        controlInfo.visible = true;
        controlInfo.rect = resource.pixels;
        controlInfo.isControl = true;
        controlInfo.controlId = resource.id;
        const WindowHandle controlWindow = NewWindow(std::move(controlInfo), nullptr);
        Window* dialogWindow = Find(handle);
        dialogWindow->controls.push_back(std::move(control));
        dialogWindow->controlWindows.push_back(controlWindow);
    }
    // The template's initial items, as the framework adds them.
    for (const DialogInitResource& item : dialog->initData)
        ListAddString(handle, item.control, item.text);
    if (SendMessage(handle, kWmCreate, 0, 0) == -1) {
        DestroyWindow(handle);
        return nullptr;
    }
    Window* window = Find(handle);
    if (window == nullptr)
        return nullptr;
    window->inInitDialog = true;
    SendMessage(handle, kWmInitDialog, 0, 0);
    window = Find(handle);
    if (window == nullptr)
        return nullptr;
    window->inInitDialog = false;
    if (!window->hiddenDuringInit && !window->ended)
        ShowWindow(handle, ShowCommand::Normal);
    return handle;
}

WindowHandle HeadlessUi::FindDialogOfTemplate(int templateId) const {
    WindowHandle found = nullptr;
    // Handles grow with creation, so the last match is the newest.
    for (const auto& [handle, window] : m_windows) {
        if (window->info.isDialog && window->info.templateId == templateId && !window->ended)
            found = handle;
    }
    return found;
}

WindowHandle HeadlessUi::OpenDialog(int templateId, MessageTarget* target, WindowHandle owner) {
    return CreateDialogWindow(templateId, target, owner);
}

bool HeadlessUi::DialogEnded(WindowHandle dialog, int* result) const {
    const Window* window = Find(dialog);
    if (window == nullptr || !window->ended)
        return false;
    if (result != nullptr)
        *result = window->result;
    return true;
}

int HeadlessUi::RunModalDialog(int templateId, MessageTarget* target, WindowHandle owner) {
    const WindowHandle handle = CreateDialogWindow(templateId, target, owner);
    if (handle == nullptr)
        return -1;
    const std::uint64_t start = Now();
    for (;;) {
        DispatchPending();
        const Window* window = Find(handle);
        if (window == nullptr)
            return -1; // destroyed without EndDialog
        if (window->ended) {
            const int result = window->result;
            DestroyWindow(handle);
            return result;
        }
        if (FireOneTimer(Now()))
            continue;
        if (m_idleHandler) {
            const std::uint64_t before = Now();
            m_idleHandler();
            window = Find(handle);
            if (window == nullptr || window->ended || Now() != before || PendingMessageCount() > 0)
                continue;
        }
        if (m_mode == ClockMode::Real) {
            WaitForWork(std::nullopt);
            continue;
        }
        // Manual clock and nothing to do: jump to the next timer.
        const auto next = NextTimer();
        if (!next || m_timers.at(*next).due > start + m_modalTimeLimit) {
            DestroyWindow(handle);
            return -1;
        }
        FireOneTimer(m_timers.at(*next).due);
    }
}

void HeadlessUi::EndDialog(WindowHandle dialog, int result) {
    if (Window* window = Find(dialog)) {
        window->ended = true;
        window->result = result;
    }
}

// --- Controls ----------------------------------------------------------------------

const HeadlessUi::Control* HeadlessUi::FindControl(WindowHandle dialog, int id) const {
    const Window* window = Find(dialog);
    if (window == nullptr)
        return nullptr;
    // The first one with the id, as GetDlgItem finds it.
    for (const Control& control : window->controls) {
        if (control.resource.id == id)
            return &control;
    }
    return nullptr;
}

HeadlessUi::Control* HeadlessUi::FindControl(WindowHandle dialog, int id) {
    return const_cast<Control*>(std::as_const(*this).FindControl(dialog, id));
}

const HeadlessUi::Control* HeadlessUi::FindList(WindowHandle dialog, int id) const {
    const Control* control = FindControl(dialog, id);
    return control != nullptr && control->IsList() ? control : nullptr;
}

HeadlessUi::Control* HeadlessUi::FindList(WindowHandle dialog, int id) {
    return const_cast<Control*>(std::as_const(*this).FindList(dialog, id));
}

std::vector<ControlInfo> HeadlessUi::Controls(WindowHandle dialog) const {
    const Window* window = Find(dialog);
    return window != nullptr ? window->controls : std::vector<ControlInfo>{};
}

const ControlInfo* HeadlessUi::FindControlInfo(WindowHandle dialog, int id) const {
    return FindControl(dialog, id);
}

bool HeadlessUi::PressButton(WindowHandle dialog, int id) {
    const Control* control = FindControl(dialog, id);
    if (control == nullptr || !control->enabled || control->resource.className != "Button")
        return false;
    if (IsAutoCheckBox(control->resource.style))
        FindControl(dialog, id)->checked = !control->checked;
    SendMessage(dialog, kWmCommand, MakeCommandParam(static_cast<unsigned>(id)), 0);
    return true;
}

void HeadlessUi::CheckItem(WindowHandle dialog, int id, bool checked) {
    if (Control* control = FindControl(dialog, id))
        control->checked = checked;
}

bool HeadlessUi::IsItemChecked(WindowHandle dialog, int id) const {
    const Control* control = FindControl(dialog, id);
    return control != nullptr && control->checked;
}

void HeadlessUi::SetItemText(WindowHandle dialog, int id, const std::string& text) {
    if (Control* control = FindControl(dialog, id))
        control->text = text;
}

std::string HeadlessUi::GetItemText(WindowHandle dialog, int id) const {
    const Control* control = FindControl(dialog, id);
    return control != nullptr ? control->text : std::string();
}

void HeadlessUi::EnableItem(WindowHandle dialog, int id, bool enable) {
    if (Control* control = FindControl(dialog, id))
        control->enabled = enable;
}

bool HeadlessUi::IsItemEnabled(WindowHandle dialog, int id) const {
    const Control* control = FindControl(dialog, id);
    return control != nullptr && control->enabled;
}

int HeadlessUi::ListAddString(WindowHandle dialog, int id, const std::string& text) {
    Control* control = FindList(dialog, id);
    if (control == nullptr)
        return -1;
    auto& items = control->items;
    auto position = items.end();
    const std::uint32_t sort = control->resource.className == "ListBox" ? kLbsSort : kCbsSort;
    if ((control->resource.style & sort) != 0)
        position = std::upper_bound(items.begin(), items.end(), text, LessFolded);
    const int index = static_cast<int>(position - items.begin());
    items.insert(position, text);
    if (control->curSel >= index)
        ++control->curSel; // the selection stays on its item
    return index;
}

void HeadlessUi::ListDeleteString(WindowHandle dialog, int id, int index) {
    Control* control = FindList(dialog, id);
    if (control == nullptr || index < 0 || static_cast<std::size_t>(index) >= control->items.size())
        return;
    control->items.erase(control->items.begin() + index);
    // As LB_DELETESTRING: the selected item gone, nothing is selected; a
    // selection below it moves up with its item.
    if (control->curSel == index)
        control->curSel = -1;
    else if (control->curSel > index)
        --control->curSel;
}

void HeadlessUi::ListResetContent(WindowHandle dialog, int id) {
    if (Control* control = FindList(dialog, id)) {
        control->items.clear();
        control->curSel = -1;
        if (control->resource.className == "ComboBox")
            control->text.clear();
    }
}

int HeadlessUi::ListGetCount(WindowHandle dialog, int id) const {
    const Control* control = FindList(dialog, id);
    return control != nullptr ? static_cast<int>(control->items.size()) : 0;
}

std::string HeadlessUi::ListGetText(WindowHandle dialog, int id, int index) const {
    const Control* control = FindList(dialog, id);
    if (control == nullptr || index < 0 || static_cast<std::size_t>(index) >= control->items.size())
        return std::string();
    return control->items[static_cast<std::size_t>(index)];
}

int HeadlessUi::ListFindPrefix(WindowHandle dialog, int id, int start,
                               const std::string& text) const {
    const Control* control = FindList(dialog, id);
    if (control == nullptr || control->items.empty())
        return -1;
    const int count = static_cast<int>(control->items.size());
    if (start < -1 || start >= count)
        start = -1;
    for (int k = 0; k < count; ++k) {
        const int index = (start + 1 + k) % count;
        if (StartsWithFolded(control->items[static_cast<std::size_t>(index)], text))
            return index;
    }
    return -1;
}

int HeadlessUi::ListGetCurSel(WindowHandle dialog, int id) const {
    const Control* control = FindList(dialog, id);
    return control != nullptr ? control->curSel : -1;
}

void HeadlessUi::ListSetCurSel(WindowHandle dialog, int id, int index) {
    if (Control* control = FindList(dialog, id)) {
        const bool inRange = index >= 0 && static_cast<std::size_t>(index) < control->items.size();
        control->curSel = inRange ? index : -1;
        // A combo box shows its selection as its text.
        if (control->resource.className == "ComboBox")
            control->text = inRange ? control->items[static_cast<std::size_t>(index)] : "";
    }
}

// --- Menus -------------------------------------------------------------------------

std::vector<MenuPopup> HeadlessUi::MenuBarResource(int menuId) const {
    const port::MenuResource* menu = m_resources.FindMenu(menuId);
    if (menu == nullptr || m_removed.count({ResourceKind::Menu, menuId}) != 0)
        return {};
    return menu->popups;
}

std::vector<MenuItem> HeadlessUi::MenuResource(int menuId) const {
    std::vector<MenuPopup> popups = MenuBarResource(menuId);
    return popups.empty() ? std::vector<MenuItem>{} : std::move(popups.front().items);
}

void HeadlessUi::SetWindowMenu(WindowHandle handle, int menuId) {
    if (Window* window = Find(handle))
        window->info.menuId = MenuResource(menuId).empty() ? 0 : menuId;
}

void HeadlessUi::AppendSystemMenuItem(WindowHandle handle, unsigned command,
                                      const std::string& text) {
    if (Window* window = Find(handle)) {
        window->info.systemMenuItems.push_back(MenuItem{0, ""});
        window->info.systemMenuItems.push_back(MenuItem{command, text});
    }
}

std::unique_ptr<Menu> HeadlessUi::LoadPopupMenu(int menuId) {
    std::vector<MenuItem> items = MenuResource(menuId);
    if (items.empty())
        return nullptr;
    return std::make_unique<HeadlessMenu>(*this, std::move(items));
}

bool HeadlessUi::ChooseMenuItem(unsigned command) {
    if (!m_openMenu || command == 0)
        return false;
    const auto& items = m_openMenu->items;
    const bool present = std::any_of(items.begin(), items.end(),
                                     [command](const MenuItem& i) { return i.command == command; });
    if (!present)
        return false;
    const WindowHandle target = m_openMenu->target;
    m_openMenu.reset();
    PostMessage(target, kWmCommand, MakeCommandParam(command), 0);
    return true;
}

void HeadlessUi::DismissMenu() {
    m_openMenu.reset();
}

// --- Resources ---------------------------------------------------------------------

void HeadlessUi::RemoveResource(ResourceKind kind, int id) {
    m_removed[{kind, id}] = true;
}

void HeadlessUi::SetBitmapResource(int id, Size size) {
    m_bitmapSizes[id] = size;
    m_removed.erase({ResourceKind::Bitmap, id});
}

std::string HeadlessUi::LoadString(int id) const {
    const StringResource* string = m_resources.FindString(id);
    if (string == nullptr || m_removed.count({ResourceKind::String, id}) != 0)
        return std::string();
    return string->text;
}

IconHandle HeadlessUi::LoadIcon(int id) {
    if (m_removed.count({ResourceKind::Icon, id}) != 0 || !m_resources.HasIcon(id))
        return nullptr;
    return IconFor(id);
}

int HeadlessUi::IconResourceId(IconHandle icon) const {
    const int id = IconIdOf(icon);
    return id != 0 && m_resources.HasIcon(id) ? id : 0;
}

std::unique_ptr<Bitmap> HeadlessUi::LoadBitmap(int id) {
    if (m_removed.count({ResourceKind::Bitmap, id}) != 0)
        return nullptr;
    const auto it = m_bitmapSizes.find(id);
    if (it == m_bitmapSizes.end())
        return nullptr;
    return std::make_unique<HeadlessBitmap>(id, it->second);
}

CursorHandle HeadlessUi::LoadSystemCursor(SystemCursor cursor) {
    switch (cursor) {
    case SystemCursor::Hand:
        return reinterpret_cast<CursorHandle>(kCursorHand);
    case SystemCursor::Wait:
        return reinterpret_cast<CursorHandle>(kCursorWait);
    case SystemCursor::Arrow:
        break;
    }
    return reinterpret_cast<CursorHandle>(kCursorArrow);
}

std::unique_ptr<Font> HeadlessUi::CreateFont(const FontSpec& spec) {
    return std::make_unique<HeadlessFont>(spec);
}

std::unique_ptr<Brush> HeadlessUi::CreateSolidBrush(Colour colour) {
    return std::make_unique<HeadlessBrush>(colour);
}

// --- Painting, pointer, screen -----------------------------------------------------

std::unique_ptr<Canvas> HeadlessUi::BeginPaint(WindowHandle window) {
    return std::make_unique<HeadlessCanvas>(*this, Find(window) != nullptr ? window : nullptr);
}

std::unique_ptr<Canvas> HeadlessUi::CanvasFor(std::uintptr_t deviceContext) {
    WindowHandle window = nullptr;
    if (deviceContext % kWindowStride == 1) {
        const auto candidate = reinterpret_cast<WindowHandle>(deviceContext - 1);
        if (Find(candidate) != nullptr)
            window = candidate;
    }
    return std::make_unique<HeadlessCanvas>(*this, window);
}

// --- Pictures, memory canvases, events, control windows -----------------------------

void HeadlessUi::SetResourceData(int id, const std::string& type, std::string bytes) {
    m_resourceData[{id, type}] = std::move(bytes);
}

std::string HeadlessUi::LoadResourceData(int id, const std::string& type) const {
    if (const auto it = m_resourceData.find({id, type}); it != m_resourceData.end())
        return it->second;
    const DataResource* found = m_resources.FindData(id, type);
    return found != nullptr ? found->bytes : std::string();
}

void HeadlessUi::SetPictureLoadFilter(std::function<bool(const std::string&)> filter) {
    m_pictureFilter = std::move(filter);
}

std::unique_ptr<Picture> HeadlessUi::LoadPicture(const std::string& bytes) {
    const auto u16 = [&bytes](std::size_t at) {
        return static_cast<int>(static_cast<unsigned char>(bytes[at]) |
                                (static_cast<unsigned char>(bytes[at + 1]) << 8));
    };
    std::optional<Size> declared;
    if (bytes.size() >= 13 && bytes.compare(0, 3, "GIF") == 0) {
        declared = Size{u16(6), u16(8)};
    } else if (bytes.size() >= 26 && bytes.compare(0, 2, "BM") == 0) {
        std::int32_t header[2] = {};
        std::memcpy(header, bytes.data() + 18, sizeof header);
        // A top-down bitmap declares a negative height; the most negative
        // one has no positive counterpart and is taken as the largest.
        const std::int32_t height = header[1] >= 0
                                        ? header[1]
                                        : (header[1] == std::numeric_limits<std::int32_t>::min()
                                               ? std::numeric_limits<std::int32_t>::max()
                                               : -header[1]);
        declared = Size{header[0], height};
    }
    if (declared && m_pictureFilter && !m_pictureFilter(bytes))
        declared.reset();
    std::lock_guard<std::mutex> lock(m_canvasMutex);
    int number = 0;
    if (declared) {
        number = 1;
        for (const PictureLoad& load : m_pictureLoads)
            number += load.picture != 0 ? 1 : 0;
    }
    m_pictureLoads.push_back(PictureLoad{bytes, number});
    if (!declared)
        return nullptr;
    return std::make_unique<HeadlessPicture>(number, *declared);
}

std::vector<HeadlessUi::PictureLoad> HeadlessUi::PictureLoads() const {
    std::lock_guard<std::mutex> lock(m_canvasMutex);
    return m_pictureLoads;
}

Colour HeadlessUi::GetSystemColour(SystemColour colour) const {
    // Fixed values, apart so that tests can tell them from each other.
    return colour == SystemColour::ButtonFace ? Rgb(240, 240, 240) : Rgb(250, 250, 250);
}

std::unique_ptr<MemoryCanvas> HeadlessUi::CreateMemoryCanvas(WindowHandle compatibleWith,
                                                             Size size) {
    if (Find(compatibleWith) == nullptr || size.cx <= 0 || size.cy <= 0)
        return nullptr;
    std::lock_guard<std::mutex> lock(m_canvasMutex);
    ++m_liveCanvases;
    return std::make_unique<HeadlessMemoryCanvas>(*this, ++m_canvasCount, size);
}

void HeadlessUi::AddCanvasOp(CanvasOp op) {
    std::lock_guard<std::mutex> lock(m_canvasMutex);
    // An animation draws for as long as the program runs: only the latest
    // operations are kept.
    if (m_canvasOps.size() >= kCanvasOpLimit)
        m_canvasOps.erase(m_canvasOps.begin(), m_canvasOps.begin() + kCanvasOpLimit / 2);
    m_canvasOps.push_back(op);
}

std::vector<CanvasOp> HeadlessUi::CanvasOps() const {
    std::lock_guard<std::mutex> lock(m_canvasMutex);
    return m_canvasOps;
}

void HeadlessUi::ClearCanvasOps() {
    std::lock_guard<std::mutex> lock(m_canvasMutex);
    m_canvasOps.clear();
}

int HeadlessUi::LiveMemoryCanvasCount() const {
    std::lock_guard<std::mutex> lock(m_canvasMutex);
    return m_liveCanvases;
}

std::unique_ptr<WaitableEvent> HeadlessUi::CreateManualResetEvent() {
    return std::make_unique<HeadlessEvent>(*this);
}

void HeadlessUi::SignalClock() {
    { std::lock_guard<std::mutex> lock(m_clockMutex); }
    m_clockSignal.notify_all();
}

void HeadlessUi::InvalidateWindow(WindowHandle window, bool erase) {
    PostMessage(window, kInvalidateRequest, erase ? 1 : 0, 0);
}

WindowHandle HeadlessUi::GetItem(WindowHandle dialog, int id) const {
    const Window* window = Find(dialog);
    if (window == nullptr)
        return nullptr;
    for (std::size_t i = 0; i < window->controls.size(); ++i) {
        if (window->controls[i].resource.id == id)
            return window->controlWindows[i];
    }
    return nullptr;
}

bool HeadlessUi::SubclassWindow(WindowHandle window, MessageTarget* target) {
    Window* found = Find(window);
    if (found == nullptr)
        return false;
    found->target = target;
    return true;
}

// --- What the hyperlink control uses -------------------------------------------------

class HeadlessUi::HeadlessTooltip final : public Tooltip {
public:
    HeadlessTooltip(HeadlessUi& ui, WindowHandle window) : m_ui(ui), m_window(window) {}
    ~HeadlessTooltip() override { m_ui.m_tooltips.erase(m_window); }
    HeadlessTooltip(const HeadlessTooltip&) = delete;
    HeadlessTooltip& operator=(const HeadlessTooltip&) = delete;

    void SetText(const std::string& text) override { m_ui.m_tooltips[m_window].text = text; }
    void Relay(unsigned message, std::uintptr_t, std::intptr_t) override {
        m_ui.m_tooltips[m_window].relayed.push_back(message);
    }

private:
    HeadlessUi& m_ui;
    WindowHandle m_window;
};

std::uint32_t HeadlessUi::GetStyle(WindowHandle handle) const {
    const Window* window = Find(handle);
    if (window == nullptr)
        return 0;
    if (window->info.isControl) {
        const Control* control = FindControl(window->info.owner, window->info.controlId);
        return control != nullptr ? control->resource.style : 0;
    }
    return window->style;
}

void HeadlessUi::AddStyle(WindowHandle handle, std::uint32_t bits) {
    Window* window = Find(handle);
    if (window == nullptr)
        return;
    if (window->info.isControl) {
        if (Control* control = FindControl(window->info.owner, window->info.controlId))
            control->resource.style |= bits;
        return;
    }
    window->style |= bits;
}

Rect HeadlessUi::GetWindowRectInParent(WindowHandle handle) const {
    // Controls keep their rectangle in the dialog's client area; windows
    // without borders have client areas as large as they are.
    return GetWindowRect(handle);
}

Rect HeadlessUi::GetClientRectInParent(WindowHandle handle) const {
    return GetWindowRect(handle);
}

Point HeadlessUi::ScreenToClient(WindowHandle handle, Point point) const {
    const Window* window = Find(handle);
    if (window == nullptr)
        return point;
    Point origin{window->info.rect.left, window->info.rect.top};
    if (window->info.isControl) {
        const Rect dialog = GetWindowRect(window->info.owner);
        origin.x += dialog.left;
        origin.y += dialog.top;
    }
    return Point{point.x - origin.x, point.y - origin.y};
}

std::unique_ptr<Font> HeadlessUi::CreateWindowFont(WindowHandle handle, bool underline) {
    FontSpec spec{"MS Shell Dlg", 80, 400, false, underline};
    const Window* window = Find(handle);
    if (window != nullptr && window->info.isControl) {
        const Window* dialog = Find(window->info.owner);
        const DialogResource* resource =
            dialog != nullptr ? m_resources.FindDialog(dialog->info.templateId) : nullptr;
        if (resource != nullptr && !resource->fontFace.empty()) {
            spec.face = resource->fontFace;
            spec.pointTenths = resource->fontPoints * 10;
        }
    }
    return std::make_unique<HeadlessFont>(spec);
}

Size HeadlessUi::MeasureText(WindowHandle, const Font*, const std::string& text) const {
    return Size{kCharWidth * static_cast<int>(text.size()), kLineHeight};
}

std::unique_ptr<Ui::Tooltip> HeadlessUi::CreateTooltip(WindowHandle window,
                                                       const std::string& text) {
    if (Find(window) == nullptr)
        return nullptr;
    m_tooltips[window] = TooltipInfo{text, {}};
    return std::make_unique<HeadlessTooltip>(*this, window);
}

std::optional<HeadlessUi::TooltipInfo> HeadlessUi::FindTooltip(WindowHandle window) const {
    const auto it = m_tooltips.find(window);
    if (it == m_tooltips.end())
        return std::nullopt;
    return it->second;
}

CursorHandle HeadlessUi::ProgramCursor() {
    return reinterpret_cast<CursorHandle>(kCursorProgram);
}

CursorHandle HeadlessUi::LoadProgramCursor(const std::string&, int) {
    if (!m_programCursorAvailable)
        return nullptr;
    ++m_liveProgramCursors;
    return ProgramCursor();
}

void HeadlessUi::DestroyCursor(CursorHandle cursor) {
    if (cursor == ProgramCursor())
        --m_liveProgramCursors;
}

void HeadlessUi::SetClassesRootDefault(const std::string& key, const std::string& value) {
    m_classesRoot[key] = value;
}

bool HeadlessUi::ReadClassesRootDefault(const std::string& key, std::string& value) const {
    const auto it = m_classesRoot.find(key);
    if (it == m_classesRoot.end())
        return false;
    value = it->second;
    return true;
}

int HeadlessUi::ShellOpenWithResult(const std::string& file) {
    Event event;
    event.kind = EventKind::ShellOpen;
    event.text = file;
    event.value = m_shellOpenCode;
    Record(std::move(event));
    return m_shellOpenCode;
}

int HeadlessUi::RunCommandLine(const std::string& commandLine) {
    Event event;
    event.kind = EventKind::Run;
    event.text = commandLine;
    event.value = m_runResult;
    Record(std::move(event));
    return m_runResult;
}

void HeadlessUi::MessageBeep(unsigned type) {
    Event event;
    event.kind = EventKind::Sound;
    event.text = "MessageBeep";
    event.value = static_cast<int>(type);
    Record(std::move(event));
}

void HeadlessUi::TrackMouse(WindowHandle window, unsigned hoverMs) {
    m_mouseTracking = MouseTrackRequest{window, hoverMs};
}

void HeadlessUi::SetWorkArea(const Rect& rect) {
    m_workArea = rect;
}

void HeadlessUi::SetScreenSize(Size size) {
    m_screenSize = size;
}

void HeadlessUi::SetCursorPosition(Point at) {
    m_cursorPos = at;
}

// --- Notification area ---------------------------------------------------------------

void HeadlessUi::SetShellMajorVersion(int version) {
    m_shellMajorVersion = version;
}

void HeadlessUi::SetNotifyIconFailure(bool fail) {
    m_notifyIconFailure = fail;
}

const NotifyIconData* HeadlessUi::FindNotifyIcon(WindowHandle window, std::uint32_t id) const {
    const auto it = m_notifyIcons.find({window, id});
    return it == m_notifyIcons.end() ? nullptr : &it->second;
}

bool HeadlessUi::NotifyIcon(NotifyIconAction action, const NotifyIconData& data) {
    if (m_notifyIconFailure)
        return false;
    const auto key = std::make_pair(data.hWnd, data.uID);
    const auto it = m_notifyIcons.find(key);
    const bool present = it != m_notifyIcons.end();
    if (action == NotifyIconAction::Add ? present : !present)
        return false;

    Event event;
    event.value = static_cast<int>(data.uID);
    if (action == NotifyIconAction::Delete) {
        m_notifyIcons.erase(it);
        event.kind = EventKind::TrayDelete;
        Record(std::move(event));
        return true;
    }

    NotifyIconData& stored = present ? it->second : m_notifyIcons[key];
    if (!present) {
        stored.hWnd = data.hWnd;
        stored.uID = data.uID;
    }
    stored.cbSize = data.cbSize;
    stored.uFlags |= data.uFlags;
    if (data.uFlags & kNifMessage)
        stored.uCallbackMessage = data.uCallbackMessage;
    if (data.uFlags & kNifIcon)
        stored.hIcon = data.hIcon;
    if (data.uFlags & kNifTip) {
        // The shell reads at most the field, and always ends the text.
        const std::string tip = TipOf(data);
        std::memset(stored.szTip, 0, sizeof stored.szTip);
        std::memcpy(stored.szTip, tip.data(), tip.size());
    }
    event.kind = present ? EventKind::TrayModify : EventKind::TrayAdd;
    event.text = TipOf(stored);
    event.icon = stored.hIcon;
    event.detail = std::to_string(data.uFlags);
    Record(std::move(event));
    return true;
}

// --- Message boxes, shell, sound, exit -------------------------------------------------

void HeadlessUi::SetMessageBoxHandler(std::function<int(const MessageBoxCall&)> handler) {
    m_messageBoxHandler = std::move(handler);
}

void HeadlessUi::SetShellOpenResult(bool result) {
    m_shellOpenResult = result;
}

void HeadlessUi::SetEventListener(std::function<void(const Event&)> listener) {
    m_listener = std::move(listener);
}

std::vector<Event> HeadlessUi::EventsOf(EventKind kind) const {
    std::vector<Event> out;
    for (const Event& event : m_events) {
        if (event.kind == kind)
            out.push_back(event);
    }
    return out;
}

int HeadlessUi::MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                           unsigned type) {
    Event event;
    event.kind = EventKind::MessageBox;
    event.window = owner;
    event.text = text;
    event.detail = caption;
    event.value = static_cast<int>(type);
    Record(std::move(event));
    if (m_messageBoxHandler)
        return m_messageBoxHandler(MessageBoxCall{owner, text, caption, type});
    return kIdOk;
}

bool HeadlessUi::ShellOpen(const std::string& file, const std::string& parameters,
                           const std::string& folder) {
    Event event;
    event.kind = EventKind::ShellOpen;
    event.text = file;
    event.detail = parameters;
    if (!folder.empty())
        event.detail += (event.detail.empty() ? "" : " ") + std::string("(in ") + folder + ")";
    Record(std::move(event));
    return m_shellOpenResult;
}

void HeadlessUi::PlaySound(const std::string& name) {
    Event event;
    event.kind = EventKind::Sound;
    event.text = name;
    Record(std::move(event));
}

std::string HeadlessUi::ChooseFileToOpen(WindowHandle owner, const std::string& filter,
                                         const std::string& initialFolder) {
    m_fileOpenCalls.push_back(FileOpenCall{owner, filter, initialFolder});
    return m_fileOpenAnswer;
}

void HeadlessUi::ExitProcess(int code) {
    Event event;
    event.kind = EventKind::Exit;
    event.value = code;
    Record(std::move(event));
    throw ProcessExit{code};
}

} // namespace port::headless
