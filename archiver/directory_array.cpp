// The entry array of the in-memory central directory: growable item slots and the list
// of their folded names with a hash index over it.
#include "archiver/central_directory.h"

#include "archiver/za_exception.h"
#include "platform/encoding.h"

#include <algorithm>

namespace archiver {
namespace {

// Archiver error codes raised here; the comment says when.
constexpr int kErrStoreIndex = 1;        // StoreItem with an index outside the items
constexpr int kErrCopyIndex = 2;         // GetItemCopy with an index outside the items
constexpr int kErrItemIndex = 3;         // ItemAt / RenameItem with an index outside the items
constexpr int kErrDeleteIndex = 4;       // DeleteItem with an index outside the items
constexpr int kErrNameListGap = 58;      // an item would get a name list text beyond the list's end
constexpr int kErrNameListMismatch = 59; // the name list text of an item is not that item's name

constexpr int kMaxGrowthStep = 10000;
constexpr std::size_t kBulkIndexThreshold = 1024; // SetCount growth that defers the name index

std::uint32_t nameHash(std::string_view key) { return std::uint32_t(std::hash<std::string_view>{}(key)); }

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

void TZADirArray::reserve(std::size_t n) {
    if (n <= m_items.capacity())
        return;
    m_items.reserve(n);
    m_names.reserve(n);
    if (n - m_items.size() > kBulkIndexThreshold)
        m_indexValid = false; // built in one pass at the next lookup
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

} // namespace archiver
