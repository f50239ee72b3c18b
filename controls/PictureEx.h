// CPictureEx: a static control that shows a picture and plays an animated
// GIF on a thread of its own.
//
// The control walks the GIF block structure (GIF89a: header, logical screen
// descriptor, global colour table, extensions, image descriptors with their
// data sub-blocks, trailer) to split an animation into frames, rebuilds each
// frame as a complete one-frame GIF in memory and lets the platform's
// picture loader decode it; it never decodes image data itself. Every read
// of the walker is checked against the end of the data.
//
// Threads: the user-interface thread loads, paints, stops and destroys; the
// animation thread only draws prepared frames into the off-screen canvas
// and asks for a paint (the only port calls it makes). The canvas is shared
// under m_canvasLock.
#pragma once

#include "controls/Static.h"
#include "platform/Ui.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct GifFrame {
    std::unique_ptr<port::Picture> picture;
    int width = 0;
    int height = 0;
    int left = 0;
    int top = 0;
    int delay = -1;   // hundredths of a second; -1 without a graphic control extension
    int disposal = 0; // bits 2 to 4 of the graphic control extension's packed byte
};

class CPictureEx : public CStatic {
public:
    enum class BlockKind {
        ApplicationExtension,
        CommentExtension,
        GraphicControlExtension,
        PlainTextExtension,
        ImageDescriptor,
        Trailer,
        Unrecognised,
    };

    explicit CPictureEx(port::Ui& ui);
    ~CPictureEx() override;

    // The program's resource of type "GIF"; false when it is missing or does
    // not load.
    bool LoadPicture(int resourceId);
    // True when a picture is ready (the control then has the picture's size).
    bool LoadPictureData(const unsigned char* memory, std::size_t size);
    // Shows the loaded picture; starts the animation thread for an animated
    // GIF. False when nothing is loaded.
    bool ShowPicture();
    void StopAnimation();
    void FreePicture();
    bool IsAnimated() const;

    // What was loaded, for its callers' checks.
    port::Size GetPictureSize() const { return port::Size{m_width, m_height}; }
    const std::vector<GifFrame>& GetFrames() const { return m_frames; }
    bool IsGif() const { return m_bGif; }
    bool IsAnimationRunning() const { return m_hThread.joinable(); }
    // How long a frame stays (ms): its delay, or 100 ms for a delay of 0-4
    // hundredths and for a frame without one.
    static unsigned FrameWaitMs(int delay);

protected:
    bool WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                    std::intptr_t& result) override;

private:
    // The walker, on m_data / m_dataSize at m_offset.
    BlockKind BlockKindAt() const;
    // -1 for an unrecognised block or one whose sub-blocks run past the end.
    long long BlockLength() const;
    long long SubBlocksLength(std::size_t at) const;
    bool StepOverBlock();
    bool StepOverGraphicBlock();
    // Steps over application and comment extensions; false on anything
    // unrecognised, the trailer or the end.
    bool SkipOuterExtensions();
    // After a graphic control extension: steps to the drawing block.
    bool StepToDrawingBlock();
    // One frame as a complete GIF in out; false when none is left.
    bool ExtractFrameGif(std::string& out, GifFrame& frame);
    unsigned ReadU16(std::size_t at) const;

    bool CreateCanvas(int width, int height);
    void AnimationLoop();
    void DisposeFrame(const GifFrame& frame);
    void Paint();

    port::Rect m_paintRect;
    int m_width = 0;
    int m_height = 0;
    port::Colour m_background = port::Rgb(255, 255, 255);
    int m_currentFrame = 0;
    std::size_t m_dataSize = 0;
    std::size_t m_offset = 0;
    std::size_t m_globalTableSize = 0;
    bool m_bGif = false;
    std::atomic<bool> m_bStopRequested{false};
    bool m_bCanvasReady = false;
    std::mutex m_canvasLock; // the canvas between the thread and painting
    std::unique_ptr<port::MemoryCanvas> m_canvas;
    // The area under a frame with disposal 3 while it shows (at 0, 0), made
    // with the canvas when any frame needs it.
    std::unique_ptr<port::MemoryCanvas> m_saveCanvas;
    bool m_bSaved = false;
    std::thread m_hThread;
    port::WindowHandle m_threadWindow = nullptr; // the window the thread invalidates
    std::unique_ptr<port::WaitableEvent> m_hStopEvent;
    std::unique_ptr<port::Picture> m_stillPicture;
    const unsigned char* m_data = nullptr;
    std::vector<GifFrame> m_frames;
};
