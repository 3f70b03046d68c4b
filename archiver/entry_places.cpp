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
// Bytes of extra field read with a local header at once (more take a second read).
constexpr std::size_t kExpectedLocalExtra = 64;

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
    EntryData data;
    if (const std::optional<std::string> why = refusal(archive, dir, i, data))
        refuse(*why, componentName);
    return data;
}

std::optional<std::string> EntryPlaces::refusal(platform::Stream& archive, const TZADirArray& dir, int i,
                                                EntryData& data) const {
    const TDirItem& item = dir.ItemAt(i);
    const std::uint64_t at = item.localHeaderOffset64();
    // Every item with this offset, found in logarithmic time: an archive of a million
    // names for one entry must not cost a million steps per entry.
    const auto first = std::lower_bound(m_offsets.begin(), m_offsets.end(), std::make_pair(at, INT_MIN));
    const auto next = std::upper_bound(first, m_offsets.end(), std::make_pair(at, INT_MAX));
    if (next - first > 1) {
        const int other = first->second != i ? first->second : std::next(first)->second;
        return "its data is also claimed by entry \"" + dir.ItemAt(other).name + "\"";
    }
    // The next local header, or the directory: the data must end before either.
    const bool nextIsEntry = next != m_offsets.end() && next->first < m_directory;
    const std::uint64_t limit = nextIsEntry ? next->first : m_directory;
    auto runsPast = [&](const std::string& what) {
        return what + (nextIsEntry ? " runs into entry \"" + dir.ItemAt(next->second).name + "\""
                                   : std::string(" runs into the central directory"));
    };
    if (at >= m_directory || m_directory - at < kLocalHeaderSize)
        return "its local header lies outside the entries' part of the archive";

    // The header with the name and extra field the directory leads to expect, in one
    // read: an archive of a million entries reads a million headers.
    std::vector<std::uint8_t> raw(std::size_t(std::max<std::uint64_t>(
        kLocalHeaderSize,
        std::min<std::uint64_t>(limit - at, kLocalHeaderSize + item.storedBytes().size() + kExpectedLocalExtra))));
    raw.resize(archive.readAt(at, raw.data(), raw.size()));
    if (raw.size() < kLocalHeaderSize)
        return "the archive ends inside its local header";
    ByteReader r(std::span<const std::uint8_t>(raw).first(kLocalHeaderSize));
    LocalHeader h;
    read(r, h);
    if (h.signature != kLocalHeaderSig)
        return "there is no local header where the central directory places it";
    const std::uint64_t dataStart = at + kLocalHeaderSize + h.nameLength + h.extraLength;
    if (dataStart > limit)
        return runsPast("its local header");

    std::vector<std::uint8_t> var(raw.begin() + std::ptrdiff_t(kLocalHeaderSize), raw.end());
    const std::size_t varSize = std::size_t(h.nameLength) + h.extraLength;
    if (var.size() > varSize) {
        var.resize(varSize);
    } else if (var.size() < varSize) {
        const std::size_t got = var.size();
        var.resize(varSize);
        if (archive.readAt(at + kLocalHeaderSize + got, var.data() + got, varSize - got) != varSize - got)
            return "the archive ends inside its local header";
    }
    // The same name bytes as in the directory, or at least the same name in the same
    // encoding: a name stored in two encodings is read differently by other tools.
    const std::string_view localBytes(reinterpret_cast<const char*>(var.data()), h.nameLength);
    if (localBytes != item.storedBytes()) {
        const std::string localName = entryName(localBytes, h.flags, item.versionMadeBy,
                                                std::span<const std::uint8_t>(var).subspan(h.nameLength));
        if (localName != item.name)
            return "its local header names \"" + localName + "\" instead";
        if ((h.flags & kFlagUtf8) != (item.flags & kFlagUtf8))
            return "its local header stores its name in another encoding than the central directory";
    }
    if (!(h.flags & kFlagDataDescriptor)) {
        std::uint64_t compressed = h.compressedSize;
        std::uint64_t uncompressed = h.uncompressedSize;
        readLocalZip64Sizes(std::span<const std::uint8_t>(var).subspan(h.nameLength), h, compressed, uncompressed);
        if (compressed != item.compressedSize64() || uncompressed != item.uncompressedSize64())
            return "the sizes in its local header disagree with the central directory";
    }
    const std::uint64_t size = item.compressedSize64();
    if (size > limit - dataStart)
        return runsPast("its data");
    data = {dataStart, size};
    return std::nullopt;
}

} // namespace archiver
