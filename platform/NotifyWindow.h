// Port: the hidden notification window of the line-oriented client (a
// window class "CUT_WSClient" with 20 extra window bytes). Where no window
// system exists (POSIX) no window can be made.
#pragma once

#include <cstdint>

namespace port {

using WindowHandle = void*;

// Messages of the notification window, by what their lParam carries.
inline constexpr unsigned kNotifySetOwner = 1151; // the owner pointer
// A socket event: the event word (low 16 bits) and its error word (high 16
// bits).
inline constexpr unsigned kNotifySocketEvent = 1152;
// Two notices that carry only an error word (high 16 bits); the low word is
// not read.
inline constexpr unsigned kNotifyErrorWordB = 1153;
inline constexpr unsigned kNotifyErrorWordC = 1154;

// Called by the window for kNotifySocketEvent, kNotifyErrorWordB and
// kNotifyErrorWordC once an owner was set (see kNotifySetOwner); owner is
// that pointer.
using NotifyCallback = void (*)(void* owner, unsigned message, std::uintptr_t wParam,
                                std::intptr_t lParam);

// Registers the class once per module instance (instance: the module, null
// for the running one) and creates a hidden window of it that calls callback.
// Null when the class cannot be registered or the window not made (always on
// POSIX).
WindowHandle CreateNotifyWindow(void* instance, NotifyCallback callback);
// Sends a message to the window and returns its result (0 without window).
std::intptr_t SendNotifyWindowMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                                      std::intptr_t lParam);
void DestroyNotifyWindow(WindowHandle window);

} // namespace port
