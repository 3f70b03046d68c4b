// kestrane-zip: the archiver on the command line, for scripts, tests and benchmarks.
//
//   kestrane-zip list ARCHIVE
//       one line per entry, TAB-separated: stored name (UTF-8), uncompressed size,
//       compressed size, method, CRC-32 (8 hex digits), external attributes (hex),
//       modification date and time "YYYY-MM-DD hh:mm:ss".
//
// Exit codes: 0 success, 1 the operation failed (message on stderr), 2 usage error.
// Each subcommand is one entry of kCommands below.
#include "archiver/central_directory.h"
#include "archiver/za_exception.h"
#include "archiver/zip_commands.h"
#include "platform/file_stream.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kErrFileNotFound = 12;   // the archive to read does not exist

struct UsageError {
    std::string message;
};

using Args = std::span<char* const>;

// Opens an existing archive read-only and loads its directory, as opening for reading
// does: error 12 when the file is missing, 35 when it holds no ZIP structure, a damaged
// directory rebuilt from the local headers.
struct OpenedArchive {
    explicit OpenedArchive(const std::string& path)
        : file(openExisting(path)), directory(&file, false) {
        directory.LoadCentralDirectory();
    }

    static platform::File openExisting(const std::string& path) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec))
            throw archiver::EZAException(kErrFileNotFound, {path});
        return platform::File::openRead(path);
    }

    platform::File file;
    archiver::TZADirManager directory;
};

int runList(Args args) {
    if (args.size() != 1)
        throw UsageError{"list takes one archive"};
    OpenedArchive archive(args[0]);
    const archiver::TZADirArray& dir = archive.directory.currentDir();
    std::string out;
    for (int i = 0; i < dir.Count(); ++i) {
        const archiver::TDirItem& item = dir.ItemAt(i);
        char numbers[160];
        std::snprintf(numbers, sizeof numbers, "\t%llu\t%llu\t%u\t%08x\t%x\t",
                      static_cast<unsigned long long>(item.uncompressedSize64()),
                      static_cast<unsigned long long>(item.compressedSize64()), unsigned(item.method),
                      unsigned(item.crc32), unsigned(item.externalAttributes));
        out += item.name;
        out += numbers;
        out += archiver::formatDosDateTime({item.modTime, item.modDate});
        out += '\n';
        if (out.size() > (1 << 16)) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : kExitFailure;
}

struct Command {
    std::string_view name;
    std::string_view synopsis;
    int (*run)(Args args);
};

constexpr Command kCommands[] = {
    {"list", "list ARCHIVE", runList},
    {"create", "create ARCHIVE MASK... [--base DIR] [--level 0-9] [--on-failure abort|ignore]", archiver::runZipCreate},
    {"add", "add ARCHIVE MASK... [--base DIR] [--level 0-9] [--on-failure abort|ignore]", archiver::runZipAdd},
    {"extract", "extract ARCHIVE DEST [MASK] [--on-failure abort|ignore]", archiver::runZipExtract},
    {"test", "test ARCHIVE", archiver::runZipTest},
};

void printUsage() {
    std::fputs("usage:\n", stderr);
    for (const Command& c : kCommands)
        std::fprintf(stderr, "  kestrane-zip %.*s\n", int(c.synopsis.size()), c.synopsis.data());
}

} // namespace

int main(int argc, char** argv) {
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
        } catch (const UsageError& e) {
            std::fprintf(stderr, "kestrane-zip: %s\n", e.message.c_str());
            printUsage();
            return kExitUsage;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return kExitFailure;
        }
    }
    std::fprintf(stderr, "kestrane-zip: unknown command \"%s\"\n", argv[1]);
    printUsage();
    return kExitUsage;
}
