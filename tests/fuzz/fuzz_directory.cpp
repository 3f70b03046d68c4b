// libFuzzer target: any bytes as an archive file. Loading the directory (with the
// rebuild from local headers) must end in a directory or an archiver error, never in a
// crash, a hang or an allocation the input's length does not justify. A directory that
// loaded must save and load back to the same entries.
#include "archiver/central_directory.h"
#include "archiver/za_exception.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace archiver;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::MemoryStream archive(std::vector<std::uint8_t>(data, data + size));
    TZADirManager manager(&archive, false);
    try {
        manager.LoadCentralDirectory();
    } catch (const EZAException&) {
        return 0;
    }
    const TZADirArray& dir = manager.currentDir();
    for (int i = 0; i < dir.Count(); ++i) {
        const int found = dir.FindByName(dir.ItemAt(i).name);
        if (found < i || foldName(dir.ItemAt(found).name) != foldName(dir.ItemAt(i).name))
            std::abort();
    }

    // The saved directory follows room for the entries' local headers (zeros here): a
    // directory that lists more entries than its archive has room for is not believed.
    std::size_t room = 0;
    for (int i = 0; i < dir.Count(); ++i)
        room += 30 + std::max(dir.ItemAt(i).name.size(), dir.ItemAt(i).storedBytes().size());
    platform::MemoryStream saved(std::vector<std::uint8_t>(room, 0));
    TZADirManager writer(&saved, true);
    writer.currentDir().AssignFrom(dir);
    writer.setArchiveComment(manager.archiveComment());
    writer.SaveCentralDirectory(true);
    TZADirManager reader(&saved, false);
    reader.LoadCentralDirectory();
    if (reader.rebuilt() || reader.currentDir().Count() != dir.Count())
        std::abort();
    for (int i = 0; i < dir.Count(); ++i) {
        const TDirItem& a = dir.ItemAt(i);
        const TDirItem& b = reader.currentDir().ItemAt(i);
        if (a.name != b.name || a.crc32 != b.crc32 || a.compressedSize64() != b.compressedSize64() ||
            a.uncompressedSize64() != b.uncompressedSize64())
            std::abort();
    }
    return 0;
}
