#include "platform/win32/wide.h"

#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

namespace platform {

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    // Printed UTF-8 shows as such on a console; pipes and files take the bytes as they are.
    ::SetConsoleOutputCP(CP_UTF8);
    ::SetConsoleCP(CP_UTF8);
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(win32::narrow(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

} // namespace platform
