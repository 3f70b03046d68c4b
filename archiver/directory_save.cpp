// Writing the central directory and the end records of an archive.
#include "archiver/central_directory.h"

#include "archiver/extra_fields.h"
#include "archiver/za_exception.h"

namespace archiver {
namespace {

constexpr int kErrDirectoryWrite = 46; // fewer directory bytes written than asked
constexpr int kErrNameTooLong = 61;    // a stored name does not fit its 16-bit length field

} // namespace

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
