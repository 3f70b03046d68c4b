#include "platform/terminal.h"

#include <windows.h>

namespace platform {

bool isTerminal(StandardStream stream) {
    DWORD which = STD_INPUT_HANDLE;
    if (stream == StandardStream::Output)
        which = STD_OUTPUT_HANDLE;
    else if (stream == StandardStream::Error)
        which = STD_ERROR_HANDLE;
    // Only a console has a console mode: a pipe or a file answers false.
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}

} // namespace platform
