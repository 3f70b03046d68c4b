// The in-memory central directory: item array with name index, loading (with the
// rebuild from local headers) and saving.
#include "archiver/central_directory.h"

#include "archiver/extra_fields.h"
#include "archiver/za_exception.h"
#include "platform/encoding.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace archiver {
namespace {

// Archiver error codes raised here; the comment says when.
constexpr int kErrStoreIndex = 1;        // StoreItem with an index outside the items
constexpr int kErrCopyIndex = 2;         // GetItemCopy with an index outside the items
constexpr int kErrItemIndex = 3;         // ItemAt / RenameItem with an index outside the items
constexpr int kErrDeleteIndex = 4;       // DeleteItem with an index outside the items
constexpr int kErrNoLocalHeader = 35;    // rebuild finds no local header in the file
constexpr int kErrNoZip64Record = 40;    // a zip64 locator without a zip64 end record
constexpr int kErrRebuildSpanned = 44;   // rebuild asked for in spanning mode
constexpr int kErrDirectoryWrite = 46;   // fewer directory bytes written than asked
constexpr int kErrNameListGap = 58;      // an item would get a name list text beyond the list's end
constexpr int kErrNameListMismatch = 59; // the name list text of an item is not that item's name
constexpr int kErrNameTooLong = 61;      // a stored name does not fit its 16-bit length field

constexpr int kMaxGrowthStep = 10000;
constexpr std::size_t kBulkIndexThreshold = 1024;     // SetCount growth that defers the name index
constexpr std::size_t kDirectoryChunk = 1 << 20;      // read size while loading the directory
constexpr std::size_t kPrefixSearchBlock = 10000;     // block size of the prefix length search
constexpr std::size_t kRebuildBlock = 65535;          // block size of the local header scan
constexpr std::uint16_t kMaxRebuildExtra = 260;       // a local extra field longer than this is not believed
constexpr int kMaxDescriptorCandidates = 64;          // data descriptor signatures tried per entry
constexpr std::uint64_t kRebuildBudgetFactor = 4;     // a rebuilt directory's items: at most 4 x the file...
constexpr std::uint64_t kRebuildAllowance = 16 << 20; // ... plus 16 MiB

std::uint32_t nameHash(std::string_view key) { return std::uint32_t(std::hash<std::string_view>{}(key)); }

std::uint32_t u32At(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

// Sequential reads of [position, end) of a stream in large chunks; each take() returns
// the next n bytes, valid until the next take(), or an empty span when fewer remain.
class ChunkedInput {
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

} // namespace

void foldNameInto(std::string_view name, std::string& out) {
    // Fast path for ASCII and the Russian alphabet (two-byte sequences D0 xx / D1 xx),
    // folding exactly as platform::toLowerUtf8 does; anything else goes through it.
    out.assign(name);
    const std::size_t n = out.size();
    for (std::size_t i = 0; i < n; ++i) {
        auto c = static_cast<unsigned char>(out[i]);
        if (c < 0x80) {
            if (c >= 'A' && c <= 'Z')
                out[i] = char(c + ('a' - 'A'));
            continue;
        }
        auto t = i + 1 < n ? static_cast<unsigned char>(out[i + 1]) : 0;
        if ((c != 0xD0 && c != 0xD1) || (t & 0xC0) != 0x80) {
            out = platform::toLowerUtf8(name);
            return;
        }
        if (c == 0xD0 && t >= 0x90 && t <= 0x9F) { // А..П -> а..п
            out[i + 1] = char(t + 0x20);
        } else if (c == 0xD0 && t >= 0xA0 && t <= 0xAF) { // Р..Я -> р..я
            out[i] = char(0xD1);
            out[i + 1] = char(t - 0x20);
        } else if (c == 0xD0 && t <= 0x8F) { // Ѐ..Џ -> ѐ..џ
            out[i] = char(0xD1);
            out[i + 1] = char(t + 0x10);
        }
        ++i;
    }
}

std::string foldName(std::string_view name) {
    std::string out;
    foldNameInto(name, out);
    return out;
}

// ---- TZADirArray ----

void TZADirArray::SetCount(int n) {
    if (n <= 0) {
        decltype(m_items)().swap(m_items);
        m_names.clear();
        m_index.clear();
        m_indexUsed = 0;
        m_indexValid = true;
        return;
    }
    const std::size_t want = std::size_t(n);
    if (want > m_items.capacity()) {
        m_growthStep = std::min(2 * m_growthStep, kMaxGrowthStep);
        // Past 40000 slots the step is a quarter of what is there: a fixed step would copy a
        // huge directory over and over while it is rebuilt entry by entry.
        const std::size_t step = std::max(std::size_t(m_growthStep), m_items.capacity() / 4);
        m_items.reserve(std::max(m_items.capacity() + step, want));
        // Many new slots at once (a directory being loaded): the index is built in one
        // pass at the next lookup, which is cheaper than inserting name by name.
        if (want - m_items.size() > kBulkIndexThreshold)
            m_indexValid = false;
    }
    m_items.resize(want);
    if (m_names.size() > want) {
        m_names.resize(want);
        m_indexValid = false;
    }
}

TDirItem& TZADirArray::ItemAt(int i) {
    if (i < 0 || i >= Count())
        throw EZAException(kErrItemIndex);
    return m_items[std::size_t(i)];
}

const TDirItem& TZADirArray::ItemAt(int i) const {
    if (i < 0 || i >= Count())
        throw EZAException(kErrItemIndex);
    return m_items[std::size_t(i)];
}

TDirItem TZADirArray::GetItemCopy(int i) const {
    if (i < 0 || i >= Count())
        throw EZAException(kErrCopyIndex);
    return m_items[std::size_t(i)];
}

void TZADirArray::setNameAt(int i, std::string folded) {
    const auto pos = std::size_t(i);
    if (pos < m_names.size()) {
        if (m_names[pos] != folded) {
            m_names[pos] = std::move(folded);
            m_indexValid = false;
        }
    } else if (pos == m_names.size()) {
        m_names.push_back(std::move(folded));
        if (m_indexValid)
            insertIndex(i, nameHash(m_names.back()));
    } else {
        throw EZAException(kErrNameListGap);
    }
}

void TZADirArray::StoreItem(int i, const TDirItem& item) {
    if (i < 0 || i >= Count())
        throw EZAException(kErrStoreIndex);
    setNameAt(i, keyOf(item.name));
    m_items[std::size_t(i)] = item;
}

void TZADirArray::StoreItem(int i, TDirItem&& item) {
    if (i < 0 || i >= Count())
        throw EZAException(kErrStoreIndex);
    setNameAt(i, keyOf(item.name));
    m_items[std::size_t(i)] = std::move(item);
}

void TZADirArray::DeleteItem(int i) {
    if (i < 0 || i >= Count())
        throw EZAException(kErrDeleteIndex);
    // The item's own text goes, at its own position: a lookup by name could hit an
    // earlier item with the same name and leave the list misaligned.
    if (std::size_t(i) < m_names.size())
        m_names.erase(m_names.begin() + i);
    m_items.erase(m_items.begin() + i);
    m_indexValid = false;
}

// Sizes the index for `expected` names (at most half full) and inserts every name, first
// to last, so that of equal names the last one is found. The hashes are computed first
// and the slots fetched ahead, so the table's cache misses overlap.
void TZADirArray::rebuildIndex(std::size_t expected) const {
    std::size_t size = 16;
    while (size < 2 * std::max(expected, m_names.size()))
        size *= 2;
    m_index.assign(size, IndexSlot{});
    m_indexUsed = 0;
    m_indexValid = true;
    const std::size_t mask = size - 1;
    std::vector<std::uint32_t> hashes(m_names.size());
    for (std::size_t i = 0; i < m_names.size(); ++i)
        hashes[i] = nameHash(m_names[i]);
    constexpr std::size_t kAhead = 16;
    for (std::size_t i = 0; i < m_names.size(); ++i) {
        if (i + kAhead < m_names.size())
            __builtin_prefetch(&m_index[hashes[i + kAhead] & mask]);
        insertIndex(int(i), hashes[i]);
    }
}

void TZADirArray::insertIndex(int i, std::uint32_t h) const {
    if (2 * (m_indexUsed + 1) > m_index.size()) {
        rebuildIndex(m_names.size()); // inserts name i as well
        return;
    }
    const std::string& key = m_names[std::size_t(i)];
    const std::size_t mask = m_index.size() - 1;
    for (std::size_t s = h & mask;; s = (s + 1) & mask) {
        IndexSlot& slot = m_index[s];
        if (slot.position1 == 0) {
            slot = {std::uint32_t(i) + 1, h};
            ++m_indexUsed;
            return;
        }
        if (slot.hash == h && m_names[slot.position1 - 1] == key) {
            slot.position1 = std::max(slot.position1, std::uint32_t(i) + 1);
            return;
        }
    }
}

int TZADirArray::FindByName(std::string_view name) const {
    if (!m_indexValid || m_index.empty())
        rebuildIndex(m_names.size());
    if (m_exactNames)
        m_lookupKey.assign(name);
    else
        foldNameInto(name, m_lookupKey);
    const std::string& key = m_lookupKey;
    const std::uint32_t h = nameHash(key);
    const std::size_t mask = m_index.size() - 1;
    for (std::size_t s = h & mask;; s = (s + 1) & mask) {
        const IndexSlot& slot = m_index[s];
        if (slot.position1 == 0)
            return -1;
        if (slot.hash == h && m_names[slot.position1 - 1] == key)
            return int(slot.position1 - 1);
    }
}

void TZADirArray::RenameItem(int i, std::string newName) {
    TDirItem& item = ItemAt(i);
    const auto pos = std::size_t(i);
    if (pos < m_names.size() && m_names[pos] != keyOf(item.name))
        throw EZAException(kErrNameListMismatch);
    setNameAt(i, keyOf(newName));
    if (newName != item.name) {
        item.keepStoredName = false;
        item.storedNameBytes.clear();
    }
    item.name = std::move(newName);
}

int TZADirArray::appendItem(TDirItem item) {
    const int i = Count();
    if (std::size_t(i) != m_names.size())
        throw EZAException(kErrNameListGap);
    SetCount(i + 1);
    setNameAt(i, keyOf(item.name));
    m_items[std::size_t(i)] = std::move(item);
    return i;
}

std::string TZADirArray::keyOf(std::string_view name) const {
    return m_exactNames ? std::string(name) : foldName(name);
}

void TZADirArray::setExactNames(bool exact) {
    if (exact == m_exactNames)
        return;
    m_exactNames = exact;
    for (std::size_t i = 0; i < m_names.size(); ++i)
        m_names[i] = keyOf(m_items[i].name);
    m_indexValid = false;
}

void TZADirArray::AssignFrom(const TZADirArray& other) {
    Clear();
    m_exactNames = other.m_exactNames;
    m_items = other.m_items;
    m_names = other.m_names;
    m_indexValid = false;
}

void TZADirArray::ClearSelection() {
    for (auto& item : m_items)
        item.selected = false;
}

void TZADirArray::Clear() {
    m_items.clear();
    m_names.clear();
    m_index.clear();
    m_indexUsed = 0;
    m_indexValid = true;
}

// ---- TZADirManager ----

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

// Where the directory starts for the end record at `endPosition`: the end record position
// minus the directory size, or for a zip64 archive the zip64 record's position minus its
// directory size. Sets the zip64 flag and images. nullopt when the sizes cannot be right.
std::optional<std::uint64_t> TZADirManager::directoryStart(std::uint64_t endPosition) {
    m_image.zip64 = false;
    const std::uint64_t fileSize = m_image.stream->size();
    std::uint8_t sig[4];
    if (endPosition > kZip64LocatorSize && m_image.stream->readAt(endPosition - kZip64LocatorSize, sig, 4) == 4 &&
        u32At(sig) == kZip64LocatorSig && endPosition > kZip64LocatorSize + kZip64EndRecordSize) {
        std::uint8_t locator[kZip64LocatorSize];
        m_image.stream->readAt(endPosition - kZip64LocatorSize, locator, sizeof locator);
        ByteReader lr(locator);
        read(lr, m_image.zip64Locator);
        // The zip64 record where the locator says, or right before the locator when data
        // was prepended to the archive and the recorded position is off by the prefix.
        const std::uint64_t besideLocator = endPosition - kZip64LocatorSize - kZip64EndRecordSize;
        bool found = false;
        for (std::uint64_t at : {m_image.zip64Locator.zip64RecordOffset, besideLocator}) {
            std::uint8_t record[kZip64EndRecordSize];
            if (at > fileSize || fileSize - at < kZip64EndRecordSize ||
                m_image.stream->readAt(at, record, sizeof record) != sizeof record)
                continue;
            ByteReader rr(record);
            read(rr, m_image.zip64Record);
            if (m_image.zip64Record.signature == kZip64EndRecordSig) {
                found = true;
                break;
            }
        }
        if (!found)
            throw EZAException(kErrNoZip64Record);
        m_image.zip64 = true;
        if (m_image.zip64Record.directorySize > besideLocator)
            return std::nullopt;
        return besideLocator - m_image.zip64Record.directorySize;
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

// Reads every central header; false (directory discarded) when any of them is missing
// or damaged. Nothing is allocated for entries the file has no room for.
bool TZADirManager::readDirectory(std::uint64_t endPosition) {
    const auto start = directoryStart(endPosition);
    if (!start)
        return false;
    if (!m_image.zip64 && m_image.endRecord.totalEntries == kZip64Marker16)
        return false;
    const std::uint64_t count = m_image.zip64 ? m_image.zip64Record.totalEntries : m_image.endRecord.totalEntries;
    const std::uint64_t fileSize = m_image.stream->size();
    if (*start > fileSize || count > (fileSize - *start) / kCentralHeaderSize || count > std::uint64_t(INT_MAX))
        return false;

    m_image.directoryPosition = *start;
    m_current.SetCount(int(count));
    ChunkedInput in(*m_image.stream, *start, fileSize);
    int kept = 0; // entries without a name are left out
    for (int i = 0; i < int(count); ++i) {
        // Items are filled in place in the slots SetCount made; the name goes in through
        // RenameItem, which appends it to the name list.
        TDirItem& item = m_current.ItemAt(kept);
        if (kept != i)
            item = TDirItem{};
        {
            ByteReader r(in.take(kCentralHeaderSize));
            read(r, static_cast<CentralHeader&>(item));
            if (!r.ok()) {
                m_current.Clear();
                return false;
            }
        }
        ByteReader r(in.take(std::size_t(item.nameLength) + item.extraLength + item.commentLength));
        const auto nameBytes = r.bytes(item.nameLength);
        const auto extra = r.bytes(item.extraLength);
        const auto comment = r.bytes(item.commentLength);
        if (!r.ok()) {
            m_current.Clear();
            return false;
        }
        const std::string_view rawName(reinterpret_cast<const char*>(nameBytes.data()), nameBytes.size());
        std::string name = entryName(rawName, item.flags, item.versionMadeBy, extra, m_settings.oemFileNames);
        if (name.empty()) {
            ++m_namelessSkipped;
            continue;
        }
        m_current.RenameItem(kept++, std::move(name));
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
    }
    m_current.SetCount(kept);
    return true;
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
    std::vector<std::uint64_t> descriptors;
    bool anyDescriptorFlag = false;
    scanForSignature(s, 0, kLocalHeaderSig, kRebuildBlock, kLocalHeaderSize, [&](std::uint64_t hit) {
        headers.push_back(hit);
        return true;
    });
    if (headers.empty())
        throw EZAException(kErrNoLocalHeader);

    std::uint64_t nextAllowed = 0;
    WindowReader window(s);
    for (std::uint64_t at : headers) {
        if (at < nextAllowed)
            continue;
        std::uint8_t fixed[kLocalHeaderSize];
        if (window.readAt(at, fixed, sizeof fixed) != sizeof fixed)
            continue;
        ByteReader r(fixed);
        LocalHeader h;
        read(r, h);
        if (h.extraLength > kMaxRebuildExtra)
            continue;

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

        const std::uint64_t nameAt = at + kLocalHeaderSize;
        std::vector<std::uint8_t> varPart(std::size_t(h.nameLength) + h.extraLength);
        const bool complete = fileSize - nameAt >= varPart.size() &&
                              window.readAt(nameAt, varPart.data(), varPart.size()) == varPart.size();
        if (complete) {
            const std::string_view rawName(reinterpret_cast<const char*>(varPart.data()), h.nameLength);
            item.name =
                entryName(rawName, h.flags, item.versionMadeBy,
                          std::span<const std::uint8_t>(varPart).subspan(h.nameLength), m_settings.oemFileNames);
            item.keepStoredName = true;
            if (rawName != item.name)
                item.storedNameBytes.assign(rawName);
            // Sizes marked for zip64 come from the local zip64 extra block.
            if (h.compressedSize == kZip64Marker32 || h.uncompressedSize == kZip64Marker32)
                item.hasZip64 = readLocalZip64Sizes(std::span<const std::uint8_t>(varPart).subspan(h.nameLength), h,
                                                    item.zip64CompressedSize, item.zip64UncompressedSize);
        }
        const std::uint64_t dataStart = nameAt + varPart.size();
        if (item.compressedSize64() >= fileSize)
            continue;

        std::uint64_t entryEnd = complete ? dataStart : at + 4;
        if (h.flags & kFlagDataDescriptor) {
            if (!anyDescriptorFlag) {
                anyDescriptorFlag = true;
                scanForSignature(s, 0, kDataDescriptorSig, kRebuildBlock, kDataDescriptorSize, [&](std::uint64_t hit) {
                    descriptors.push_back(hit);
                    return true;
                });
            }
            if (const auto d = findDataDescriptor(s, descriptors, dataStart, item.hasZip64)) {
                item.crc32 = d->crc32;
                item.zip64CompressedSize = d->compressedSize;
                item.zip64UncompressedSize = d->uncompressedSize;
                item.compressedSize =
                    d->compressedSize >= kZip64Marker32 ? kZip64Marker32 : std::uint32_t(d->compressedSize);
                item.uncompressedSize =
                    d->uncompressedSize >= kZip64Marker32 ? kZip64Marker32 : std::uint32_t(d->uncompressedSize);
                item.hasZip64 =
                    item.hasZip64 || item.compressedSize == kZip64Marker32 || item.uncompressedSize == kZip64Marker32;
                if (d->matches)
                    entryEnd = d->position + d->length;
            }
        } else if (complete && fileSize - dataStart >= item.compressedSize64()) {
            // Known sizes: the next entry cannot start inside this one's data.
            entryEnd = dataStart + item.compressedSize64();
        }
        nextAllowed = std::max(entryEnd, at + 4);
        if (item.name.empty()) {
            ++m_namelessSkipped;
            continue;
        }
        // A rebuilt directory may cost a few times the file's size, no more: a file packed
        // with tiny local headers is not believed beyond that.
        if ((std::uint64_t(m_current.Count()) + 1) * sizeof(TDirItem) >
            kRebuildBudgetFactor * fileSize + kRebuildAllowance) {
            ++m_headersDropped;
            continue;
        }
        // A name ending in '/' is a folder entry; anything else is a file, empty or not.
        item.externalAttributes = !item.name.empty() && item.name.back() == '/' ? kAttrFolder : kAttrArchive;
        m_current.appendItem(std::move(item));
    }
    m_image.directoryPosition = fileSize;
}

void TZADirManager::SaveCentralDirectory(bool appendAtEnd, platform::Stream* targetStream) {
    if (targetStream)
        m_image.stream = targetStream;
    platform::Stream& s = *m_image.stream;
    const std::string comment = m_image.comment; // the search below replaces it
    std::optional<std::uint64_t> position;
    if (!appendAtEnd) {
        if (const auto endPosition = FindEndRecord())
            position = directoryStart(*endPosition);
    }
    m_image.comment = comment;
    if (!position)
        position = s.size();
    s.truncate(*position);
    s.seek(*position);
    m_image.directoryPosition = *position;

    std::vector<std::uint8_t> buffer;
    ByteWriter w(buffer);
    for (int i = 0; i < m_current.Count(); ++i) {
        TDirItem& item = m_current.ItemAt(i);
        // An entry read from an archive keeps its name bytes and flags exactly.
        const StoredName name = item.keepStoredName ? StoredName{item.storedBytes(), (item.flags & kFlagUtf8) != 0}
                                                    : encodeStoredName(item.name, m_settings.oemFileNames);
        if (name.bytes.size() > 0xFFFF)
            throw EZAException(kErrNameTooLong, {item.name});
        if (!item.keepStoredName)
            item.flags = flagsForName(item.flags, name);
        item.nameLength = std::uint16_t(name.bytes.size());
        if (item.comment.size() > 0xFFFF)
            item.comment.resize(0xFFFF);
        item.commentLength = std::uint16_t(item.comment.size());
        const std::uint16_t zip64Size = zip64ExtraDataSize(item);
        std::size_t extraLength = zip64Size ? 4u + zip64Size : 0u;
        std::size_t carried = 0; // the blocks that fit the 16-bit length field
        for (const auto& block : item.extraBlocks) {
            if (block.headerId == kZip64ExtraId)
                continue;
            if (extraLength + 4 + block.data.size() > 0xFFFF)
                break;
            extraLength += 4 + block.data.size();
            ++carried;
        }
        item.extraLength = std::uint16_t(extraLength);
        write(w, static_cast<const CentralHeader&>(item));
        w.bytes(name.bytes);
        writeZip64Extra(w, item,
                        {item.zip64UncompressedSize, item.zip64CompressedSize, item.zip64LocalHeaderOffset,
                         item.zip64DiskNumberStart});
        for (const auto& block : item.extraBlocks) {
            if (block.headerId == kZip64ExtraId)
                continue;
            if (carried-- == 0)
                break;
            w.u16(block.headerId);
            w.u16(std::uint16_t(block.data.size()));
            w.bytes(block.data);
        }
        w.bytes(item.comment);
    }
    auto writeAll = [&](const std::vector<std::uint8_t>& bytes) {
        if (s.write(bytes.data(), bytes.size()) != bytes.size())
            throw EZAException(kErrDirectoryWrite);
    };
    writeAll(buffer);

    const std::uint64_t count = std::uint64_t(m_current.Count());
    m_image.endRecord = EndRecord{};
    m_image.endRecord.entriesOnDisk = m_image.endRecord.totalEntries =
        count >= kZip64Marker16 ? kZip64Marker16 : std::uint16_t(count);
    m_image.endRecord.directorySize = buffer.size() >= kZip64Marker32 ? kZip64Marker32 : std::uint32_t(buffer.size());
    m_image.endRecord.directoryOffset = *position >= kZip64Marker32 ? kZip64Marker32 : std::uint32_t(*position);
    if (m_image.comment.size() > 0xFFFF)
        m_image.comment.resize(0xFFFF);
    m_image.endRecord.commentLength = std::uint16_t(m_image.comment.size());

    std::vector<std::uint8_t> tail;
    ByteWriter tw(tail);
    const std::uint64_t after = *position + buffer.size();
    m_image.zip64 = after >= kZip64Marker32 || count >= kZip64Marker16;
    if (m_image.zip64) {
        m_image.zip64Record = Zip64EndRecord{};
        m_image.zip64Record.entriesOnDisk = m_image.zip64Record.totalEntries = count;
        m_image.zip64Record.directorySize = buffer.size();
        m_image.zip64Record.directoryOffset = *position;
        m_image.zip64Locator = Zip64Locator{};
        m_image.zip64Locator.zip64RecordOffset = after;
        write(tw, m_image.zip64Record);
        write(tw, m_image.zip64Locator);
    }
    write(tw, m_image.endRecord);
    tw.bytes(m_image.comment);
    writeAll(tail);
}

} // namespace archiver
