// The Win32 border of the platform layer: text is UTF-8 inside Kestrane and UTF-16 in
// every Win32 call; a Win32 error is reported as the errno value it stands for, so that
// callers and messages see the same reasons as on POSIX.
#pragma once

#include <string>
#include <string_view>

namespace platform::win32 {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

// The errno value a Win32 error code stands for (EIO for those without one).
int errnoFromWin32(unsigned long error);
// The errno value of GetLastError().
int lastErrno();

} // namespace platform::win32
