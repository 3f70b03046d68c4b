// Calendar time in the local time zone, for the DOS time stamps of archive entries.
#pragma once

#include <ctime>
#include <optional>

namespace platform {

// The local calendar time of `t`; nullopt when the system cannot express it (on Windows a
// time before 1970).
std::optional<std::tm> localTime(std::time_t t);

} // namespace platform
