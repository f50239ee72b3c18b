// The notification window where no window system exists: none can be made.
#include "platform/NotifyWindow.h"

namespace port {

WindowHandle CreateNotifyWindow(void*, NotifyCallback) {
    return nullptr;
}

std::intptr_t SendNotifyWindowMessage(WindowHandle, unsigned, std::uintptr_t, std::intptr_t) {
    return 0;
}

void DestroyNotifyWindow(WindowHandle) {}

} // namespace port
