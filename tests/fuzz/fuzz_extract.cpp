// libFuzzer target: any bytes as an archive file, opened, tested and extracted into a
// fresh folder. Whatever the bytes, the archiver ends in extracted files or archiver
// errors (never a crash or a hang), and nothing appears outside the destination.
#include "archiver/za_exception.h"
#include "archiver/zip_archiver.h"

#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace archiver;
namespace fs = std::filesystem;

namespace {

// One sandbox per process: sandbox/archive.zip and sandbox/dest/ only.
const fs::path& sandbox() {
    static const fs::path root = [] {
        std::string pattern = (fs::temp_directory_path() / "kz-fuzz-extract-XXXXXX").string();
        return fs::path(::mkdtemp(pattern.data()));
    }();
    return root;
}

void clearDestination(const fs::path& dest) {
    std::error_code ec;
    for (auto& e : fs::recursive_directory_iterator(dest, ec))
        fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dest, ec);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path archive = sandbox() / "archive.zip";
    const fs::path dest = sandbox() / "dest";
    std::ofstream(archive, std::ios::binary).write(reinterpret_cast<const char*>(data), std::streamsize(size));

    TZipArchiver zip;
    zip.OnProcessFileFailure = [](const std::string&, TZAProcessOperation, int, int, const std::string&,
                                  TZAAction& action) { action = fxaIgnore; };
    zip.FileName = archive.string();
    try {
        zip.OpenArchive(kOpenRead);
        zip.TestFiles();
        zip.BaseDir = dest.string();
        zip.ExtractFiles();
        zip.CloseArchive();
    } catch (const EZAException&) {}

    // Only the archive and the destination may exist in the sandbox.
    for (auto& e : fs::directory_iterator(sandbox()))
        if (e.path() != archive && e.path() != dest)
            std::abort();
    clearDestination(dest);
    return 0;
}
