// The ZIP records as this archiver writes and reads them: local header, central header,
// end of central directory record, zip64 end record and locator, data descriptor and
// zip64 extra field. Every byte layout lives here; every record goes through
// ByteWriter / ByteReader in on-disk field order.
//
// Also here: how stored names are encoded (CP866, or UTF-8 with flag bit 11) and the
// MS-DOS date and time words.
#pragma once

#include "archiver/byte_io.h"
#include "platform/file_stream.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace archiver {

inline constexpr std::uint32_t kLocalHeaderSig = 0x04034B50;
inline constexpr std::uint32_t kCentralHeaderSig = 0x02014B50;
inline constexpr std::uint32_t kEndRecordSig = 0x06054B50;
inline constexpr std::uint32_t kZip64EndRecordSig = 0x06064B50;
inline constexpr std::uint32_t kZip64LocatorSig = 0x07064B50;
inline constexpr std::uint32_t kDataDescriptorSig = 0x08074B50;

inline constexpr std::size_t kLocalHeaderSize = 30;
inline constexpr std::size_t kCentralHeaderSize = 46;
inline constexpr std::size_t kEndRecordSize = 22;
inline constexpr std::size_t kZip64EndRecordSize = 56;
inline constexpr std::size_t kZip64LocatorSize = 20;
inline constexpr std::size_t kDataDescriptorSize = 16;
inline constexpr std::size_t kLocalZip64ExtraSize = 20;

// Bytes searched at the end of a file for the end record: 22 + the longest comment.
inline constexpr std::size_t kEndRecordSearchWindow = 65600;

inline constexpr std::uint16_t kZip64ExtraId = 0x0001;
inline constexpr std::uint32_t kZip64Marker32 = 0xFFFFFFFF; // "the value is in the zip64 field"
inline constexpr std::uint16_t kZip64Marker16 = 0xFFFF;

inline constexpr std::uint16_t kVersionDefault = 20; // version needed / made by of our entries
inline constexpr std::uint16_t kVersionZip64 = 45;

inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kFlagFolder = 0x0002;         // set by this writer on folder entries
inline constexpr std::uint16_t kFlagDataDescriptor = 0x0008; // sizes follow the data
inline constexpr std::uint16_t kFlagUtf8 = 0x0800;           // the name is UTF-8

inline constexpr std::uint16_t kMethodStored = 0;
inline constexpr std::uint16_t kMethodDeflate = 8;

inline constexpr std::uint32_t kAttrFolder = 0x10;
inline constexpr std::uint32_t kAttrArchive = 0x20;

// The 30-byte fixed part of a local file header; name and extra field follow it.
struct LocalHeader {
    std::uint32_t signature = kLocalHeaderSig;
    std::uint16_t versionNeeded = kVersionDefault;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t modTime = 0;
    std::uint16_t modDate = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t extraLength = 0;
};

// The 46-byte fixed part of a central file header; name, extra field and comment follow.
struct CentralHeader {
    std::uint32_t signature = kCentralHeaderSig;
    std::uint16_t versionMadeBy = kVersionDefault;
    std::uint16_t versionNeeded = kVersionDefault;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t modTime = 0;
    std::uint16_t modDate = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t extraLength = 0;
    std::uint16_t commentLength = 0;
    std::uint16_t diskNumberStart = 0;
    std::uint16_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
    std::uint32_t localHeaderOffset = 0;
};

// The 22-byte end of central directory record; the archive comment follows it.
struct EndRecord {
    std::uint32_t signature = kEndRecordSig;
    std::uint16_t diskNumber = 0;
    std::uint16_t directoryDisk = 0;
    std::uint16_t entriesOnDisk = 0;
    std::uint16_t totalEntries = 0;
    std::uint32_t directorySize = 0;
    std::uint32_t directoryOffset = 0;
    std::uint16_t commentLength = 0;
};

// The 56-byte zip64 end of central directory record (no extensible data).
struct Zip64EndRecord {
    std::uint32_t signature = kZip64EndRecordSig;
    std::uint64_t recordSize = kZip64EndRecordSize - 12; // bytes after this field
    std::uint16_t versionMadeBy = kVersionZip64;
    std::uint16_t versionNeeded = kVersionZip64;
    std::uint32_t diskNumber = 0;
    std::uint32_t directoryDisk = 0;
    std::uint64_t entriesOnDisk = 0;
    std::uint64_t totalEntries = 0;
    std::uint64_t directorySize = 0;
    std::uint64_t directoryOffset = 0;
};

// The 20-byte zip64 end of central directory locator.
struct Zip64Locator {
    std::uint32_t signature = kZip64LocatorSig;
    std::uint32_t zip64RecordDisk = 0;
    std::uint64_t zip64RecordOffset = 0;
    std::uint32_t totalDisks = 1;
};

// The 16-byte data descriptor (read only; this writer never sets flag bit 3).
struct DataDescriptor {
    std::uint32_t signature = kDataDescriptorSig;
    std::uint32_t crc32 = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
};

// The 64-bit values a zip64 extra block carries for the fields of a central header that
// hold their all-ones marker.
struct Zip64Values {
    std::uint64_t uncompressedSize = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t localHeaderOffset = 0;
    std::uint32_t diskNumberStart = 0;
};

void write(ByteWriter& w, const LocalHeader& h);
void write(ByteWriter& w, const CentralHeader& h);
void write(ByteWriter& w, const EndRecord& r);
void write(ByteWriter& w, const Zip64EndRecord& r);
void write(ByteWriter& w, const Zip64Locator& l);

// Each reads the fixed part, signature included (not checked: callers test it where the
// format asks). Test r.ok() afterwards.
void read(ByteReader& r, LocalHeader& h);
void read(ByteReader& r, CentralHeader& h);
void read(ByteReader& r, EndRecord& e);
void read(ByteReader& r, Zip64EndRecord& e);
void read(ByteReader& r, Zip64Locator& l);
void read(ByteReader& r, DataDescriptor& d);

// Data size of the central zip64 extra block `h` needs: 8 per size / offset field and 4
// for the disk number field holding its marker; 0 when no field does.
std::uint16_t zip64ExtraDataSize(const CentralHeader& h);
// Writes the central zip64 extra block (header id, size, data) for the marked fields of
// `h`; writes nothing when none is marked.
void writeZip64Extra(ByteWriter& w, const CentralHeader& h, const Zip64Values& v);
// Reads the data of a zip64 extra block: for each marked field of `h`, in order, its
// 64-bit (or 32-bit) value, each only while `data` still holds that many bytes.
void readZip64Extra(std::span<const std::uint8_t> data, const CentralHeader& h, Zip64Values& v);
// From a local header's extra field: the 64-bit sizes of its zip64 block for the size
// fields of `h` that hold the marker (the others are left as they are). False when the
// field has no zip64 block.
bool readLocalZip64Sizes(std::span<const std::uint8_t> extra, const LocalHeader& h, std::uint64_t& compressed,
                         std::uint64_t& uncompressed);
// The 20-byte local zip64 extra field: id 1, size 16, uncompressed then compressed size.
void writeLocalZip64Extra(ByteWriter& w, std::uint64_t uncompressedSize, std::uint64_t compressedSize);

// ---- Names ----

bool isAscii(std::string_view s);

// A name as it is stored: the bytes and whether they are UTF-8 (flag bit 11).
struct StoredName {
    std::string bytes;
    bool utf8 = false;
};

// The one place that decides how a name is written: with `oemFileNames`, CP866 without
// flag bit 11 when every character exists in CP866 (and `preferUtf8` is not set), else
// UTF-8 with bit 11 (never lossy); bytes that are not UTF-8 are written as they are,
// without bit 11. Without `oemFileNames` the bytes are kept as they are.
StoredName encodeStoredName(std::string_view name, bool oemFileNames = true, bool preferUtf8 = false);
// A stored name back to UTF-8: bit 11 means UTF-8 (invalid UTF-8 falls back to CP866),
// otherwise CP866 (with `oemFileNames`). A zero byte ends the name.
std::string decodeStoredName(std::string_view bytes, std::uint16_t flags, bool oemFileNames = true);
// `flags` with bit 11 set or cleared to match `name`.
inline std::uint16_t flagsForName(std::uint16_t flags, const StoredName& name) {
    return std::uint16_t(name.utf8 ? (flags | kFlagUtf8) : (flags & ~kFlagUtf8));
}

// ---- MS-DOS date and time ----

struct DosDateTime {
    std::uint16_t time = 0; // seconds/2 in bits 0-4, minutes 5-10, hours 11-15
    std::uint16_t date = 0; // day in bits 0-4, month 5-8, years since 1980 9-15
};

// A moment in local time as DOS words. Times before 1980 give 1980-01-01 00:00:00, times
// after 2107 give 2107-12-31 23:59:58; odd seconds round down.
DosDateTime toDosDateTime(std::time_t t);
// The same for a file's time stamp.
DosDateTime toDosDateTime(std::filesystem::file_time_type t);
// The local time the DOS words stand for (mktime); fields out of range are normalised.
std::time_t fromDosDateTime(DosDateTime dt);
// "YYYY-MM-DD hh:mm:ss" straight from the words, without time zone conversion.
std::string formatDosDateTime(DosDateTime dt);

// ---- Finding the end record ----

struct EndRecordLocation {
    std::uint64_t position = 0; // file position of the end record's signature
    EndRecord record;
    std::string comment; // the archive comment (raw bytes)
};

// Searches the last min(size, 65600) bytes of `s` backwards for the end record signature;
// a candidate is accepted only when 22 bytes remain from it and its comment length equals
// the bytes after the record up to the end of the file. The first accepted candidate from
// the end wins. nullopt when there is none. Read failures throw platform::FileError.
std::optional<EndRecordLocation> findEndRecord(platform::Stream& s);

} // namespace archiver
