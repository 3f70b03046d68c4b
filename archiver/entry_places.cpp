#include "archiver/entry_places.h"
#include "archiver/extra_fields.h"

#include <algorithm>
#include <climits>
#include <iterator>

#include "archiver/byte_io.h"
#include "archiver/za_exception.h"
#include "archiver/zip_records.h"

namespace archiver {
namespace {

constexpr int kErrRefused = 8; // the entry's data cannot be trusted

[[noreturn]] void refuse(const std::string& reason, const std::string& componentName) {
    throw EZAException(kErrRefused, {}, ZAReason{reason}, componentName);
}

} // namespace

EntryPlaces::EntryPlaces(const TZADirArray& dir, std::uint64_t directoryPosition) : m_directory(directoryPosition) {
    m_offsets.reserve(std::size_t(dir.Count()));
    for (int i = 0; i < dir.Count(); ++i)
        m_offsets.emplace_back(dir.ItemAt(i).localHeaderOffset64(), i);
    std::sort(m_offsets.begin(), m_offsets.end());
}

EntryData EntryPlaces::check(platform::Stream& archive, const TZADirArray& dir, int i,
                             const std::string& componentName) const {
    const TDirItem& item = dir.ItemAt(i);
    const std::uint64_t at = item.localHeaderOffset64();
    // Every item with this offset, found in logarithmic time: an archive of a million
    // names for one entry must not cost a million steps per entry.
    const auto first = std::lower_bound(m_offsets.begin(), m_offsets.end(), std::make_pair(at, INT_MIN));
    const auto next = std::upper_bound(first, m_offsets.end(), std::make_pair(at, INT_MAX));
    if (next - first > 1) {
        const int other = first->second != i ? first->second : std::next(first)->second;
        refuse("its data is also claimed by entry \"" + dir.ItemAt(other).name + "\"", componentName);
    }
    // The next local header, or the directory: the data must end before either.
    const bool nextIsEntry = next != m_offsets.end() && next->first < m_directory;
    const std::uint64_t limit = nextIsEntry ? next->first : m_directory;
    auto runsPast = [&](const std::string& what) {
        refuse(what + (nextIsEntry ? " runs into entry \"" + dir.ItemAt(next->second).name + "\""
                                   : std::string(" runs into the central directory")),
               componentName);
    };
    if (at >= m_directory || m_directory - at < kLocalHeaderSize)
        refuse("its local header lies outside the entries' part of the archive", componentName);

    std::uint8_t raw[kLocalHeaderSize];
    if (archive.readAt(at, raw, sizeof raw) != sizeof raw)
        refuse("the archive ends inside its local header", componentName);
    ByteReader r(raw);
    LocalHeader h;
    read(r, h);
    if (h.signature != kLocalHeaderSig)
        refuse("there is no local header where the central directory places it", componentName);
    const std::uint64_t dataStart = at + kLocalHeaderSize + h.nameLength + h.extraLength;
    if (dataStart > limit)
        runsPast("its local header");

    std::vector<std::uint8_t> var(std::size_t(h.nameLength) + h.extraLength);
    if (archive.readAt(at + kLocalHeaderSize, var.data(), var.size()) != var.size())
        refuse("the archive ends inside its local header", componentName);
    // The same name bytes as in the directory, or at least the same name in the same
    // encoding: a name stored in two encodings is read differently by other tools.
    const std::string_view localBytes(reinterpret_cast<const char*>(var.data()), h.nameLength);
    if (localBytes != item.storedBytes()) {
        const std::string localName = entryName(localBytes, h.flags, item.versionMadeBy,
                                                std::span<const std::uint8_t>(var).subspan(h.nameLength));
        if (localName != item.name)
            refuse("its local header names \"" + localName + "\" instead", componentName);
        if ((h.flags & kFlagUtf8) != (item.flags & kFlagUtf8))
            refuse("its local header stores its name in another encoding than the central directory", componentName);
    }
    if (!(h.flags & kFlagDataDescriptor)) {
        std::uint64_t compressed = h.compressedSize;
        std::uint64_t uncompressed = h.uncompressedSize;
        readLocalZip64Sizes(std::span<const std::uint8_t>(var).subspan(h.nameLength), h, compressed, uncompressed);
        if (compressed != item.compressedSize64() || uncompressed != item.uncompressedSize64())
            refuse("the sizes in its local header disagree with the central directory", componentName);
    }
    const std::uint64_t size = item.compressedSize64();
    if (size > limit - dataStart)
        runsPast("its data");
    return {dataStart, size};
}

} // namespace archiver
