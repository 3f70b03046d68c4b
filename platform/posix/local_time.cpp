#include "platform/local_time.h"

namespace platform {

std::optional<std::tm> localTime(std::time_t t) {
    std::tm tm{};
    if (!localtime_r(&t, &tm))
        return std::nullopt;
    return tm;
}

} // namespace platform
