// Running a shell command line from a test: its exit status and what it printed.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
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

// One argument for the shell's command line, spaces and all.
inline std::string shellArgument(const std::string& argument) {
#ifdef _WIN32
    return "\"" + argument + "\"";
#else
    std::string q = "'";
    for (char c : argument)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
#endif
}

// Standard input from nowhere and standard error into standard output, for the end of a
// command line.
#ifdef _WIN32
inline constexpr const char* kNoInputErrorsToOutput = " <NUL 2>&1";
#else
inline constexpr const char* kNoInputErrorsToOutput = " </dev/null 2>&1";
#endif

// Runs a command line (UTF-8) through the shell and collects its standard output.
// Redirections are the caller's to add.
inline CommandRun runCommand(const std::string& command) {
    CommandRun r;
#ifdef _WIN32
    // The command line goes to the shell as UTF-16: the narrow one would be read in the
    // ANSI code page.
    std::wstring wide(std::size_t(::MultiByteToWideChar(CP_UTF8, 0, command.data(), int(command.size()), nullptr, 0)),
                      L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, command.data(), int(command.size()), wide.data(), int(wide.size()));
    // cmd /c drops the first and the last quote of a line that holds more than two: the
    // pair around the whole line is what it drops. Text mode turns CRLF into LF.
    FILE* p = ::_wpopen((L"\"" + wide + L"\"").c_str(), L"r");
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
    return shellArgument(named && *named ? named : KESTRANE_BINARY_DIR "/app/kestrane-cli") + " ";
}

} // namespace kestrane::testing
