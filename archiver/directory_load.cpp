// Loading the central directory of an archive into memory, and rebuilding it from the
// local headers when it is missing or damaged.
#include "archiver/central_directory.h"

#include "archiver/extra_fields.h"
#include "archiver/za_exception.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace archiver {
namespace {

// Archiver error codes raised here; the comment says when.
constexpr int kErrNoLocalHeader = 35;  // rebuild finds no local header in the file
constexpr int kErrRebuildSpanned = 44; // rebuild asked for in spanning mode

constexpr std::size_t kDirectoryChunk = 1 << 20;      // read size while loading the directory
constexpr std::size_t kPrefixSearchBlock = 10000;     // block size of the prefix length search
constexpr std::size_t kRebuildBlock = 65535;          // block size of the local header scan
constexpr std::uint16_t kMaxRebuildExtra = 260;       // a local extra field longer than this is not believed
constexpr int kMaxDescriptorCandidates = 64;          // data descriptor signatures tried per entry
constexpr std::uint64_t kRebuildAllowance = 16 << 20; // a rebuilt directory costs at most the file's size plus this
// What one item of a rebuilt directory costs: the item, its name list text and its
// share of the name index.
constexpr std::uint64_t kRebuiltItemCost = sizeof(TDirItem) + sizeof(std::string) + 16;

std::uint32_t u32At(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

// Positions of `signature` in [from, end of stream) with at least `minRemaining` bytes from
// the hit to the end, scanning blocks of `block` bytes; `onHit` returns false to stop.
template <typename OnHit>
void scanForSignature(platform::Stream& s, std::uint64_t from, std::uint32_t signature, std::size_t block,
                      std::uint64_t minRemaining, OnHit onHit) {
    const std::uint64_t size = s.size();
    std::vector<std::uint8_t> buf(block);
    const auto first = std::uint8_t(signature);
    std::uint64_t pos = from;
    while (pos < size && size - pos >= 4) {
        const std::size_t len = s.readAt(pos, buf.data(), std::size_t(std::min<std::uint64_t>(block, size - pos)));
        if (len < 4)
            return;
        const std::uint8_t* p = buf.data();
        const std::uint8_t* last = buf.data() + len - 4;
        while (p <= last) {
            p = static_cast<const std::uint8_t*>(std::memchr(p, first, std::size_t(last - p) + 1));
            if (!p)
                break;
            const std::uint64_t hit = pos + std::uint64_t(p - buf.data());
            if (u32At(p) == signature && size - hit >= minRemaining && !onHit(hit))
                return;
            ++p;
        }
        // A signature across the block boundary starts in the last three bytes.
        pos += len - 3;
    }
}

// Reads at rising positions through a 1 MiB window, so that a scan over many small
// records costs one system call per window rather than two per record.
class WindowReader {
public:
    explicit WindowReader(platform::Stream& s) : m_stream(s) {}

    std::size_t readAt(std::uint64_t position, void* out, std::size_t n) {
        if (n > kDirectoryChunk)
            return m_stream.readAt(position, out, n);
        if (position < m_start || position - m_start + n > m_buf.size()) {
            m_buf.resize(kDirectoryChunk);
            m_buf.resize(m_stream.readAt(position, m_buf.data(), kDirectoryChunk));
            m_start = position;
        }
        const std::uint64_t off = position - m_start;
        const std::size_t got = off < m_buf.size() ? std::min<std::size_t>(n, m_buf.size() - std::size_t(off)) : 0;
        if (got)
            std::memcpy(out, m_buf.data() + off, got);
        return got;
    }

private:
    platform::Stream& m_stream;
    std::vector<std::uint8_t> m_buf;
    std::uint64_t m_start = 0;
};

struct FoundDescriptor {
    std::uint64_t position = 0;
    std::size_t length = kDataDescriptorSize; // 24 for the zip64 form
    std::uint32_t crc32 = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    bool matches = false; // its compressed size equals its distance from the data
};

// The data descriptor of an entry whose data starts at `dataStart`, among the signature
// positions `descriptors` (sorted): the first whose compressed size equals its distance
// from the data, in the 16-byte or the 24-byte zip64 form (the zip64 form first when the
// local header carried a zip64 block); failing that, the first one after the data.
std::optional<FoundDescriptor> findDataDescriptor(platform::Stream& s, const std::vector<std::uint64_t>& descriptors,
                                                  std::uint64_t dataStart, bool preferZip64) {
    const auto firstAfter = std::lower_bound(descriptors.begin(), descriptors.end(), dataStart);
    if (firstAfter == descriptors.end())
        return std::nullopt;
    auto decode = [dataStart](std::uint64_t at, const std::uint8_t* d, bool zip64) {
        FoundDescriptor f;
        f.position = at;
        f.crc32 = u32At(d + 4);
        if (zip64) {
            f.length = 24;
            f.compressedSize = u32At(d + 8) | std::uint64_t(u32At(d + 12)) << 32;
            f.uncompressedSize = u32At(d + 16) | std::uint64_t(u32At(d + 20)) << 32;
        } else {
            f.compressedSize = u32At(d + 8);
            f.uncompressedSize = u32At(d + 12);
        }
        f.matches = f.compressedSize == at - dataStart;
        return f;
    };
    int tries = 0;
    for (auto it = firstAfter; it != descriptors.end() && tries < kMaxDescriptorCandidates; ++it, ++tries) {
        std::uint8_t d[24] = {};
        const std::size_t got = s.readAt(*it, d, sizeof d);
        const FoundDescriptor narrow = decode(*it, d, false);
        const FoundDescriptor wide = decode(*it, d, true);
        const bool wideOk = got == 24 && wide.matches;
        if (wideOk && (preferZip64 || !narrow.matches))
            return wide;
        if (narrow.matches)
            return narrow;
    }
    std::uint8_t d[24] = {};
    s.readAt(*firstAfter, d, kDataDescriptorSize);
    return decode(*firstAfter, d, false);
}

// The fields a local header repeats from the directory; the name, the extra field and
// the sizes of a data descriptor come after.
TDirItem itemFromLocalHeader(const LocalHeader& h, std::uint64_t at) {
    TDirItem item;
    item.versionMadeBy = item.versionNeeded = h.versionNeeded;
    item.flags = h.flags;
    item.method = h.method;
    item.modTime = h.modTime;
    item.modDate = h.modDate;
    item.crc32 = h.crc32;
    item.compressedSize = h.compressedSize;
    item.uncompressedSize = h.uncompressedSize;
    item.nameLength = h.nameLength;
    item.extraLength = h.extraLength;
    item.setLocalHeaderOffset64(at);
    return item;
}

// The name from the bytes after the local header (name, then extra field); sizes marked
// for zip64 come from the local zip64 extra block.
void takeNameAndExtra(TDirItem& item, const LocalHeader& h, std::span<const std::uint8_t> varPart, bool oemFileNames) {
    const std::string_view rawName(reinterpret_cast<const char*>(varPart.data()), h.nameLength);
    const std::span<const std::uint8_t> extra = varPart.subspan(h.nameLength);
    item.name = entryName(rawName, h.flags, item.versionMadeBy, extra, oemFileNames);
    item.keepStoredName = true;
    if (rawName != item.name)
        item.storedNameBytes.assign(rawName);
    if (h.compressedSize == kZip64Marker32 || h.uncompressedSize == kZip64Marker32)
        item.hasZip64 = readLocalZip64Sizes(extra, h, item.zip64CompressedSize, item.zip64UncompressedSize);
}

// The CRC and the sizes of a data descriptor, which a local header with the descriptor
// flag leaves out.
void takeDataDescriptor(TDirItem& item, const FoundDescriptor& d) {
    item.crc32 = d.crc32;
    item.zip64CompressedSize = d.compressedSize;
    item.zip64UncompressedSize = d.uncompressedSize;
    item.compressedSize = d.compressedSize >= kZip64Marker32 ? kZip64Marker32 : std::uint32_t(d.compressedSize);
    item.uncompressedSize = d.uncompressedSize >= kZip64Marker32 ? kZip64Marker32 : std::uint32_t(d.uncompressedSize);
    item.hasZip64 = item.hasZip64 || item.compressedSize == kZip64Marker32 || item.uncompressedSize == kZip64Marker32;
}

// An entry of a rebuilt directory and where the next one may start at the earliest.
struct RebuiltEntry {
    TDirItem item;
    std::uint64_t end = 0;
};

// Reads the entries of a rebuilt directory from their local headers, at rising positions.
class LocalHeaderReader {
public:
    LocalHeaderReader(platform::Stream& s, std::uint64_t fileSize, bool oemFileNames)
        : m_stream(s), m_window(s), m_fileSize(fileSize), m_oemFileNames(oemFileNames) {}

    // The entry whose local header is at `at`; nullopt when the header is cut short, its
    // extra field is too long to believe or its data would not fit in the file.
    std::optional<RebuiltEntry> entryAt(std::uint64_t at) {
        const auto h = headerAt(at);
        if (!h || h->extraLength > kMaxRebuildExtra)
            return std::nullopt;
        RebuiltEntry entry{itemFromLocalHeader(*h, at)};
        const std::uint64_t nameAt = at + kLocalHeaderSize;
        std::vector<std::uint8_t> varPart(std::size_t(h->nameLength) + h->extraLength);
        const bool complete = m_fileSize - nameAt >= varPart.size() &&
                              m_window.readAt(nameAt, varPart.data(), varPart.size()) == varPart.size();
        if (complete)
            takeNameAndExtra(entry.item, *h, varPart, m_oemFileNames);
        if (entry.item.compressedSize64() >= m_fileSize)
            return std::nullopt;
        const std::uint64_t dataStart = nameAt + varPart.size();
        entry.end = endOf(entry.item, *h, complete ? dataStart : at + 4, complete, dataStart);
        return entry;
    }

private:
    std::optional<LocalHeader> headerAt(std::uint64_t at) {
        std::uint8_t fixed[kLocalHeaderSize];
        if (m_window.readAt(at, fixed, sizeof fixed) != sizeof fixed)
            return std::nullopt;
        ByteReader r(fixed);
        LocalHeader h;
        read(r, h);
        return h;
    }

    // Where the entry ends: after its data descriptor when one matches its data, after its
    // data when the header knows the size, else at `fallback`. A descriptor found also
    // gives the item its CRC and sizes.
    std::uint64_t endOf(TDirItem& item, const LocalHeader& h, std::uint64_t fallback, bool complete,
                        std::uint64_t dataStart) {
        if (h.flags & kFlagDataDescriptor) {
            const auto d = findDataDescriptor(m_stream, descriptors(), dataStart, item.hasZip64);
            if (!d)
                return fallback;
            takeDataDescriptor(item, *d);
            return d->matches ? d->position + d->length : fallback;
        }
        // Known sizes: the next entry cannot start inside this one's data.
        if (complete && m_fileSize - dataStart >= item.compressedSize64())
            return dataStart + item.compressedSize64();
        return fallback;
    }

    // The data descriptor signatures of the whole file, scanned at the first entry that
    // has the descriptor flag.
    const std::vector<std::uint64_t>& descriptors() {
        if (!m_descriptorsScanned) {
            m_descriptorsScanned = true;
            scanForSignature(m_stream, 0, kDataDescriptorSig, kRebuildBlock, kDataDescriptorSize,
                             [&](std::uint64_t hit) {
                                 m_descriptors.push_back(hit);
                                 return true;
                             });
        }
        return m_descriptors;
    }

    platform::Stream& m_stream;
    WindowReader m_window;
    std::uint64_t m_fileSize;
    bool m_oemFileNames;
    bool m_descriptorsScanned = false;
    std::vector<std::uint64_t> m_descriptors;
};

} // namespace

// Sequential reads of [position, end) of a stream in large chunks; each take() returns
// the next n bytes, valid until the next take(), or an empty span when fewer remain.
class TZADirManager::ChunkedInput {
public:
    ChunkedInput(platform::Stream& s, std::uint64_t position, std::uint64_t end)
        : m_stream(s), m_next(position), m_end(end) {}

    std::span<const std::uint8_t> take(std::size_t n) {
        if (m_buf.size() - m_off < n && !refill(n))
            return {};
        std::span<const std::uint8_t> r(m_buf.data() + m_off, n);
        m_off += n;
        return r;
    }

private:
    bool refill(std::size_t n) {
        m_buf.erase(m_buf.begin(), m_buf.begin() + std::ptrdiff_t(m_off));
        m_off = 0;
        const std::uint64_t want = std::min<std::uint64_t>(std::max(n - m_buf.size(), kDirectoryChunk), m_end - m_next);
        if (m_buf.size() + want < n)
            return false;
        const std::size_t old = m_buf.size();
        m_buf.resize(old + std::size_t(want));
        const std::size_t got = m_stream.readAt(m_next, m_buf.data() + old, std::size_t(want));
        m_buf.resize(old + got);
        m_next += got;
        return m_buf.size() >= n;
    }

    platform::Stream& m_stream;
    std::uint64_t m_next;
    std::uint64_t m_end;
    std::vector<std::uint8_t> m_buf;
    std::size_t m_off = 0;
};

TZADirManager::TZADirManager(platform::Stream* stream, bool createFlag, TZADirSettings settings)
    : m_createFlag(createFlag), m_settings(settings) {
    m_image.stream = stream;
    Reset();
}

void TZADirManager::Reset() {
    m_current.Clear();
    m_image.endRecord = EndRecord{};
}

std::optional<std::uint64_t> TZADirManager::FindEndRecord() {
    std::optional<EndRecordLocation> found;
    if (m_image.stream)
        found = findEndRecord(*m_image.stream);
    if (!found) {
        m_image.endRecord = EndRecord{};
        m_image.comment.clear();
        return std::nullopt;
    }
    m_image.endRecord = found->record;
    m_image.comment = std::move(found->comment);
    return found->position;
}

bool TZADirManager::EndRecordPresent(bool tolerantOpen) { return tolerantOpen || FindEndRecord().has_value(); }

std::uint64_t TZADirManager::endRecordDirectoryOffset() const {
    return m_image.zip64 ? m_image.zip64Record.directoryOffset : m_image.endRecord.directoryOffset;
}

// The zip64 end record of the archive whose end record is at `endPosition`, through the
// locator right before it. Believed only when it is one: the locator's disk numbers those
// of one file, and a zip64 end record with its signature where the locator says (or right
// before the locator, when data was prepended and the recorded position is off by the
// prefix) whose size fits before the locator. Anything else there is data that happens to
// hold the signature, such as the last stored name, and nullopt sends the caller to the
// plain end record.
std::optional<std::uint64_t> TZADirManager::zip64RecordFor(std::uint64_t endPosition) {
    if (endPosition < kZip64LocatorSize + kZip64EndRecordSize)
        return std::nullopt;
    const std::uint64_t locatorPosition = endPosition - kZip64LocatorSize;
    std::uint8_t locator[kZip64LocatorSize];
    if (m_image.stream->readAt(locatorPosition, locator, sizeof locator) != sizeof locator)
        return std::nullopt;
    ByteReader lr(locator);
    Zip64Locator found;
    read(lr, found);
    if (found.signature != kZip64LocatorSig || found.totalDisks > 1 || found.zip64RecordDisk != 0)
        return std::nullopt;
    const std::uint64_t besideLocator = locatorPosition - kZip64EndRecordSize;
    for (std::uint64_t at : {found.zip64RecordOffset, besideLocator}) {
        std::uint8_t bytes[kZip64EndRecordSize];
        if (at > besideLocator || m_image.stream->readAt(at, bytes, sizeof bytes) != sizeof bytes)
            continue;
        ByteReader rr(bytes);
        Zip64EndRecord record;
        read(rr, record);
        // The size counts the bytes after its own field: at least the fixed fields, and
        // no further than the locator.
        if (record.signature != kZip64EndRecordSig || record.recordSize < kZip64EndRecordSize - 12 ||
            record.recordSize > locatorPosition - at - 12)
            continue;
        m_image.zip64Locator = found;
        m_image.zip64Record = record;
        return besideLocator;
    }
    return std::nullopt;
}

// Where the directory starts for the end record at `endPosition`: the end record position
// minus the directory size, or for a zip64 archive the zip64 record's position minus its
// directory size. Sets the zip64 flag and images. nullopt when the sizes cannot be right.
std::optional<std::uint64_t> TZADirManager::directoryStart(std::uint64_t endPosition) {
    m_image.zip64 = false;
    if (const auto recordPosition = zip64RecordFor(endPosition)) {
        m_image.zip64 = true;
        if (m_image.zip64Record.directorySize > *recordPosition)
            return std::nullopt;
        return *recordPosition - m_image.zip64Record.directorySize;
    }
    const auto size = std::int32_t(m_image.endRecord.directorySize);
    if (size < 0 || std::uint64_t(size) > endPosition)
        return std::nullopt;
    return endPosition - std::uint64_t(size);
}

void TZADirManager::LoadCentralDirectory() {
    Reset();
    m_image.prefixLength = 0;
    m_rebuilt = false;
    m_namelessSkipped = 0;
    m_headersDropped = 0;
    m_image.zip64 = false;
    const auto endPosition = FindEndRecord();
    if (!endPosition || !readDirectory(*endPosition)) {
        rebuildFromLocalHeaders();
        return;
    }
    if (m_image.endRecord.diskNumber == 0)
        findPrefixLength(*endPosition);
}

// Reads every central header; false (directory discarded) when any of them is missing,
// damaged or without its signature, or when the directory claims more entries than the
// archive has room for (every entry needs a local header of its own before the
// directory). The records are checked in a first pass that keeps nothing, so memory is
// only taken for records that are there.
bool TZADirManager::readDirectory(std::uint64_t endPosition) {
    const auto start = directoryStart(endPosition);
    if (!start)
        return false;
    if (!m_image.zip64 && m_image.endRecord.totalEntries == kZip64Marker16)
        return false;
    const std::uint64_t count = m_image.zip64 ? m_image.zip64Record.totalEntries : m_image.endRecord.totalEntries;
    const std::uint64_t fileSize = m_image.stream->size();
    if (*start > fileSize || count > (fileSize - *start) / kCentralHeaderSize || count > std::uint64_t(INT_MAX) ||
        !recordsHold(*start, count))
        return false;

    m_image.directoryPosition = *start;
    m_current.reserve(std::size_t(count));
    ChunkedInput in(*m_image.stream, *start, fileSize);
    for (std::uint64_t i = 0; i < count; ++i) {
        TDirItem item;
        if (readCentralEntry(in, item) == CentralRead::Nameless)
            ++m_namelessSkipped;
        else
            m_current.appendItem(std::move(item));
    }
    return true;
}

// Whether `count` central headers follow each other from `start`, each with its
// signature and with room for the local headers they need before the directory.
bool TZADirManager::recordsHold(std::uint64_t start, std::uint64_t count) const {
    ChunkedInput in(*m_image.stream, start, m_image.stream->size());
    std::uint64_t localHeaders = 0; // the least room the entries' local headers take
    for (std::uint64_t i = 0; i < count; ++i) {
        ByteReader r(in.take(kCentralHeaderSize));
        CentralHeader h;
        read(r, h);
        if (!r.ok() || h.signature != kCentralHeaderSig)
            return false;
        localHeaders += kLocalHeaderSize + h.nameLength;
        if (localHeaders > start)
            return false;
        if (in.take(std::size_t(h.nameLength) + h.extraLength + h.commentLength).size() !=
            std::size_t(h.nameLength) + h.extraLength + h.commentLength)
            return false;
    }
    return true;
}

// One central header with its name, extra blocks and comment, from `in` into `item`
// (its lengths and signature checked by recordsHold).
TZADirManager::CentralRead TZADirManager::readCentralEntry(ChunkedInput& in, TDirItem& item) const {
    {
        ByteReader r(in.take(kCentralHeaderSize));
        read(r, static_cast<CentralHeader&>(item));
    }
    // recordsHold has checked every length and signature.
    ByteReader r(in.take(std::size_t(item.nameLength) + item.extraLength + item.commentLength));
    const auto nameBytes = r.bytes(item.nameLength);
    const auto extra = r.bytes(item.extraLength);
    const auto comment = r.bytes(item.commentLength);
    const std::string_view rawName(reinterpret_cast<const char*>(nameBytes.data()), nameBytes.size());
    item.name = entryName(rawName, item.flags, item.versionMadeBy, extra, m_settings.oemFileNames);
    if (item.name.empty())
        return CentralRead::Nameless;
    item.keepStoredName = true;
    if (rawName != item.name)
        item.storedNameBytes.assign(rawName);
    // Extra blocks: a block longer than what is left of the field is cut to the rest;
    // a tail too short for a block header is ignored.
    ByteReader er(extra);
    while (er.remaining() >= 4) {
        TZAExtraBlock block;
        block.headerId = er.u16();
        const std::size_t declared = er.u16();
        const auto data = er.bytes(std::min(declared, er.remaining()));
        block.data.assign(data.begin(), data.end());
        if (block.headerId == kZip64ExtraId) {
            item.hasZip64 = true;
            Zip64Values v;
            readZip64Extra(data, item, v);
            item.zip64UncompressedSize = v.uncompressedSize;
            item.zip64CompressedSize = v.compressedSize;
            item.zip64LocalHeaderOffset = v.localHeaderOffset;
            item.zip64DiskNumberStart = v.diskNumberStart;
        }
        item.extraBlocks.push_back(std::move(block));
    }
    item.comment.assign(comment.begin(), comment.end());
    return CentralRead::Entry;
}

// Finds how many bytes precede the first local header and shifts the item offsets when
// they were recorded without those bytes (data prepended to an archive).
void TZADirManager::findPrefixLength(std::uint64_t endPosition) {
    if (m_current.Count() == 0) {
        m_image.prefixLength = endPosition;
        return;
    }
    const TDirItem& first = m_current.ItemAt(0);
    const std::uint64_t from = first.localHeaderOffset64();
    std::optional<std::uint64_t> accepted;
    scanForSignature(
        *m_image.stream, from, kLocalHeaderSig, kPrefixSearchBlock, kLocalHeaderSize, [&](std::uint64_t hit) {
            if (hit == 0) {
                accepted = hit;
                return false;
            }
            std::uint8_t bytes[kLocalHeaderSize];
            if (m_image.stream->readAt(hit, bytes, sizeof bytes) != sizeof bytes)
                return true;
            ByteReader r(bytes);
            LocalHeader h;
            read(r, h);
            // The local header of item 0: same method, time, name and, where the local header
            // holds them, CRC and sizes. The version is not compared: a zip64 local header
            // says 45 where the central one may not.
            bool same = h.method == first.method && h.modTime == first.modTime && h.modDate == first.modDate;
            if (same && !(h.flags & kFlagDataDescriptor)) {
                same = h.crc32 == first.crc32;
                if (h.compressedSize != kZip64Marker32 && first.compressedSize != kZip64Marker32)
                    same = same && h.compressedSize == first.compressedSize;
                if (h.uncompressedSize != kZip64Marker32 && first.uncompressedSize != kZip64Marker32)
                    same = same && h.uncompressedSize == first.uncompressedSize;
            }
            if (same) {
                std::string name(h.nameLength, '\0');
                same = m_image.stream->readAt(hit + kLocalHeaderSize, name.data(), name.size()) == name.size() &&
                       name == first.storedBytes();
            }
            if (same)
                accepted = hit;
            return !same;
        });
    if (!accepted)
        return;
    m_image.prefixLength = *accepted;
    // Every item moves by the same amount, folder entries included: their local headers
    // moved with the rest.
    if (*accepted <= from)
        return;
    const std::uint64_t shift = *accepted - from;
    for (int i = 0; i < m_current.Count(); ++i) {
        TDirItem& item = m_current.ItemAt(i);
        item.setLocalHeaderOffset64(item.localHeaderOffset64() + shift, item.localHeaderOffset == kZip64Marker32);
    }
}

void TZADirManager::rebuildFromLocalHeaders() {
    m_current.Clear();
    m_rebuilt = true;
    m_image.zip64 = false;
    if (m_settings.spanning)
        throw EZAException(kErrRebuildSpanned);
    platform::Stream& s = *m_image.stream;
    const std::uint64_t fileSize = s.size();

    std::vector<std::uint64_t> headers;
    scanForSignature(s, 0, kLocalHeaderSig, kRebuildBlock, kLocalHeaderSize, [&](std::uint64_t hit) {
        headers.push_back(hit);
        return true;
    });
    if (headers.empty())
        throw EZAException(kErrNoLocalHeader);
    // A rebuilt directory may cost about the file's size, no more: a file packed with tiny
    // local headers is not believed beyond that. Its room is taken at once, so that it
    // never grows by copying.
    const std::uint64_t itemLimit = (fileSize + kRebuildAllowance) / kRebuiltItemCost;
    m_current.reserve(std::size_t(std::min<std::uint64_t>(headers.size(), itemLimit)));

    std::uint64_t nextAllowed = 0;
    LocalHeaderReader reader(s, fileSize, m_settings.oemFileNames);
    for (std::uint64_t at : headers) {
        if (at < nextAllowed)
            continue;
        auto entry = reader.entryAt(at);
        if (!entry)
            continue;
        nextAllowed = std::max(entry->end, at + 4);
        TDirItem& item = entry->item;
        if (item.name.empty()) {
            ++m_namelessSkipped;
            continue;
        }
        if (std::uint64_t(m_current.Count()) >= itemLimit) {
            ++m_headersDropped;
            continue;
        }
        // A name ending in '/' is a folder entry; anything else is a file, empty or not.
        item.externalAttributes = item.name.back() == '/' ? kAttrFolder : kAttrArchive;
        m_current.appendItem(std::move(item));
    }
    m_image.directoryPosition = fileSize;
}

} // namespace archiver
