// What every front end of Kestrane shares: the application's title and the text the
// top-level error handler shows.
#pragma once

#include <string>
#include <string_view>

namespace kestrane {

// The program file's name without its extension: the caption of plain and top-level boxes.
inline constexpr const char* kApplicationTitle = "kestrane";

// An error's message as the top-level handler shows it: with "." appended when its last
// character's code is greater than that of ".".
std::string topLevelErrorText(std::string_view message);

} // namespace kestrane
