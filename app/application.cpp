#include "app/application.h"

#include "platform/encoding.h"

namespace kestrane {

std::string topLevelErrorText(std::string_view message) {
    std::string text(message);
    auto chars = platform::decodeUtf8(message);
    char32_t last = chars && !chars->empty() ? chars->back() : (text.empty() ? 0 : char32_t(text.back()));
    if (last > U'.')
        text += '.';
    return text;
}

} // namespace kestrane
