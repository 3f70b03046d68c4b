// A generator of hostile archives of a chosen size: the inputs whose memory and time grow
// with the number of entries they claim. The tests make small ones; bench/hostile makes
// the 64 MiB ones and measures what reading them costs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "archiver/byte_io.h"
#include "archiver/zip_records.h"

namespace hostile {

enum class Kind {
    LocalHeadersOnly,     // one-letter local headers back to back, no directory
    ManyEntries,          // a sound archive of empty stored entries with 7-letter names
    DirectoryRecordsOnly, // one-letter central records (no local header anywhere)
    Zip64CountOverZeros,  // zeros under a zip64 end record that claims 2^40 entries
    WrongSignatures,      // as ManyEntries, but the central headers after the first lack their signature
    RefusedEntries,       // as ManyEntries, but each local header names another entry: every entry is refused
};

struct KindName {
    Kind kind;
    const char* name;
};
inline constexpr KindName kKinds[] = {
    {Kind::LocalHeadersOnly, "local-headers-only"},
    {Kind::ManyEntries, "many-entries"},
    {Kind::DirectoryRecordsOnly, "directory-records-only"},
    {Kind::Zip64CountOverZeros, "zip64-count-over-zeros"},
    {Kind::WrongSignatures, "wrong-signatures"},
    {Kind::RefusedEntries, "refused-entries"},
};

namespace detail {

inline void endRecords(archiver::ByteWriter& w, std::uint64_t count, std::uint64_t directoryStart,
                       std::uint64_t directorySize, std::uint64_t zip64At) {
    archiver::Zip64EndRecord z;
    z.entriesOnDisk = z.totalEntries = count;
    z.directorySize = directorySize;
    z.directoryOffset = directoryStart;
    write(w, z);
    archiver::Zip64Locator l;
    l.zip64RecordOffset = zip64At;
    write(w, l);
    archiver::EndRecord e;
    e.entriesOnDisk = e.totalEntries = 0xFFFF;
    e.directorySize = 0xFFFFFFFF;
    e.directoryOffset = 0xFFFFFFFF;
    write(w, e);
}

inline std::string nameOf(std::uint64_t i, bool oneLetter) {
    if (oneLetter)
        return "a";
    char text[16];
    std::snprintf(text, sizeof text, "%07llx", static_cast<unsigned long long>(i));
    return text;
}

} // namespace detail

// An archive of `kind` of about `bytes` bytes.
inline std::vector<std::uint8_t> make(Kind kind, std::size_t bytes) {
    using namespace archiver;
    std::vector<std::uint8_t> out;
    out.reserve(bytes + 200);
    ByteWriter w(out);
    constexpr std::size_t kTail = 56 + 20 + 22;
    switch (kind) {
    case Kind::LocalHeadersOnly: {
        LocalHeader h;
        h.nameLength = 1;
        while (out.size() + kLocalHeaderSize + 1 <= bytes) {
            write(w, h);
            w.u8('a');
        }
        break;
    }
    case Kind::ManyEntries:
    case Kind::WrongSignatures:
    case Kind::RefusedEntries: {
        constexpr std::size_t kPerEntry = kLocalHeaderSize + 7 + kCentralHeaderSize + 7;
        const std::uint64_t count = (bytes - kTail) / kPerEntry;
        for (std::uint64_t i = 0; i < count; ++i) {
            LocalHeader h;
            h.nameLength = 7;
            write(w, h);
            w.bytes(detail::nameOf(kind == Kind::RefusedEntries ? i ^ 1 : i, false));
        }
        const std::uint64_t start = out.size();
        for (std::uint64_t i = 0; i < count; ++i) {
            CentralHeader c;
            if (kind == Kind::WrongSignatures && i > 0)
                c.signature = 0;
            c.nameLength = 7;
            c.externalAttributes = 0x20;
            c.localHeaderOffset = std::uint32_t(i * (kLocalHeaderSize + 7));
            write(w, c);
            w.bytes(detail::nameOf(i, false));
        }
        detail::endRecords(w, count, start, out.size() - start, out.size());
        break;
    }
    case Kind::DirectoryRecordsOnly: {
        const std::uint64_t count = (bytes - kTail) / (kCentralHeaderSize + 1);
        for (std::uint64_t i = 0; i < count; ++i) {
            CentralHeader c;
            c.nameLength = 1;
            c.externalAttributes = 0x20;
            write(w, c);
            w.u8('a');
        }
        detail::endRecords(w, count, 0, out.size(), out.size());
        break;
    }
    case Kind::Zip64CountOverZeros: {
        out.resize(bytes - kTail);
        detail::endRecords(w, std::uint64_t(1) << 40, 0, out.size(), out.size());
        break;
    }
    }
    return out;
}

} // namespace hostile
