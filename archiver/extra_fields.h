// What an entry carries beside its fixed headers so that every ZIP tool reads it the same:
// the Info-ZIP Unicode Path extra field (0x7075) with the UTF-8 name, the extended
// timestamp extra field (0x5455) with the modification time in UTC, and the Unix mode in
// the high half of the external attributes (host byte 3 in "version made by"). Also the
// rules that turn a stored name into the entry's name, and that pick a name's encoding.
#pragma once

#include "archiver/central_directory.h"
#include "archiver/zip_records.h"

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace archiver {

inline constexpr std::uint16_t kUnicodePathId = 0x7075;
inline constexpr std::uint16_t kExtendedTimeId = 0x5455;

// Host systems of the high byte of "version made by" whose external attributes hold a
// Unix mode in their high half.
inline constexpr std::uint8_t kHostUnix = 3;
inline constexpr std::uint8_t kHostDarwin = 19;

// ---- Raw extra fields ----

// The data of the first block `id` of a raw extra field, or nullopt. A block that claims
// more bytes than the field holds is cut to what is left.
std::optional<std::span<const std::uint8_t>> findExtraBlock(std::span<const std::uint8_t> field, std::uint16_t id);

// Data of a Unicode Path block for a name stored as `storedBytes`: version 1, the CRC-32
// of the stored bytes, the UTF-8 name.
std::vector<std::uint8_t> unicodePathData(std::string_view storedBytes, std::string_view utf8Name);
// The UTF-8 name of a Unicode Path block, when its version is 1, its CRC-32 matches
// `storedBytes` (the name was not changed by a tool that ignored the block) and the name
// is well-formed UTF-8 without a zero byte.
std::optional<std::string> unicodePathName(std::span<const std::uint8_t> data, std::string_view storedBytes);

// Data of an extended timestamp block holding only the modification time (flags 1, then
// seconds since 1970 UTC in 32 bits); nullopt for a time the field cannot hold (before
// 1970 or after January 2038).
std::optional<std::vector<std::uint8_t>> extendedTimeData(std::int64_t unixSeconds);
// The modification time of an extended timestamp block, or nullopt when it has none.
std::optional<std::int64_t> extendedModTime(std::span<const std::uint8_t> data);

// ---- Names ----

// The name of an entry from its stored bytes: a valid Unicode Path block in `extraField`
// wins; flag bit 11 means UTF-8; bytes from a Unix-made entry (host 3 or 19) that are
// well-formed UTF-8 are UTF-8; otherwise CP866 (with `oemFileNames`). A zero byte ends
// the name.
std::string entryName(std::string_view storedBytes, std::uint16_t flags, std::uint16_t versionMadeBy,
                      std::span<const std::uint8_t> extraField, bool oemFileNames = true);

// Folders whose names must be written in UTF-8 so that a folder and everything in it
// come out under one folder name also in tools that ignore the Unicode Path block: every
// folder (with a non-ASCII name) of a name that does not fit CP866. Built from the names
// of an update's new entries.
class Utf8Folders {
public:
    void addName(std::string_view name);
    // Whether `name` (or the folder it names, ending in '/') lies in such a folder.
    bool covers(std::string_view name) const;
    bool empty() const { return m_folders.empty(); }

private:
    std::set<std::string, std::less<>> m_folders;
};

// ---- Directory items ----

// Replaces (or, for a plain ASCII name, removes) item's Unicode Path block so that it
// describes `stored`, the bytes its name is written with.
void setUnicodePath(TDirItem& item, const StoredName& stored);
// Sets item's extended timestamp block (none when the time does not fit it).
void setExtendedTime(TDirItem& item, std::int64_t unixSeconds);
// The UTC modification time of item's extended timestamp block, or nullopt.
std::optional<std::int64_t> extendedModTime(const TDirItem& item);

// Marks item as made on Unix with `permissions` (0777 bits) in the high half of its
// external attributes; its DOS attribute byte stays as it is.
void setUnixMode(TDirItem& item, std::uint32_t permissions);
// The read, write and execute bits (0777) a Unix-made entry stores, or nullopt when it
// stores none. Set-user-ID, set-group-ID and sticky never come back.
std::optional<std::uint32_t> storedPermissions(const CentralHeader& item);

} // namespace archiver
