#include "platform/win32/Win32Picture.h"

#include "platform/win32/UniqueHandle.h"

// clang-format off
#include <ole2.h>
#include <olectl.h>
// clang-format on

#include <cstring>

namespace port::win32 {

namespace {

class OlePicture final : public Picture {
public:
    explicit OlePicture(IPicture* picture) : m_picture(picture) {}
    ~OlePicture() override { m_picture->Release(); }
    OlePicture(const OlePicture&) = delete;
    OlePicture& operator=(const OlePicture&) = delete;

    Size HimetricSize() const override {
        OLE_XSIZE_HIMETRIC width = 0;
        OLE_YSIZE_HIMETRIC height = 0;
        m_picture->get_Width(&width);
        m_picture->get_Height(&height);
        return Size{static_cast<int>(width), static_cast<int>(height)};
    }

    IPicture* Get() const { return m_picture; }

private:
    IPicture* m_picture;
};

class Win32MemoryCanvas final : public MemoryCanvas {
public:
    Win32MemoryCanvas(HDC dc, HBITMAP bitmap, Size size)
        : m_dc(dc), m_bitmap(bitmap), m_size(size) {
        m_old = ::SelectObject(m_dc, m_bitmap);
    }
    ~Win32MemoryCanvas() override {
        ::SelectObject(m_dc, m_old);
        ::DeleteObject(m_bitmap);
        ::DeleteDC(m_dc);
    }
    Win32MemoryCanvas(const Win32MemoryCanvas&) = delete;
    Win32MemoryCanvas& operator=(const Win32MemoryCanvas&) = delete;

    HDC Dc() const { return m_dc; }
    Size GetSize() const override { return m_size; }

    void FillRect(const Rect& rect, Colour colour) override {
        const HBRUSH brush = ::CreateSolidBrush(colour);
        if (brush == nullptr)
            return;
        const RECT r{rect.left, rect.top, rect.right, rect.bottom};
        ::FillRect(m_dc, &r, brush);
        ::DeleteObject(brush);
    }

    bool DrawPicture(const Picture& picture, const Rect& dest) override {
        const auto* ole = dynamic_cast<const OlePicture*>(&picture);
        if (ole == nullptr)
            return false;
        const Size himetric = ole->HimetricSize();
        // The renderer's source is in HIMETRIC with y upwards: start at the
        // bottom and go up, so that the picture comes out upright.
        return SUCCEEDED(ole->Get()->Render(m_dc, dest.left, dest.top, dest.Width(), dest.Height(),
                                            0, himetric.cy, himetric.cx, -himetric.cy, nullptr));
    }

    void CopyTo(MemoryCanvas& target, const Rect& source, Point at) const override {
        const HDC targetDc = MemoryCanvasDc(target);
        if (targetDc == nullptr)
            return;
        ::BitBlt(targetDc, at.x, at.y, source.Width(), source.Height(), m_dc, source.left,
                 source.top, SRCCOPY);
    }

private:
    HDC m_dc;
    HBITMAP m_bitmap;
    HGDIOBJ m_old = nullptr;
    Size m_size;
};

class Win32Event final : public WaitableEvent {
public:
    explicit Win32Event(HANDLE event) : m_event(event) {}
    void Set() override { ::SetEvent(m_event.Get()); }
    void Reset() override { ::ResetEvent(m_event.Get()); }
    bool Wait(unsigned ms) override {
        return ::WaitForSingleObject(m_event.Get(), ms) == WAIT_OBJECT_0;
    }

private:
    UniqueHandle m_event;
};

} // namespace

std::unique_ptr<Picture> LoadOlePicture(const std::string& bytes) {
    if (bytes.empty())
        return nullptr;
    // A movable block for the stream, which frees it when it is released.
    const HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (memory == nullptr)
        return nullptr;
    void* locked = ::GlobalLock(memory);
    if (locked == nullptr) {
        ::GlobalFree(memory);
        return nullptr;
    }
    std::memcpy(locked, bytes.data(), bytes.size());
    ::GlobalUnlock(memory);
    IStream* stream = nullptr;
    if (FAILED(::CreateStreamOnHGlobal(memory, TRUE, &stream))) {
        ::GlobalFree(memory);
        return nullptr;
    }
    IPicture* picture = nullptr;
    const HRESULT loaded = ::OleLoadPicture(stream, static_cast<LONG>(bytes.size()), FALSE,
                                            IID_IPicture, reinterpret_cast<void**>(&picture));
    stream->Release();
    if (FAILED(loaded) || picture == nullptr)
        return nullptr;
    return std::make_unique<OlePicture>(picture);
}

std::unique_ptr<MemoryCanvas> CreateWin32MemoryCanvas(HWND compatibleWith, Size size) {
    if (size.cx <= 0 || size.cy <= 0)
        return nullptr;
    const HDC windowDc = ::GetDC(compatibleWith);
    if (windowDc == nullptr)
        return nullptr;
    const HDC dc = ::CreateCompatibleDC(windowDc);
    const HBITMAP bitmap =
        dc != nullptr ? ::CreateCompatibleBitmap(windowDc, size.cx, size.cy) : nullptr;
    ::ReleaseDC(compatibleWith, windowDc);
    if (dc == nullptr || bitmap == nullptr) {
        if (bitmap != nullptr)
            ::DeleteObject(bitmap);
        if (dc != nullptr)
            ::DeleteDC(dc);
        return nullptr;
    }
    return std::make_unique<Win32MemoryCanvas>(dc, bitmap, size);
}

HDC MemoryCanvasDc(const MemoryCanvas& canvas) {
    const auto* known = dynamic_cast<const Win32MemoryCanvas*>(&canvas);
    return known != nullptr ? known->Dc() : nullptr;
}

std::unique_ptr<WaitableEvent> CreateWin32Event() {
    const HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr)
        return nullptr;
    return std::make_unique<Win32Event>(event);
}

} // namespace port::win32
