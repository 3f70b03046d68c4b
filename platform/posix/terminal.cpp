#include "platform/terminal.h"

#include <unistd.h>

namespace platform {

bool isTerminal(StandardStream stream) {
    switch (stream) {
    case StandardStream::Input:
        return ::isatty(STDIN_FILENO) != 0;
    case StandardStream::Output:
        return ::isatty(STDOUT_FILENO) != 0;
    case StandardStream::Error:
        return ::isatty(STDERR_FILENO) != 0;
    }
    return false;
}

} // namespace platform
