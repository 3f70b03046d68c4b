// Whether the program talks to a person: questions are asked on a terminal only.
#pragma once

namespace platform {

enum class StandardStream { Input, Output, Error };

// True when the standard stream is connected to a terminal.
bool isTerminal(StandardStream stream);

} // namespace platform
