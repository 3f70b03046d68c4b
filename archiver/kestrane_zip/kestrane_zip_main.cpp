// kestrane-zip: the archiver on the command line, for scripts, tests and benchmarks.
//
//   kestrane-zip list ARCHIVE
//       one line per entry, TAB-separated: stored name (UTF-8), uncompressed size,
//       compressed size, method, CRC-32 (8 hex digits), external attributes (hex),
//       modification date and time "YYYY-MM-DD hh:mm:ss"; control characters in names
//       are escaped ("\t", "\n", "\x1b").
//
// Every message escapes control characters the same way, whatever names or reasons it
// quotes.
//
// Exit codes: 0 success, 1 the operation failed (message on stderr), 2 usage error.
// Each subcommand is one entry of kCommands below.
#include "archiver/kestrane_zip/zip_commands.h"
#include "platform/program_arguments.h"

#include <cstdio>
#include <exception>
#include <span>
#include <string>
#include <string_view>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

using Args = std::span<char* const>;

struct Command {
    std::string_view name;
    std::string_view synopsis;
    int (*run)(Args args);
};

constexpr Command kCommands[] = {
    {"list", "list ARCHIVE", archiver::runZipList},
    {"create", "create ARCHIVE MASK... [--base DIR] [--level 0-9] [--threads N] [--on-failure abort|ignore]",
     archiver::runZipCreate},
    {"add", "add ARCHIVE MASK... [--base DIR] [--level 0-9] [--threads N] [--on-failure abort|ignore]",
     archiver::runZipAdd},
    {"extract", "extract ARCHIVE DEST [MASK] [--threads N] [--on-failure abort|ignore]", archiver::runZipExtract},
    {"test", "test ARCHIVE [--threads N]", archiver::runZipTest},
};

void printUsage() {
    std::fputs("kestrane-zip: usage:\n", stderr);
    for (const Command& c : kCommands)
        std::fprintf(stderr, "kestrane-zip:   kestrane-zip %.*s\n", int(c.synopsis.size()), c.synopsis.data());
}

} // namespace

int main(int argc, char** argv) {
    platform::ProgramArguments utf8(argc, argv);
    argc = utf8.argc();
    argv = utf8.argv();
    if (argc < 2) {
        printUsage();
        return kExitUsage;
    }
    const std::string_view name = argv[1];
    for (const Command& c : kCommands) {
        if (c.name != name)
            continue;
        try {
            return c.run(Args(argv + 2, std::size_t(argc - 2)));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "kestrane-zip: %s\n", archiver::printableName(e.what()).c_str());
            return kExitFailure;
        }
    }
    std::fprintf(stderr, "kestrane-zip: unknown command \"%s\"\n", archiver::printableName(argv[1]).c_str());
    printUsage();
    return kExitUsage;
}
