// Running programs from a test: a command line through the system's shell, one program
// with its arguments, or a POSIX shell command line; their exit status and what they
// printed.
//
// On Windows the system's shell is cmd. The Linux tools (a POSIX shell, Info-ZIP, 7-Zip,
// Python) a Windows test reaches only under Wine, which runs a Unix program that
// CreateProcess is given outside itself; on Windows proper posixShellAvailable() is false.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <chrono>
#include <thread>

#include "tests/support/temp_folder.h"
#endif

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

#ifdef _WIN32
namespace detail {

inline std::wstring wide(const std::string& utf8) { return std::filesystem::u8path(utf8).wstring(); }

// One argument as CommandLineToArgvW and the C runtime read it back: quoted, with the
// backslashes before a quote doubled.
inline std::wstring windowsQuoted(const std::wstring& arg) {
    std::wstring q = L"\"";
    std::size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        q.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        q += c;
    }
    q.append(slashes * 2, L'\\');
    return q + L"\"";
}

// The command line that starts `program` with `args`.
inline std::wstring commandLine(const std::filesystem::path& program, const std::vector<std::string>& args) {
    std::wstring line = windowsQuoted(std::filesystem::absolute(program).wstring());
    for (const std::string& a : args)
        line += L" " + windowsQuoted(wide(a));
    return line;
}

// Wine's own entry points (kernel32 exports them), null on Windows proper.
template <typename F>
F wineEntry(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name)));
}

// Starts `commandLine` with standard input empty and standard output and error going to
// `out`; `environment` is a Windows environment block or null for this process's.
inline PROCESS_INFORMATION start(const std::wstring& commandLine, HANDLE out, const std::wstring& folder,
                                 wchar_t* environment, BOOL* started) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE nul =
        ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul;
    si.hStdOutput = si.hStdError = out;
    PROCESS_INFORMATION pi{};
    std::wstring line = commandLine;
    // Not CREATE_NO_WINDOW: Wine then hands a Unix program none of these handles.
    *started = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, environment,
                                folder.empty() ? nullptr : folder.c_str(), &si, &pi);
    ::CloseHandle(nul);
    return pi;
}

} // namespace detail

// Whether a POSIX shell and the Linux tools can be run: only under Wine.
inline bool posixShellAvailable() { return detail::wineEntry<void*>("wine_get_unix_file_name") != nullptr; }

// The reason a test gives when it skips for want of the POSIX shell.
inline const char* noPosixShellReason() { return "needs a POSIX shell and Linux tools, which Windows has not"; }

// The path as the POSIX shell names it: under Wine the Unix file the Windows path leads to.
inline std::string posixShellPath(const std::filesystem::path& p) {
    using UnixName = char* (*)(const wchar_t*);
    const UnixName unixName = detail::wineEntry<UnixName>("wine_get_unix_file_name");
    char* name = unixName ? unixName(std::filesystem::absolute(p).c_str()) : nullptr;
    if (!name)
        return p.string();
    std::string s = name;
    ::HeapFree(::GetProcessHeap(), 0, name);
    return s;
}

// Runs a command line through the POSIX shell and collects its standard output.
// Redirections such as "2>&1" or "</dev/null" are the caller's to add.
// Wine gives back no handle of a Unix process it starts: the shell's output goes to a
// file, and the shell writes its exit status to another file when the command is done.
// Its standard error is this process's (Wine passes on only input and output).
inline CommandRun runPosixShell(const std::string& command) {
    CommandRun r;
    if (!posixShellAvailable())
        return r;
    TempFolder scratch("kestrane-sh");
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = ::CreateFileW((scratch / "out").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return r;
    const std::string status = posixShellPath(scratch / "status");
    const std::string script =
        "(" + command + "\n); echo $? >'" + status + ".part' && mv '" + status + ".part' '" + status + "'";
    BOOL started = FALSE;
    const PROCESS_INFORMATION pi =
        detail::start(L"/bin/sh -c " + detail::windowsQuoted(detail::wide(script)), out, {}, nullptr, &started);
    ::CloseHandle(out);
    if (!started)
        return r;
    if (pi.hProcess) {
        ::CloseHandle(pi.hProcess);
        ::CloseHandle(pi.hThread);
    }
    while (!std::filesystem::exists(scratch / "status"))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    r.status = std::atoi(readFile(scratch / "status").c_str());
    r.out = readFile(scratch / "out");
    return r;
}

// Runs `program` with `args` in `folder` (empty: this process's), with `environment`
// ("NAME=value") added to its own, standard input empty; collects standard output and
// error together.
inline CommandRun runProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                             const std::filesystem::path& folder = {},
                             const std::vector<std::string>& environment = {}) {
    CommandRun r;
    const std::wstring line = detail::commandLine(program, args);
    std::wstring block;
    if (!environment.empty()) {
        wchar_t* own = ::GetEnvironmentStringsW();
        for (const wchar_t* v = own; *v; v += std::wcslen(v) + 1)
            block.append(v, std::wcslen(v) + 1);
        ::FreeEnvironmentStringsW(own);
        for (const std::string& v : environment)
            block += detail::wide(v) + L'\0';
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!::CreatePipe(&read, &write, &inherit, 0))
        return r;
    ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    BOOL started = FALSE;
    const PROCESS_INFORMATION pi = detail::start(line, write, folder.empty() ? std::wstring() : folder.wstring(),
                                                 block.empty() ? nullptr : block.data(), &started);
    ::CloseHandle(write);
    std::array<char, 4096> buf{};
    DWORD n = 0;
    while (started && ::ReadFile(read, buf.data(), DWORD(buf.size()), &n, nullptr) && n)
        r.out.append(buf.data(), n);
    ::CloseHandle(read);
    if (!started)
        return r;
    DWORD code = 0;
    ::WaitForSingleObject(pi.hProcess, INFINITE);
    if (::GetExitCodeProcess(pi.hProcess, &code))
        r.status = int(code);
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(pi.hThread);
    return r;
}

#else

inline bool posixShellAvailable() { return true; }
inline const char* noPosixShellReason() { return ""; }
inline std::string posixShellPath(const std::filesystem::path& p) { return p.string(); }
inline CommandRun runPosixShell(const std::string& command) { return runCommand(command); }

// Runs `program` with `args` in `folder` (empty: this process's), with `environment`
// ("NAME=value") added to its own, standard input empty; collects standard output and
// error together.
inline CommandRun runProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                             const std::filesystem::path& folder = {},
                             const std::vector<std::string>& environment = {}) {
    std::string line = folder.empty() ? std::string() : "cd " + shellArgument(folder.string()) + " && ";
    for (const std::string& v : environment)
        line += v + " ";
    line += shellArgument(program.string());
    for (const std::string& a : args)
        line += " " + shellArgument(a);
    return runCommand(line + kNoInputErrorsToOutput);
}

#endif

// The path quoted for the POSIX shell.
inline std::string posixShellQuoted(const std::filesystem::path& p) { return "'" + posixShellPath(p) + "'"; }

// Whether every program of the space-separated list can be run through the POSIX shell.
inline bool haveTools(const std::string& names) {
    return posixShellAvailable() &&
           runPosixShell("for t in " + names + "; do command -v $t >/dev/null 2>&1 || exit 1; done").status == 0;
}

// The kestrane-cli the tests run followed by a space, ready for its arguments: the one
// KESTRANE_CLI names (tests/support/as_player copies it where an ordinary user can run
// it), else the one of this build tree.
inline std::string kestraneCli() {
    const char* named = std::getenv("KESTRANE_CLI");
    return shellArgument(named && *named ? named : KESTRANE_BINARY_DIR "/app/kestrane-cli") + " ";
}

} // namespace kestrane::testing
