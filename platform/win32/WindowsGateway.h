// The one place that includes <windows.h> (and the socket headers, which
// must come first). Only the Win32 half of the port (platform/win32/) and
// the Windows-only programs beside the product (the animation in
// app/win32/scr/, the UI test driver in tests/ui/) include this header.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on
