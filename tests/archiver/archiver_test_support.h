// Helpers of the archiver engine tests: a temporary folder, files, packing and extracting
// as the program does, and a small writer of hand-made ZIP files for archives our own
// writer would never produce.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "archiver/byte_io.h"
#include "archiver/crc32.h"
#include "archiver/za_exception.h"
#include "archiver/zip_archiver.h"
#include "archiver/zip_records.h"
#include "tests/support/temp_folder.h"

namespace enginetest {

namespace fs = std::filesystem;
using namespace archiver;

using kestrane::testing::readFile;
using kestrane::testing::TempFolder;
using kestrane::testing::writeFile;

struct Failure {
    std::string name;
    int nativeError;
};

// Records every failure and answers with `answer`.
inline void recordFailures(TZipArchiver& zip, std::vector<Failure>& failures, TZAAction answer = fxaIgnore) {
    zip.OnProcessFileFailure = [&failures, answer](const std::string& name, TZAProcessOperation, int native, int,
                                                   const std::string&, TZAAction& action) {
        failures.push_back({name, native});
        action = answer;
    };
}

// The native error of the EZAException that f raises; -1 when it raises none.
inline int nativeErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EZAException& e) {
        return e.NativeError();
    }
    return -1;
}

// Packs `folder` (below base) the way the program does: create, add "<folder>/*.*", close.
inline void pack(const fs::path& archive, const fs::path& base, const std::string& folder) {
    TZipArchiver zip;
    zip.FileName = archive.string();
    zip.BaseDir = base.string();
    zip.OpenArchive(kOpenCreate);
    zip.AddFiles((base / folder).string() + "/*.*", kDefaultSearchAttr, "");
    zip.CloseArchive();
}

// The start of most engine tests: `files` (name, contents) written into tmp/p and packed
// into tmp/archiveName the way the program does. Answers the archive's path.
inline fs::path packFiles(const TempFolder& tmp, const std::string& archiveName,
                          const std::vector<std::pair<std::string, std::string>>& files) {
    for (const auto& [name, contents] : files)
        writeFile(tmp / ("p/" + name), contents);
    pack(tmp / archiveName, tmp.path(), "p");
    return tmp / archiveName;
}

// Extracts every entry of `archive` below `dest`, ignoring and recording failures.
inline std::vector<Failure> extractAll(const fs::path& archive, const fs::path& dest, bool keepCorrupted = false) {
    TZipArchiver zip;
    std::vector<Failure> failures;
    recordFailures(zip, failures);
    zip.ExtractCorruptedFiles = keepCorrupted;
    zip.FileName = archive.string();
    zip.OpenArchive(kOpenRead);
    zip.BaseDir = dest.string();
    zip.ExtractFiles();
    zip.CloseArchive();
    return failures;
}

inline std::vector<std::uint8_t> readBytes(const fs::path& p) {
    const std::string s = readFile(p);
    return {s.begin(), s.end()};
}

inline std::uint16_t u16At(const std::vector<std::uint8_t>& b, std::size_t at) {
    return std::uint16_t(b[at] | b[at + 1] << 8);
}
inline std::uint32_t u32At(const std::vector<std::uint8_t>& b, std::size_t at) {
    return std::uint32_t(u16At(b, at)) | std::uint32_t(u16At(b, at + 2)) << 16;
}

// Position of the central header of `name` (0 when there is none).
inline std::size_t centralHeaderOf(const std::vector<std::uint8_t>& b, const std::string& name) {
    std::size_t at = u32At(b, b.size() - 6);
    const std::size_t end = b.size() - 22;
    while (at + 46 <= end && u32At(b, at) == 0x02014B50u) {
        const std::uint16_t n = u16At(b, at + 28);
        if (std::string(b.begin() + std::ptrdiff_t(at + 46), b.begin() + std::ptrdiff_t(at + 46 + n)) == name)
            return at;
        at += 46 + n + u16At(b, at + 30) + u16At(b, at + 32);
    }
    return 0;
}

// Writes a ZIP file of stored entries with the given names and contents, exactly as
// named (no checks), so that tests can offer hostile names.
// With `reversedDirectory` the central directory lists the entries in the opposite order
// of their data, as some tools leave it after edits; `edit` changes entry i's central
// header (its host and attributes, say) before it is written.
inline void writeStoredZip(const fs::path& p, const std::vector<std::pair<std::string, std::string>>& entries,
                           bool reversedDirectory = false,
                           const std::function<void(CentralHeader&, std::size_t)>& edit = {}) {
    std::vector<std::uint8_t> out;
    ByteWriter w(out);
    std::vector<CentralHeader> headers;
    for (const auto& [name, data] : entries) {
        LocalHeader h;
        h.crc32 = crc32({reinterpret_cast<const std::uint8_t*>(data.data()), data.size()});
        h.compressedSize = h.uncompressedSize = std::uint32_t(data.size());
        h.nameLength = std::uint16_t(name.size());
        CentralHeader c;
        c.crc32 = h.crc32;
        c.compressedSize = c.uncompressedSize = h.compressedSize;
        c.nameLength = h.nameLength;
        c.externalAttributes = name.ends_with('/') ? 0x10 : 0x20;
        c.localHeaderOffset = std::uint32_t(out.size());
        if (edit)
            edit(c, headers.size());
        headers.push_back(c);
        write(w, h);
        w.bytes(name);
        w.bytes(data);
    }
    const std::size_t dirStart = out.size();
    for (std::size_t k = 0; k < entries.size(); ++k) {
        const std::size_t i = reversedDirectory ? entries.size() - 1 - k : k;
        write(w, headers[i]);
        w.bytes(entries[i].first);
    }
    EndRecord e;
    e.entriesOnDisk = e.totalEntries = std::uint16_t(entries.size());
    e.directorySize = std::uint32_t(out.size() - dirStart);
    e.directoryOffset = std::uint32_t(dirStart);
    write(w, e);
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
}

// Every path below `root`, relative, sorted (folders end with '/').
inline std::vector<std::string> treeOf(const fs::path& root) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto& e : fs::recursive_directory_iterator(root, ec)) {
        std::string rel = fs::relative(e.path(), root).generic_string();
        if (e.is_directory())
            rel += '/';
        names.push_back(rel);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace enginetest
