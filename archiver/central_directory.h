// The central directory of an open archive in memory: the directory items (TDirItem),
// their growable array with a case-insensitive name index (TZADirArray), and the
// manager that loads the directory from an archive, rebuilds it from local headers when
// it is damaged, and writes it back (TZADirManager).
#pragma once

#include "archiver/zip_records.h"
#include "platform/file_stream.h"
#include "platform/large_memory.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace archiver {

// What an update does with an item (recorded in TDirItem::operation).
enum TZAProcessOperation : std::uint8_t {
    poAdd = 0,
    poMove = 1,
    poDelete = 2,
    poUpdate = 3,
    poExtract = 4,
    poTest = 5,
    poRename = 6,
    poChangeAttr = 7,
    poChangeComment = 8,
    poMakeSFX = 9,
};

// Text that is empty for most items (a comment, an old name, the source path of a new
// entry): 8 bytes in the item, the characters on the heap only when there are any, so
// that a directory of a million entries does not carry a million empty strings.
class CompactText {
public:
    CompactText() = default;
    CompactText(std::string_view text) { assign(text); }
    CompactText(const std::string& text) { assign(text); }
    CompactText(const char* text) { assign(std::string_view(text)); }
    CompactText(const CompactText& other) { assign(other.str()); }
    CompactText(CompactText&&) noexcept = default;
    CompactText& operator=(const CompactText& other) {
        if (this != &other)
            assign(other.str());
        return *this;
    }
    CompactText& operator=(CompactText&&) noexcept = default;
    CompactText& operator=(std::string_view text) {
        assign(text);
        return *this;
    }
    CompactText& operator=(const std::string& text) { return *this = std::string_view(text); }
    CompactText& operator=(const char* text) { return *this = std::string_view(text); }

    void assign(std::string_view text) {
        if (text.empty())
            m_text.reset();
        else
            m_text = std::make_unique<std::string>(text);
    }
    template <typename It>
    void assign(It first, It last) {
        assign(std::string(first, last));
    }
    void clear() { m_text.reset(); }
    void resize(std::size_t n) {
        if (n == 0)
            return clear();
        if (!m_text)
            m_text = std::make_unique<std::string>();
        m_text->resize(n);
    }
    bool empty() const { return !m_text || m_text->empty(); }
    std::size_t size() const { return m_text ? m_text->size() : 0; }
    const std::string& str() const { return m_text ? *m_text : emptyText(); }
    operator const std::string&() const { return str(); }
    operator std::string_view() const { return str(); }
    friend bool operator==(const CompactText& a, std::string_view b) { return a.str() == b; }

private:
    static const std::string& emptyText() {
        static const std::string empty;
        return empty;
    }
    std::unique_ptr<std::string> m_text;
};

// One extra field block as read from an archive; carried unchanged when the directory is
// written again (except a zip64 block, which is regenerated from the item's values).
struct TZAExtraBlock {
    std::uint16_t headerId = 0;
    std::vector<std::uint8_t> data; // its data size is data.size()
};

// One archive entry. The CentralHeader base is the 46-byte fixed part of its central file
// header; the rest never reaches the file as such.
struct TDirItem : CentralHeader {
    // (The fields are ordered so that the item has no holes: a loaded directory holds one
    // per entry.)
    std::string name;    // stored name, UTF-8, '/' separators; a folder entry ends in '/'
    CompactText oldName; // the name before a rename (poRename)
    CompactText comment; // entry comment, raw bytes
    std::vector<TZAExtraBlock> extraBlocks;
    // An entry read from an archive keeps its name bytes and flag bit 11 as they were: the
    // directory writes them back unchanged. storedNameBytes holds the bytes when they are
    // not `name` itself (CP866, a Unicode Path name, a name cut at a zero byte). A new name
    // (RenameItem) is encoded afresh.
    CompactText storedNameBytes;
    const std::string& storedBytes() const { return storedNameBytes.empty() ? name : storedNameBytes.str(); }

    std::uint64_t zip64UncompressedSize = 0;
    std::uint64_t zip64CompressedSize = 0;
    std::uint64_t zip64LocalHeaderOffset = 0;
    std::uint32_t zip64DiskNumberStart = 0;

    // Data to store instead of sourceFileName; shared by copies of the item.
    std::int32_t sourceStreamStart = 0;
    std::shared_ptr<platform::Stream> sourceStream;
    CompactText sourceFileName; // full path of the disk file to store

    bool keepStoredName = false;
    bool hasZip64 = false;            // zip64 values are present or needed
    bool modified = false;            // the next update writes this item (new or replaced entry)
    bool selected = false;            // work flag of the extraction selection
    std::uint8_t compressionMode = 0; // deflate level 0..9 for this item
    std::uint8_t operation = poAdd;   // a TZAProcessOperation

    // The sizes and offset with the zip64 value taken when the 32-bit field holds its marker.
    std::uint64_t compressedSize64() const {
        return compressedSize == kZip64Marker32 ? zip64CompressedSize : compressedSize;
    }
    std::uint64_t uncompressedSize64() const {
        return uncompressedSize == kZip64Marker32 ? zip64UncompressedSize : uncompressedSize;
    }
    std::uint64_t localHeaderOffset64() const {
        return localHeaderOffset == kZip64Marker32 ? zip64LocalHeaderOffset : localHeaderOffset;
    }
    // Their counterparts: a value that does not fit in 32 bits, or any value with `zip64`,
    // goes to the zip64 field and leaves the marker in the 32-bit one.
    void setCompressedSize64(std::uint64_t value, bool zip64 = false) {
        setWide(compressedSize, zip64CompressedSize, value, zip64);
    }
    void setUncompressedSize64(std::uint64_t value, bool zip64 = false) {
        setWide(uncompressedSize, zip64UncompressedSize, value, zip64);
    }
    void setLocalHeaderOffset64(std::uint64_t value, bool zip64 = false) {
        setWide(localHeaderOffset, zip64LocalHeaderOffset, value, zip64);
    }
    // Whether the entry is a folder: a trailing '/' says so; else the Unix mode, where a
    // Unix host wrote one with a file type; else the DOS folder bit on an entry without
    // data. A mode that says regular file wins over a stray folder bit, so a file's data
    // is never dropped.
    bool isFolder() const;

private:
    void setWide(std::uint32_t& field, std::uint64_t& wide, std::uint64_t value, bool zip64) {
        if (zip64 || value >= kZip64Marker32) {
            field = kZip64Marker32;
            wide = value;
            hasZip64 = true;
        } else {
            field = std::uint32_t(value);
        }
    }
};

// The lower-case form used by every name comparison of the directory (Latin and Cyrillic).
std::string foldName(std::string_view name);
// The same into `out`, reusing its storage.
void foldNameInto(std::string_view name, std::string& out);

// The growable array of directory items with the list of their lower-cased names and a
// hash index over it. Every change of an item's name goes through StoreItem, DeleteItem,
// RenameItem or appendItem, which keep the name list aligned with the items.
// Index errors raise EZAException: 1 (StoreItem), 2 (GetItemCopy), 3 (ItemAt),
// 4 (DeleteItem); 58 and 59 when the name list disagrees with the items.
class TZADirArray {
public:
    int Count() const { return int(m_items.size()); }
    // Grows the slots in steps (1000, 2000, 4000, 8000, then 10000 at a time); 0 frees all;
    // shrinking to a non-zero count keeps the slots. New items are default items.
    void SetCount(int n);
    TDirItem& ItemAt(int i);
    const TDirItem& ItemAt(int i) const;
    TDirItem GetItemCopy(int i) const;
    // Replaces item i (i < Count) and sets name list text i (or appends it when i equals
    // the list's count).
    void StoreItem(int i, const TDirItem& item);
    void StoreItem(int i, TDirItem&& item);
    void DeleteItem(int i);
    // Index of the item whose name equals `name` ignoring case (exactly with
    // setExactNames), or -1. With two such items, the later one. Not for concurrent use
    // (it reuses a key buffer).
    int FindByName(std::string_view name) const;
    // Sets item i's name and its name list text. A new item is named this way right after
    // SetCount(Count() + 1). 3 when i is out of range; 59 when the list's text i is not
    // item i's current name.
    void RenameItem(int i, std::string newName);
    void AssignFrom(const TZADirArray& other);
    void ClearSelection();
    // Empties the directory; the slots stay allocated.
    void Clear();

    // Room for `n` items (and their names) without growing again.
    void reserve(std::size_t n);
    // Appends `item` (name included) as a new last item; returns its index.
    int appendItem(TDirItem item);
    // Names match exactly instead of ignoring case: on a file system that tells
    // "readme.txt" from "README.TXT" both are entries of their own.
    void setExactNames(bool exact);
    bool exactNames() const { return m_exactNames; }
    // Slots allocated (for tests of the growth policy).
    std::size_t capacity() const { return m_items.capacity(); }
    // Name list text i: the folded (or exact) name of item i.
    const std::string& foldedNameAt(int i) const { return m_names.at(std::size_t(i)); }
    int nameListCount() const { return int(m_names.size()); }

private:
    // One slot of the open-addressing name index.
    struct IndexSlot {
        std::uint32_t position1 = 0; // position + 1; 0 marks an empty slot
        std::uint32_t hash = 0;
    };

    void setNameAt(int i, std::string folded);
    std::string keyOf(std::string_view name) const;
    void rebuildIndex(std::size_t expected) const;
    void insertIndex(int i, std::uint32_t hash) const;

    std::vector<TDirItem, platform::LargeAllocator<TDirItem>> m_items;
    std::vector<std::string, platform::LargeAllocator<std::string>> m_names; // folded name of each item, same order
    int m_growthStep = 500;
    bool m_exactNames = false;
    // Hash index over m_names: folded name -> position (the highest among equal names).
    // Kept up to date on appends; any other change marks it stale and the next lookup
    // rebuilds it.
    mutable std::vector<IndexSlot, platform::LargeAllocator<IndexSlot>> m_index;
    mutable std::size_t m_indexUsed = 0;
    mutable bool m_indexValid = true;
    mutable std::string m_lookupKey; // FindByName's folded key, kept to reuse its storage
};

// Settings the manager takes from its archiver.
struct TZADirSettings {
    bool oemFileNames = true; // names in CP866 (UTF-8 with flag bit 11 when needed)
    bool spanning = false;    // a spanning mode is set (the rebuild refuses it)
};

// Where the directory of the archive file lies and what its end records say: kept aside
// before an update writes a new archive and put back when the update does not finish.
struct DirectoryImage {
    platform::Stream* stream = nullptr;
    std::string comment;
    Zip64Locator zip64Locator;
    Zip64EndRecord zip64Record;
    EndRecord endRecord;
    std::uint64_t prefixLength = 0;
    bool zip64 = false;
    std::uint64_t directoryPosition = 0;
};

// Owns the directory of one open archive: the current directory and the backup copy an
// update works from. The stream is not owned.
class TZADirManager {
public:
    TZADirManager(platform::Stream* stream, bool createFlag, TZADirSettings settings = {});

    // Empties the current directory and zeroes the end record image.
    void Reset();
    // The end record search; fills the end record image and the archive comment and
    // returns the record's position, or nullopt (image zeroed, comment empty).
    std::optional<std::uint64_t> FindEndRecord();
    // True when an end record is found; always true while `tolerantOpen` is set.
    bool EndRecordPresent(bool tolerantOpen);
    // Loads the directory of the archive in the stream. A missing or damaged directory is
    // rebuilt from the local headers. Raises EZAException 35 when the file holds neither,
    // 40 when a zip64 locator has no zip64 end record, 44 for a rebuild in spanning mode.
    // Read failures of the stream propagate as platform::FileError.
    void LoadCentralDirectory();
    // Writes the current directory, the zip64 records when needed and the end record, in
    // place of the old ones (appendAtEnd false and an end record found) or at the end of
    // the stream, and truncates the stream before it. Raises EZAException 46 on a short
    // write.
    void SaveCentralDirectory(bool appendAtEnd, platform::Stream* targetStream = nullptr);

    TZADirArray& currentDir() { return m_current; }
    const TZADirArray& currentDir() const { return m_current; }
    TZADirArray& backupDir() { return m_backup; }
    const TZADirArray& backupDir() const { return m_backup; }

    platform::Stream* stream() const { return m_image.stream; }
    void setStream(platform::Stream* stream) { m_image.stream = stream; }
    bool createFlag() const { return m_createFlag; }
    const TZADirSettings& settings() const { return m_settings; }

    const EndRecord& endRecord() const { return m_image.endRecord; }
    const Zip64EndRecord& zip64EndRecord() const { return m_image.zip64Record; }
    const Zip64Locator& zip64Locator() const { return m_image.zip64Locator; }
    const std::string& archiveComment() const { return m_image.comment; }
    void setArchiveComment(std::string comment) { m_image.comment = std::move(comment); }
    // Bytes before the first local header (data prepended to the archive).
    std::uint64_t prefixLength() const { return m_image.prefixLength; }
    bool zip64() const { return m_image.zip64; }
    bool aborted() const { return m_aborted; }
    void setAborted(bool aborted) { m_aborted = aborted; }
    // File position of the first central header, or of where the directory goes.
    std::uint64_t directoryPosition() const { return m_image.directoryPosition; }
    // The directory offset of the end record in memory (the zip64 value for zip64).
    std::uint64_t endRecordDirectoryOffset() const;
    // True when the last load rebuilt the directory from local headers.
    bool rebuilt() const { return m_rebuilt; }
    // Entries the last load left out because they have no name.
    int namelessSkipped() const { return m_namelessSkipped; }
    // Local headers a rebuild left out because the directory would have outgrown a few
    // times the file's size.
    int headersDropped() const { return m_headersDropped; }

    const DirectoryImage& image() const { return m_image; }
    void restore(const DirectoryImage& image) { m_image = image; }

private:
    class ChunkedInput;
    enum class CentralRead { Entry, Nameless };
    bool readDirectory(std::uint64_t endPosition);
    bool recordsHold(std::uint64_t start, std::uint64_t count) const;
    CentralRead readCentralEntry(ChunkedInput& in, TDirItem& item) const;
    void rebuildFromLocalHeaders();
    void findPrefixLength(std::uint64_t endPosition);
    std::optional<std::uint64_t> directoryStart(std::uint64_t endPosition);
    std::optional<std::uint64_t> zip64RecordFor(std::uint64_t endPosition);

    DirectoryImage m_image; // the stream and where its directory lies
    bool m_createFlag;
    TZADirSettings m_settings;
    TZADirArray m_backup;
    TZADirArray m_current;
    bool m_aborted = false;
    bool m_rebuilt = false;
    int m_namelessSkipped = 0;
    int m_headersDropped = 0;
};

} // namespace archiver
