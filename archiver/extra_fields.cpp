// Unicode Path and extended timestamp extra fields, the Unix mode in the external
// attributes, and the rules for reading and encoding names.
#include "archiver/extra_fields.h"

#include "platform/encoding.h"

#include "archiver/byte_io.h"
#include "archiver/crc32.h"

#include <algorithm>
#include <limits>

namespace archiver {
namespace {

constexpr std::uint8_t kUnicodePathVersion = 1;
constexpr std::uint8_t kExtendedTimeHasModTime = 0x01;
constexpr std::uint32_t kUnixFolder = 0040000;
constexpr std::uint32_t kUnixRegular = 0100000;
constexpr std::uint32_t kUnixTypeMask = 0170000;
constexpr std::uint32_t kPermissionBits = 0777;

std::span<const std::uint8_t> bytesOf(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Drops the blocks with `id` from the item's extra blocks.
void removeBlocks(TDirItem& item, std::uint16_t id) {
    std::erase_if(item.extraBlocks, [id](const TZAExtraBlock& b) { return b.headerId == id; });
}

const TZAExtraBlock* blockOf(const TDirItem& item, std::uint16_t id) {
    for (const TZAExtraBlock& b : item.extraBlocks)
        if (b.headerId == id)
            return &b;
    return nullptr;
}

} // namespace

std::optional<std::span<const std::uint8_t>> findExtraBlock(std::span<const std::uint8_t> field, std::uint16_t id) {
    ByteReader r(field);
    while (r.remaining() >= 4) {
        const std::uint16_t blockId = r.u16();
        const std::size_t declared = r.u16();
        const auto data = r.bytes(std::min(declared, r.remaining()));
        if (blockId == id)
            return data;
    }
    return std::nullopt;
}

std::vector<std::uint8_t> unicodePathData(std::string_view storedBytes, std::string_view utf8Name) {
    std::vector<std::uint8_t> data;
    ByteWriter w(data);
    w.u8(kUnicodePathVersion);
    w.u32(crc32(bytesOf(storedBytes)));
    w.bytes(utf8Name);
    return data;
}

std::optional<std::string> unicodePathName(std::span<const std::uint8_t> data, std::string_view storedBytes) {
    ByteReader r(data);
    const std::uint8_t version = r.u8();
    const std::uint32_t crc = r.u32();
    if (!r.ok() || version != kUnicodePathVersion || crc != crc32(bytesOf(storedBytes)))
        return std::nullopt;
    const auto rest = r.bytes(r.remaining());
    std::string name(rest.begin(), rest.end());
    if (name.empty() || name.find('\0') != std::string::npos || !platform::isValidUtf8(name))
        return std::nullopt;
    return name;
}

std::optional<std::vector<std::uint8_t>> extendedTimeData(std::int64_t unixSeconds) {
    if (unixSeconds < 0 || unixSeconds > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    std::vector<std::uint8_t> data;
    ByteWriter w(data);
    w.u8(kExtendedTimeHasModTime);
    w.u32(std::uint32_t(unixSeconds));
    return data;
}

std::optional<std::int64_t> extendedModTime(std::span<const std::uint8_t> data) {
    ByteReader r(data);
    const std::uint8_t flags = r.u8();
    const auto seconds = std::int32_t(r.u32());
    if (!r.ok() || !(flags & kExtendedTimeHasModTime))
        return std::nullopt;
    return seconds;
}

std::string entryName(std::string_view storedBytes, std::uint16_t flags, std::uint16_t versionMadeBy,
                      std::span<const std::uint8_t> extraField, bool oemFileNames) {
    storedBytes = storedBytes.substr(0, storedBytes.find('\0'));
    if (const auto block = findExtraBlock(extraField, kUnicodePathId))
        if (auto name = unicodePathName(*block, storedBytes))
            return std::move(*name);
    const std::uint8_t host = std::uint8_t(versionMadeBy >> 8);
    if (!(flags & kFlagUtf8) && (host == kHostUnix || host == kHostDarwin) && platform::isValidUtf8(storedBytes))
        return std::string(storedBytes);
    return decodeStoredName(storedBytes, flags, oemFileNames);
}

void Utf8Folders::addName(std::string_view name) {
    if (encodeStoredName(name).utf8 == false)
        return;
    // Every folder on the way, as "a/b/" with its trailing '/'; plain ASCII ones read the
    // same in every encoding.
    for (std::size_t slash = name.find('/'); slash != std::string_view::npos; slash = name.find('/', slash + 1)) {
        const std::string_view folder = name.substr(0, slash + 1);
        if (!isAscii(folder))
            m_folders.emplace(folder);
    }
}

bool Utf8Folders::covers(std::string_view name) const {
    if (m_folders.empty())
        return false;
    for (std::size_t slash = name.find('/'); slash != std::string_view::npos; slash = name.find('/', slash + 1))
        if (m_folders.contains(name.substr(0, slash + 1)))
            return true;
    return false;
}

void setUnicodePath(TDirItem& item, const StoredName& stored) {
    removeBlocks(item, kUnicodePathId);
    if (!isAscii(item.name))
        item.extraBlocks.push_back({kUnicodePathId, unicodePathData(stored.bytes, item.name)});
}

void setExtendedTime(TDirItem& item, std::int64_t unixSeconds) {
    removeBlocks(item, kExtendedTimeId);
    if (auto data = extendedTimeData(unixSeconds))
        item.extraBlocks.push_back({kExtendedTimeId, std::move(*data)});
}

std::optional<std::int64_t> extendedModTime(const TDirItem& item) {
    const TZAExtraBlock* block = blockOf(item, kExtendedTimeId);
    return block ? extendedModTime(block->data) : std::nullopt;
}

bool TDirItem::isFolder() const {
    if (name.ends_with('/'))
        return true;
    const std::uint8_t host = std::uint8_t(versionMadeBy >> 8);
    const std::uint32_t mode = externalAttributes >> 16;
    if ((host == kHostUnix || host == kHostDarwin) && (mode & kUnixTypeMask) != 0)
        return (mode & kUnixTypeMask) == kUnixFolder;
    return (externalAttributes & kAttrFolder) != 0 && compressedSize64() == 0 && uncompressedSize64() == 0;
}

void setUnixMode(TDirItem& item, std::uint32_t permissions) {
    const std::uint32_t type = item.isFolder() ? kUnixFolder : kUnixRegular;
    item.versionMadeBy = std::uint16_t((kHostUnix << 8) | (item.versionMadeBy & 0xFF));
    item.externalAttributes = ((type | (permissions & kPermissionBits)) << 16) | (item.externalAttributes & 0xFFFF);
}

std::optional<std::uint32_t> storedPermissions(const CentralHeader& item) {
    const std::uint8_t host = std::uint8_t(item.versionMadeBy >> 8);
    const std::uint32_t mode = item.externalAttributes >> 16;
    if ((host != kHostUnix && host != kHostDarwin) || mode == 0)
        return std::nullopt;
    // A mode without a file type is not one: some writers leave other bits there.
    if ((mode & kUnixTypeMask) == 0 && (mode & ~kPermissionBits) != 0)
        return std::nullopt;
    return mode & kPermissionBits;
}

} // namespace archiver
