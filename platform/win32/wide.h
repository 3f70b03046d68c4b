// The Win32 border of the platform layer: text is UTF-8 inside Kestrane and UTF-16 in
// every Win32 call; a Win32 error is reported as the errno value it stands for, so that
// callers and messages see the same reasons as on POSIX.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace platform::win32 {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

// The errno value a Win32 error code stands for (EIO for those without one).
int errnoFromWin32(unsigned long error);
// The errno value of GetLastError().
int lastErrno();

// Gives the open file or folder `handle` (a HANDLE with FILE_WRITE_ATTRIBUTES) the
// read-only attribute `mode` asks for (a file only) and, when asked, its last-write
// time; a link or an entry of the other kind is refused. Answers the system's reason.
std::error_code setModeAndTimeOf(void* handle, std::optional<std::uint32_t> mode, std::optional<std::time_t> time,
                                 bool folder);

} // namespace platform::win32
