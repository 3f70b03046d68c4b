#include "platform/program_arguments.h"

namespace platform {

// The arguments in UTF-8 and the console prepared: posix/ and win32/program_arguments.cpp.
std::vector<std::string> utf8Arguments(int argc, char** argv);

ProgramArguments::ProgramArguments(int argc, char** argv) : m_text(utf8Arguments(argc, argv)) {
    for (std::string& text : m_text)
        m_pointers.push_back(text.data());
    m_pointers.push_back(nullptr);
}

} // namespace platform
