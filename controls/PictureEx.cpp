#include "controls/PictureEx.h"

#include <cstdint>
#include <utility>

namespace {

// Longest wait the thread makes for one frame when the stop event is not
// signalled; StopAnimation's wait for the thread is bounded by this too.
constexpr unsigned kShortFrameMs = 100;

// Sizes of the fixed parts of the GIF blocks.
constexpr std::size_t kHeaderAndScreen = 13;
constexpr std::size_t kApplicationHead = 14;
constexpr std::size_t kCommentHead = 2;
constexpr std::size_t kGraphicControlLength = 8;
constexpr std::size_t kPlainTextHead = 15;
constexpr std::size_t kImageHead = 11;

std::size_t ColourTableSize(unsigned packed) {
    return (packed & 0x80u) != 0 ? 3u * (2u << (packed & 7u)) : 0u;
}

} // namespace

CPictureEx::CPictureEx(port::Ui& ui) : CStatic(ui), m_hStopEvent(ui.CreateManualResetEvent()) {}

CPictureEx::~CPictureEx() {
    FreePicture();
}

unsigned CPictureEx::FrameWaitMs(int delay) {
    // A delay of 0-4 hundredths means "as fast as the viewer likes" in
    // practice; a frame without a delay gets the same 100 ms instead of the
    // endless wait an unsigned -1 would give.
    if (delay < 5)
        return kShortFrameMs;
    return static_cast<unsigned>(delay) * 10u;
}

bool CPictureEx::LoadPicture(int resourceId) {
    const std::string bytes = m_ui.LoadResourceData(resourceId, "GIF");
    if (bytes.empty())
        return false;
    return LoadPictureData(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

unsigned CPictureEx::ReadU16(std::size_t at) const {
    return static_cast<unsigned>(m_data[at]) | (static_cast<unsigned>(m_data[at + 1]) << 8);
}

CPictureEx::BlockKind CPictureEx::BlockKindAt() const {
    if (m_offset >= m_dataSize)
        return BlockKind::Unrecognised;
    switch (m_data[m_offset]) {
    case 0x2C:
        return BlockKind::ImageDescriptor;
    case 0x3B:
        return BlockKind::Trailer;
    case 0x21:
        if (m_offset + 1 >= m_dataSize)
            return BlockKind::Unrecognised;
        switch (m_data[m_offset + 1]) {
        case 0xFF:
            return BlockKind::ApplicationExtension;
        case 0xFE:
            return BlockKind::CommentExtension;
        case 0xF9:
            return BlockKind::GraphicControlExtension;
        case 0x01:
            return BlockKind::PlainTextExtension;
        default:
            return BlockKind::Unrecognised;
        }
    default:
        return BlockKind::Unrecognised;
    }
}

long long CPictureEx::SubBlocksLength(std::size_t at) const {
    std::size_t p = at;
    for (;;) {
        if (p >= m_dataSize)
            return -1; // the terminator is missing
        const std::size_t length = m_data[p];
        p += 1 + length;
        if (length == 0)
            return static_cast<long long>(p - at);
    }
}

long long CPictureEx::BlockLength() const {
    const auto withSubBlocks = [this](std::size_t head) -> long long {
        const long long rest = SubBlocksLength(m_offset + head);
        return rest < 0 ? -1 : static_cast<long long>(head) + rest;
    };
    switch (BlockKindAt()) {
    case BlockKind::ApplicationExtension:
        return withSubBlocks(kApplicationHead);
    case BlockKind::CommentExtension:
        return withSubBlocks(kCommentHead);
    case BlockKind::GraphicControlExtension:
        return static_cast<long long>(kGraphicControlLength);
    case BlockKind::PlainTextExtension:
        return withSubBlocks(kPlainTextHead);
    case BlockKind::ImageDescriptor: {
        if (m_offset + 9 >= m_dataSize)
            return -1;
        return withSubBlocks(kImageHead + ColourTableSize(m_data[m_offset + 9]));
    }
    case BlockKind::Trailer:
        return 1;
    case BlockKind::Unrecognised:
        break;
    }
    return -1;
}

bool CPictureEx::StepOverBlock() {
    const long long length = BlockLength();
    if (length <= 0 || static_cast<unsigned long long>(length) > m_dataSize - m_offset)
        return false;
    m_offset += static_cast<std::size_t>(length);
    return true;
}

bool CPictureEx::SkipOuterExtensions() {
    for (;;) {
        switch (BlockKindAt()) {
        case BlockKind::ApplicationExtension:
        case BlockKind::CommentExtension:
            if (!StepOverBlock())
                return false;
            continue;
        case BlockKind::GraphicControlExtension:
        case BlockKind::ImageDescriptor:
        case BlockKind::PlainTextExtension:
            return true;
        case BlockKind::Trailer:
        case BlockKind::Unrecognised:
            return false;
        }
    }
}

bool CPictureEx::StepToDrawingBlock() {
    if (!StepOverBlock()) // the graphic control extension
        return false;
    for (;;) {
        switch (BlockKindAt()) {
        case BlockKind::ImageDescriptor:
        case BlockKind::PlainTextExtension:
            return true;
        case BlockKind::Trailer:
        case BlockKind::Unrecognised:
            return false;
        default:
            if (!StepOverBlock())
                return false;
        }
    }
}

bool CPictureEx::StepOverGraphicBlock() {
    if (!SkipOuterExtensions())
        return false;
    if (BlockKindAt() == BlockKind::GraphicControlExtension && !StepToDrawingBlock())
        return false;
    return StepOverBlock();
}

bool CPictureEx::ExtractFrameGif(std::string& out, GifFrame& frame) {
    if (!SkipOuterExtensions())
        return false;
    const std::size_t start = m_offset;
    frame = GifFrame{};
    if (BlockKindAt() == BlockKind::GraphicControlExtension) {
        if (kGraphicControlLength > m_dataSize - start)
            return false;
        frame.delay = static_cast<int>(ReadU16(start + 4));
        frame.disposal = static_cast<int>((m_data[start + 3] >> 2) & 7u);
        if (!StepToDrawingBlock())
            return false;
    }
    const std::size_t drawing = m_offset;
    const bool image = BlockKindAt() == BlockKind::ImageDescriptor;
    if (!StepOverBlock())
        return false;
    if (image) {
        // Within the block, which StepOverBlock found inside the data.
        frame.left = static_cast<int>(ReadU16(drawing + 1));
        frame.top = static_cast<int>(ReadU16(drawing + 3));
        frame.width = static_cast<int>(ReadU16(drawing + 5));
        frame.height = static_cast<int>(ReadU16(drawing + 7));
    }
    const std::size_t header = kHeaderAndScreen + m_globalTableSize;
    const std::size_t length = m_offset - start;
    out.clear();
    out.reserve(header + length + 1);
    out.append(reinterpret_cast<const char*>(m_data), header);
    out.append(reinterpret_cast<const char*>(m_data + start), length);
    out.push_back('\x3B');
    return true;
}

bool CPictureEx::LoadPictureData(const unsigned char* memory, std::size_t size) {
    FreePicture();
    if (memory == nullptr || size == 0)
        return false;
    m_data = memory;
    m_dataSize = size;
    const std::string whole(reinterpret_cast<const char*>(memory), size);
    const bool loaded = [&] {
        if (size < 3 || memory[0] != 'G' || memory[1] != 'I' || memory[2] != 'F') {
            m_stillPicture = m_ui.LoadPicture(whole);
            if (m_stillPicture == nullptr)
                return false;
            // Hundredths of a millimetre to pixels, rounded.
            const port::Size himetric = m_stillPicture->HimetricSize();
            const port::Size ppi = m_ui.ScreenPixelsPerInch();
            const auto toPixels = [](int value, int perInch) {
                const std::int64_t product = static_cast<std::int64_t>(value) * perInch;
                return static_cast<int>((product + 1270) / 2540);
            };
            m_width = toPixels(himetric.cx, ppi.cx);
            m_height = toPixels(himetric.cy, ppi.cy);
            return true;
        }
        if (size < kHeaderAndScreen)
            return false;
        m_bGif = true;
        m_globalTableSize = ColourTableSize(memory[10]);
        if (kHeaderAndScreen + m_globalTableSize > size)
            return false;
        m_width = static_cast<int>(ReadU16(6));
        m_height = static_cast<int>(ReadU16(8));

        m_offset = kHeaderAndScreen + m_globalTableSize;
        int graphicBlocks = 0;
        while (StepOverGraphicBlock())
            ++graphicBlocks;
        if (graphicBlocks == 0)
            return false;
        if (graphicBlocks == 1) {
            m_stillPicture = m_ui.LoadPicture(whole);
            return m_stillPicture != nullptr;
        }
        m_offset = kHeaderAndScreen + m_globalTableSize;
        std::string frameGif;
        GifFrame frame;
        while (ExtractFrameGif(frameGif, frame)) {
            frame.picture = m_ui.LoadPicture(frameGif);
            if (frame.picture != nullptr) // a frame the loader refuses is left out
                m_frames.push_back(std::move(frame));
        }
        return !m_frames.empty();
    }();
    // The bytes are the caller's: nothing keeps them beyond the load.
    m_data = nullptr;
    if (!loaded) {
        FreePicture();
        return false;
    }
    if (!CreateCanvas(m_width, m_height)) {
        FreePicture();
        return false;
    }
    return true;
}

bool CPictureEx::CreateCanvas(int width, int height) {
    if (m_hWnd == nullptr)
        return false;
    m_ui.SetWindowPos(m_hWnd, 0, 0, width, height,
                      port::kSwpNoMove | port::kSwpNoZOrder | port::kSwpNoActivate);
    auto canvas = m_ui.CreateMemoryCanvas(m_hWnd, port::Size{width, height});
    if (canvas == nullptr)
        return false;
    m_background = m_ui.GetSystemColour(port::SystemColour::ButtonFace);
    canvas->FillRect(port::Rect{0, 0, width, height},
                     m_ui.GetSystemColour(port::SystemColour::Menu));
    // The copy of the area under a frame with disposal 3 is made here, on
    // the user-interface thread, once: the animation thread uses nothing of
    // the window system but its canvases and the request for a paint.
    std::unique_ptr<port::MemoryCanvas> save;
    for (const GifFrame& frame : m_frames) {
        if (frame.disposal == 3 && save == nullptr) {
            save = m_ui.CreateMemoryCanvas(m_hWnd, port::Size{width, height});
            if (save == nullptr)
                return false;
        }
    }
    std::lock_guard<std::mutex> lock(m_canvasLock);
    m_canvas = std::move(canvas);
    m_saveCanvas = std::move(save);
    m_bSaved = false;
    m_bCanvasReady = true;
    return true;
}

bool CPictureEx::IsAnimated() const {
    return m_bGif && m_frames.size() > 1;
}

bool CPictureEx::ShowPicture() {
    if (!m_bCanvasReady)
        return false;
    if (IsAnimated()) {
        if (m_hThread.joinable() || m_hStopEvent == nullptr)
            return true; // already playing, or no way to stop a thread
        m_threadWindow = m_hWnd;
        m_hThread = std::thread([this] { AnimationLoop(); });
        return true;
    }
    if (m_stillPicture == nullptr)
        return false;
    bool drawn = false;
    {
        std::lock_guard<std::mutex> lock(m_canvasLock);
        drawn = m_canvas->DrawPicture(*m_stillPicture, port::Rect{0, 0, m_width, m_height});
    }
    if (drawn)
        m_ui.InvalidateWindow(m_hWnd, false);
    return drawn;
}

void CPictureEx::DisposeFrame(const GifFrame& frame) {
    const port::Rect area{frame.left, frame.top, frame.left + frame.width,
                          frame.top + frame.height};
    std::lock_guard<std::mutex> lock(m_canvasLock);
    if (frame.disposal == 2) {
        m_canvas->FillRect(area, m_background);
    } else if (frame.disposal == 3 && m_bSaved) {
        m_saveCanvas->CopyTo(*m_canvas, port::Rect{0, 0, frame.width, frame.height},
                             port::Point{frame.left, frame.top});
        m_bSaved = false;
    }
}

void CPictureEx::AnimationLoop() {
    DisposeFrame(m_frames[static_cast<std::size_t>(m_currentFrame)]);
    while (!m_bStopRequested) {
        const GifFrame& frame = m_frames[static_cast<std::size_t>(m_currentFrame)];
        const port::Rect area{frame.left, frame.top, frame.left + frame.width,
                              frame.top + frame.height};
        bool drawn = false;
        {
            std::lock_guard<std::mutex> lock(m_canvasLock);
            if (frame.disposal == 3 && m_saveCanvas != nullptr) {
                m_canvas->CopyTo(*m_saveCanvas, area, port::Point{0, 0});
                m_bSaved = true;
            }
            drawn = m_canvas->DrawPicture(*frame.picture, area);
        }
        if (drawn)
            m_ui.InvalidateWindow(m_threadWindow, false);
        if (m_bStopRequested)
            break;
        m_hStopEvent->Wait(FrameWaitMs(frame.delay));
        if (m_bStopRequested)
            break;
        DisposeFrame(frame);
        ++m_currentFrame;
        if (static_cast<std::size_t>(m_currentFrame) >= m_frames.size()) {
            m_currentFrame = 0;
            std::lock_guard<std::mutex> lock(m_canvasLock);
            m_canvas->FillRect(port::Rect{0, 0, m_width, m_height}, m_background);
        }
    }
}

void CPictureEx::StopAnimation() {
    m_bStopRequested = true;
    if (m_hStopEvent != nullptr)
        m_hStopEvent->Set();
    // The thread wakes at once and draws nothing more; joining (rather than
    // giving up after a time) keeps it from outliving the object it uses.
    if (m_hThread.joinable())
        m_hThread.join();
    if (m_hStopEvent != nullptr)
        m_hStopEvent->Reset();
    m_bStopRequested = false;
}

void CPictureEx::FreePicture() {
    StopAnimation();
    m_stillPicture.reset();
    m_frames.clear();
    {
        std::lock_guard<std::mutex> lock(m_canvasLock);
        m_canvas.reset();
        m_saveCanvas.reset();
    }
    m_paintRect = port::Rect{};
    m_data = nullptr;
    m_threadWindow = nullptr;
    m_bSaved = false;
    m_bCanvasReady = false;
    m_bGif = false;
    m_background = port::Rgb(255, 255, 255);
    m_globalTableSize = 0;
    m_offset = 0;
    m_currentFrame = 0;
    m_dataSize = 0;
    m_width = 0;
    m_height = 0;
}

void CPictureEx::Paint() {
    auto canvas = m_ui.BeginPaint(m_hWnd);
    if (canvas == nullptr)
        return;
    std::lock_guard<std::mutex> lock(m_canvasLock);
    if (m_canvas == nullptr)
        return;
    const port::Rect source = m_paintRect.Width() > 0 && m_paintRect.Height() > 0
                                  ? m_paintRect
                                  : port::Rect{0, 0, m_width, m_height};
    canvas->DrawMemoryCanvas(*m_canvas, source, port::Point{0, 0});
}

bool CPictureEx::WindowProc(unsigned message, std::uintptr_t, std::intptr_t,
                            std::intptr_t& result) {
    switch (message) {
    case port::kWmPaint:
        Paint();
        result = 0;
        return true;
    case port::kWmDestroy:
        StopAnimation();
        return false;
    default:
        return false;
    }
}
