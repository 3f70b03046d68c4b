// ZIP record layouts, stored-name encoding, DOS time stamps and the end record search.
#include "archiver/zip_records.h"

#include "platform/encoding.h"
#include "platform/local_time.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace archiver {
bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Records are written and read field by field in on-disk order, a few fields a line, so
// that each function can be checked against the format line by line.
// clang-format off

// ---- Writing ----

void write(ByteWriter& w, const LocalHeader& h) {
    w.u32(h.signature);
    w.u16(h.versionNeeded); w.u16(h.flags); w.u16(h.method);
    w.u16(h.modTime); w.u16(h.modDate);
    w.u32(h.crc32); w.u32(h.compressedSize); w.u32(h.uncompressedSize);
    w.u16(h.nameLength); w.u16(h.extraLength);
}

void write(ByteWriter& w, const CentralHeader& h) {
    w.u32(h.signature);
    w.u16(h.versionMadeBy); w.u16(h.versionNeeded); w.u16(h.flags); w.u16(h.method);
    w.u16(h.modTime); w.u16(h.modDate);
    w.u32(h.crc32); w.u32(h.compressedSize); w.u32(h.uncompressedSize);
    w.u16(h.nameLength); w.u16(h.extraLength); w.u16(h.commentLength);
    w.u16(h.diskNumberStart); w.u16(h.internalAttributes);
    w.u32(h.externalAttributes); w.u32(h.localHeaderOffset);
}

void write(ByteWriter& w, const EndRecord& r) {
    w.u32(r.signature);
    w.u16(r.diskNumber); w.u16(r.directoryDisk);
    w.u16(r.entriesOnDisk); w.u16(r.totalEntries);
    w.u32(r.directorySize); w.u32(r.directoryOffset);
    w.u16(r.commentLength);
}

void write(ByteWriter& w, const Zip64EndRecord& r) {
    w.u32(r.signature);
    w.u64(r.recordSize);
    w.u16(r.versionMadeBy); w.u16(r.versionNeeded);
    w.u32(r.diskNumber); w.u32(r.directoryDisk);
    w.u64(r.entriesOnDisk); w.u64(r.totalEntries);
    w.u64(r.directorySize); w.u64(r.directoryOffset);
}

void write(ByteWriter& w, const Zip64Locator& l) {
    w.u32(l.signature);
    w.u32(l.zip64RecordDisk); w.u64(l.zip64RecordOffset); w.u32(l.totalDisks);
}

// ---- Reading ----

void read(ByteReader& r, LocalHeader& h) {
    h.signature = r.u32();
    h.versionNeeded = r.u16(); h.flags = r.u16(); h.method = r.u16();
    h.modTime = r.u16(); h.modDate = r.u16();
    h.crc32 = r.u32(); h.compressedSize = r.u32(); h.uncompressedSize = r.u32();
    h.nameLength = r.u16(); h.extraLength = r.u16();
}

void read(ByteReader& r, CentralHeader& h) {
    h.signature = r.u32();
    h.versionMadeBy = r.u16(); h.versionNeeded = r.u16(); h.flags = r.u16(); h.method = r.u16();
    h.modTime = r.u16(); h.modDate = r.u16();
    h.crc32 = r.u32(); h.compressedSize = r.u32(); h.uncompressedSize = r.u32();
    h.nameLength = r.u16(); h.extraLength = r.u16(); h.commentLength = r.u16();
    h.diskNumberStart = r.u16(); h.internalAttributes = r.u16();
    h.externalAttributes = r.u32(); h.localHeaderOffset = r.u32();
}

void read(ByteReader& r, EndRecord& e) {
    e.signature = r.u32();
    e.diskNumber = r.u16(); e.directoryDisk = r.u16();
    e.entriesOnDisk = r.u16(); e.totalEntries = r.u16();
    e.directorySize = r.u32(); e.directoryOffset = r.u32();
    e.commentLength = r.u16();
}

void read(ByteReader& r, Zip64EndRecord& e) {
    e.signature = r.u32();
    e.recordSize = r.u64();
    e.versionMadeBy = r.u16(); e.versionNeeded = r.u16();
    e.diskNumber = r.u32(); e.directoryDisk = r.u32();
    e.entriesOnDisk = r.u64(); e.totalEntries = r.u64();
    e.directorySize = r.u64(); e.directoryOffset = r.u64();
}

void read(ByteReader& r, Zip64Locator& l) {
    l.signature = r.u32();
    l.zip64RecordDisk = r.u32(); l.zip64RecordOffset = r.u64(); l.totalDisks = r.u32();
}

void read(ByteReader& r, DataDescriptor& d) {
    d.signature = r.u32();
    d.crc32 = r.u32(); d.compressedSize = r.u32(); d.uncompressedSize = r.u32();
}

// clang-format on

// ---- Zip64 extra field ----

std::uint16_t zip64ExtraDataSize(const CentralHeader& h) {
    std::uint16_t n = 0;
    if (h.uncompressedSize == kZip64Marker32)
        n += 8;
    if (h.compressedSize == kZip64Marker32)
        n += 8;
    if (h.localHeaderOffset == kZip64Marker32)
        n += 8;
    if (h.diskNumberStart == kZip64Marker16)
        n += 4;
    return n;
}

void writeZip64Extra(ByteWriter& w, const CentralHeader& h, const Zip64Values& v) {
    std::uint16_t size = zip64ExtraDataSize(h);
    if (size == 0)
        return;
    w.u16(kZip64ExtraId);
    w.u16(size);
    if (h.uncompressedSize == kZip64Marker32)
        w.u64(v.uncompressedSize);
    if (h.compressedSize == kZip64Marker32)
        w.u64(v.compressedSize);
    if (h.localHeaderOffset == kZip64Marker32)
        w.u64(v.localHeaderOffset);
    if (h.diskNumberStart == kZip64Marker16)
        w.u32(v.diskNumberStart);
}

void readZip64Extra(std::span<const std::uint8_t> data, const CentralHeader& h, Zip64Values& v) {
    ByteReader r(data);
    if (h.uncompressedSize == kZip64Marker32 && r.remaining() >= 8)
        v.uncompressedSize = r.u64();
    if (h.compressedSize == kZip64Marker32 && r.remaining() >= 8)
        v.compressedSize = r.u64();
    if (h.localHeaderOffset == kZip64Marker32 && r.remaining() >= 8)
        v.localHeaderOffset = r.u64();
    if (h.diskNumberStart == kZip64Marker16 && r.remaining() >= 4)
        v.diskNumberStart = r.u32();
}

bool readLocalZip64Sizes(std::span<const std::uint8_t> extra, const LocalHeader& h, std::uint64_t& compressed,
                         std::uint64_t& uncompressed) {
    ByteReader er(extra);
    while (er.remaining() >= 4) {
        const std::uint16_t id = er.u16();
        const std::size_t declared = er.u16(); // read before what remains is asked
        const auto data = er.bytes(std::min(declared, er.remaining()));
        if (id != kZip64ExtraId)
            continue;
        ByteReader zr(data);
        if (h.uncompressedSize == kZip64Marker32 && zr.remaining() >= 8)
            uncompressed = zr.u64();
        if (h.compressedSize == kZip64Marker32 && zr.remaining() >= 8)
            compressed = zr.u64();
        return true;
    }
    return false;
}

void writeLocalZip64Extra(ByteWriter& w, std::uint64_t uncompressedSize, std::uint64_t compressedSize) {
    w.u16(kZip64ExtraId);
    w.u16(16);
    w.u64(uncompressedSize);
    w.u64(compressedSize);
}

// ---- Names ----

StoredName encodeStoredName(std::string_view name, bool oemFileNames, bool preferUtf8) {
    if (!oemFileNames || isAscii(name))
        return {std::string(name), false};
    if (preferUtf8 && platform::isValidUtf8(name))
        return {std::string(name), true};
    if (auto oem = platform::utf8ToCp866(name))
        return {std::move(*oem), false};
    // Bit 11 promises UTF-8: bytes that are not (a name in some other code page) go
    // without it, so that readers that decode the flag strictly still open the archive.
    return {std::string(name), platform::isValidUtf8(name)};
}

std::string decodeStoredName(std::string_view bytes, std::uint16_t flags, bool oemFileNames) {
    bytes = bytes.substr(0, bytes.find('\0'));
    if (!oemFileNames || ((flags & kFlagUtf8) ? platform::isValidUtf8(bytes) : isAscii(bytes)))
        return std::string(bytes);
    return platform::cp866ToUtf8(bytes);
}

// ---- DOS date and time ----

DosDateTime toDosDateTime(std::time_t t) {
    const std::optional<std::tm> local = platform::localTime(t);
    if (!local || local->tm_year < 80)
        return {0, std::uint16_t((0 << 9) | (1 << 5) | 1)};
    const std::tm& tm = *local;
    if (tm.tm_year > 80 + 127)
        return {std::uint16_t((23 << 11) | (59 << 5) | 29), std::uint16_t((127 << 9) | (12 << 5) | 31)};
    DosDateTime dt;
    dt.time = std::uint16_t((tm.tm_hour << 11) | (tm.tm_min << 5) | (std::min(tm.tm_sec, 59) / 2));
    dt.date = std::uint16_t(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    return dt;
}

DosDateTime toDosDateTime(std::filesystem::file_time_type t) {
    const auto sys =
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(std::chrono::file_clock::to_sys(t));
    return toDosDateTime(std::chrono::system_clock::to_time_t(sys));
}

std::time_t fromDosDateTime(DosDateTime dt) {
    std::tm tm{};
    tm.tm_year = (dt.date >> 9) + 80;
    tm.tm_mon = ((dt.date >> 5) & 0x0F) - 1;
    tm.tm_mday = dt.date & 0x1F;
    tm.tm_hour = dt.time >> 11;
    tm.tm_min = (dt.time >> 5) & 0x3F;
    tm.tm_sec = (dt.time & 0x1F) * 2;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

std::string formatDosDateTime(DosDateTime dt) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", 1980u + (dt.date >> 9), (dt.date >> 5) & 0x0Fu,
                  dt.date & 0x1Fu, unsigned(dt.time >> 11), (dt.time >> 5) & 0x3Fu, (dt.time & 0x1Fu) * 2);
    return buf;
}

// ---- End record search ----

std::optional<EndRecordLocation> findEndRecord(platform::Stream& s) {
    const std::uint64_t fileSize = s.size();
    const std::size_t window = std::size_t(std::min<std::uint64_t>(fileSize, kEndRecordSearchWindow));
    if (window < 4)
        return std::nullopt;
    std::vector<std::uint8_t> buf(window);
    const std::uint64_t base = fileSize - window;
    buf.resize(s.readAt(base, buf.data(), window));
    // Scan backwards for the signature's last byte; the record starts three bytes earlier.
    for (std::size_t i = buf.size(); i-- > 3;) {
        if (buf[i] != 0x06 || buf[i - 1] != 0x05 || buf[i - 2] != 0x4B || buf[i - 3] != 0x50)
            continue;
        const std::size_t start = i - 3;
        const std::uint64_t position = base + start;
        if (fileSize - position < kEndRecordSize)
            continue;
        ByteReader r(std::span<const std::uint8_t>(buf).subspan(start, kEndRecordSize));
        EndRecordLocation found;
        read(r, found.record);
        if (!r.ok() || found.record.commentLength != fileSize - position - kEndRecordSize)
            continue;
        found.position = position;
        const auto* comment = buf.data() + start + kEndRecordSize;
        found.comment.assign(comment, comment + found.record.commentLength);
        return found;
    }
    return std::nullopt;
}

} // namespace archiver
