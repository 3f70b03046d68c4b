// The arguments of a console program as UTF-8 text, the program's own encoding, and a
// console that shows the UTF-8 the program prints.
//
// POSIX passes the arguments as they were typed (UTF-8 on any current system). Windows
// passes `argv` in the ANSI code page, where a Cyrillic name arrives as "?????": there the
// arguments are taken from GetCommandLineW and converted, and the console's output code
// page is set to UTF-8.
#pragma once

#include <string>
#include <vector>

namespace platform {

class ProgramArguments {
public:
    // Takes main's arguments (which Windows replaces by its own reading of the command line).
    ProgramArguments(int argc, char** argv);
    ProgramArguments(const ProgramArguments&) = delete;
    ProgramArguments& operator=(const ProgramArguments&) = delete;

    // The arguments in main's shape, valid while this object lives; argv()[argc()] is null.
    int argc() const { return int(m_text.size()); }
    char** argv() { return m_pointers.data(); }

private:
    std::vector<std::string> m_text;
    std::vector<char*> m_pointers;
};

} // namespace platform
