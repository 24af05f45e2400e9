#pragma once
// What the Win32 implementations of this folder share: the system's headers, UTF-8 <-> UTF-16 at
// every call, and the system's error codes translated into the errno values the layers above judge.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <string>

// UTF-8 (the program's own) to UTF-16 (the system's); invalid bytes become U+FFFD.
std::wstring WideFromUtf8(const std::string& text);
// UTF-16 to UTF-8; `length` -1: up to the terminating zero.
std::string Utf8FromWide(const wchar_t* text, int length = -1);
// The errno value for a Win32 error code (GetLastError); EIO for one without a near equivalent.
int ErrnoFromWin32(DWORD error);
// GetLastError as an errno value.
int LastErrno();

// What the clocks wait on here: a handle that becomes signalled (an event, a waitable object).
// `events` says whether it is waited for at all (POLLIN); `revents` reports it signalled.
struct pollfd {
    intptr_t fd;
    short events;
    short revents;
};
constexpr short POLLIN = 0x0001;

// The console's control handler that ConsoleStopSignals installs: TRUE when it took the event.
BOOL WINAPI ConsoleStopHandler(DWORD event);

inline HANDLE HandleOf(intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}
