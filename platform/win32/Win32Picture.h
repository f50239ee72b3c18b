// The picture loader (OLE's, over a stream on a memory block), memory
// canvases and events of the Win32 half of the port.
#pragma once

#include "platform/Ui.h"
#include "platform/win32/WindowsGateway.h"

#include <memory>
#include <string>

namespace port::win32 {

// Decodes the bytes with OleLoadPicture; null when it refuses them. The
// calling thread must have OLE initialised (EnableControlHosting).
std::unique_ptr<Picture> LoadOlePicture(const std::string& bytes);

// A memory device context compatible with the window's, with a bitmap of
// the size selected into it; null when any part fails.
std::unique_ptr<MemoryCanvas> CreateWin32MemoryCanvas(HWND compatibleWith, Size size);
// The device context of a canvas made by CreateWin32MemoryCanvas, else null.
HDC MemoryCanvasDc(const MemoryCanvas& canvas);

std::unique_ptr<WaitableEvent> CreateWin32Event();

} // namespace port::win32
