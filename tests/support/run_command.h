// Running a shell command line from a test: its exit status and what it printed.
#pragma once

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kestrane::testing {

struct CommandRun {
    int status = -1; // exit status; -1 when the command could not start or did not exit
    std::string out; // what it wrote to standard output
};

// Runs a command line through the shell and collects its standard output. Redirections
// such as "2>&1" or "</dev/null" are the caller's to add.
inline CommandRun runCommand(const std::string& command) {
    CommandRun r;
#ifdef _WIN32
    FILE* p = ::_popen(command.c_str(), "r");
#else
    FILE* p = ::popen(command.c_str(), "r");
#endif
    if (!p)
        return r;
    std::array<char, 4096> buf{};
    while (std::size_t n = std::fread(buf.data(), 1, buf.size(), p))
        r.out.append(buf.data(), n);
#ifdef _WIN32
    r.status = ::_pclose(p); // the command's exit code itself
#else
    const int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    return r;
}

// The kestrane-cli the tests run followed by a space, ready for its arguments: the one
// KESTRANE_CLI names (tests/support/as_player copies it where an ordinary user can run
// it), else the one of this build tree.
inline std::string kestraneCli() {
    const char* named = std::getenv("KESTRANE_CLI");
    return std::string(named && *named ? named : KESTRANE_BINARY_DIR "/app/kestrane-cli") + " ";
}

} // namespace kestrane::testing
