#include "archiver/update_engine.h"

#include <algorithm>
#include <limits>
#include <system_error>
#include <vector>

#include "archiver/byte_io.h"
#include "archiver/entry_places.h"
#include "archiver/extra_fields.h"
#include "archiver/za_exception.h"
#include "archiver/zip_archiver.h"
#include "archiver/zip_records.h"
#include "platform/file_system.h"

namespace archiver {
namespace {

constexpr std::size_t kCopyBlock = 1 << 20;
constexpr int kErrDamagedArchive = 48; // the archive's directory or entries cannot be trusted for an update

// Whether a source of `length` bytes gets zip64 sizes from the start: its local header
// cannot grow once the data follows it, so in the automatic mode room is also made when
// deflate could push the compressed size past 4 GiB.
bool needsZip64Sizes(std::uint64_t length, TZip64Mode mode) {
    if (mode == zmAlways)
        return true;
    const std::uint64_t margin = mode == zmAuto ? length / 64 + (1u << 20) : 0;
    return length + margin >= kZip64Marker32;
}

// The extra blocks an entry carries into its local header, zip64 aside.
std::uint16_t localExtraLength(const TDirItem& item, bool zip64) {
    std::size_t n = zip64 ? kLocalZip64ExtraSize : 0;
    for (const TZAExtraBlock& b : item.extraBlocks)
        if (b.headerId != kZip64ExtraId)
            n += 4 + b.data.size();
    return std::uint16_t(std::min<std::size_t>(n, 0xFFFF));
}

std::uint64_t percentOf(std::uint64_t part, std::uint64_t whole) {
    return whole == 0 ? 100 : std::min<std::uint64_t>(100, part * 100 / whole);
}

// Puts a supplied source stream back where it was, whatever happens to the entry.
struct SourcePositionGuard {
    platform::Stream* stream = nullptr;
    std::uint64_t position = 0;
    ~SourcePositionGuard() {
        if (!stream)
            return;
        try {
            stream->seek(position);
        } catch (...) {}
    }
};

// The level a new entry is written with: its compressionMode for deflate, 0 stored.
int levelOf(const TDirItem& item) {
    const bool deflate = item.method == kMethodDeflate && item.compressionMode != 0;
    return deflate ? item.compressionMode : 0;
}

// A modified item whose data is written anew (not only its name or attributes changed).
bool writesNewData(const TDirItem& item) {
    return item.modified && item.operation != poRename && item.operation != poChangeAttr &&
           item.operation != poChangeComment;
}

} // namespace

UpdateEngine::UpdateEngine(UpdateContext context)
    : m_ctx(std::move(context)), m_dir(m_ctx.dir), m_archive(m_ctx.archive.file()) {}

void UpdateEngine::setLocalOffset(TDirItem& item, std::uint64_t position) const {
    item.setLocalHeaderOffset64(position, m_ctx.zip64Mode == zmAlways);
}

void UpdateEngine::writeFailed() {
    const int e = m_out->lastError();
    if (e != 0)
        throw EZAException(46, {}, osReason(e), m_ctx.componentName);
    throw EZAException(46, m_ctx.componentName);
}

void UpdateEngine::writeAll(const std::vector<std::uint8_t>& bytes) {
    if (m_out->write(bytes.data(), bytes.size()) != bytes.size())
        writeFailed();
}

// The first item at which the batch differs from the archive: a new name at that place
// or a modified item. Everything before it is copied as one block.
int UpdateEngine::findFirstChanged() const {
    const TZADirArray& current = m_dir.currentDir();
    const TZADirArray& backup = m_dir.backupDir();
    // Entries written by other tools need not lie in directory order. Keeping a prefix is
    // only safe when offsets grow with the index; otherwise everything is rewritten.
    for (int i = 1; i < backup.Count(); ++i)
        if (backup.ItemAt(i).localHeaderOffset64() <= backup.ItemAt(i - 1).localHeaderOffset64())
            return 0;
    const int common = std::min(backup.Count(), current.Count());
    for (int i = 0; i < common; ++i)
        if (backup.ItemAt(i).name != current.ItemAt(i).name || current.ItemAt(i).modified)
            return i;
    return common;
}

// How many bytes at the start of the archive are kept as they are: up to the first
// changed entry, or to the old directory when only entries are appended.
std::uint64_t UpdateEngine::keptLength() const {
    const TZADirArray& backup = m_dir.backupDir();
    if (m_firstChanged < backup.Count()) {
        std::uint64_t at = std::numeric_limits<std::uint64_t>::max();
        for (int i = m_firstChanged; i < backup.Count(); ++i)
            at = std::min(at, backup.ItemAt(i).localHeaderOffset64());
        return at;
    }
    if (backup.Count() == 0)
        return m_dir.prefixLength();
    // After the last entry: where the directory was found (which also holds for archives
    // with data in front of them, whose stored offset may not).
    return m_dir.directoryPosition();
}

// The copy needs room for what is kept of the old archive; refused before anything is
// written when the folder's file system does not have it. New data is checked as it is
// written (a full disk then fails the update and the original stays).
void UpdateEngine::requireSpace(std::uint64_t keep) const {
    std::uint64_t needed = keep;
    const TZADirArray& current = m_dir.currentDir();
    for (int i = m_firstChanged; i < current.Count(); ++i) {
        const TDirItem& item = current.ItemAt(i);
        if (!item.modified)
            needed += item.compressedSize64();
    }
    std::error_code ec;
    const auto space =
        std::filesystem::space(m_ctx.archive.target().parent_path().empty() ? std::filesystem::path(".")
                                                                            : m_ctx.archive.target().parent_path(),
                               ec);
    if (ec || space.available >= needed)
        return;
    throw EZAException(46, {},
                       ZAReason{"not enough space beside the archive for its new copy (" + std::to_string(needed) +
                                " bytes needed, " + std::to_string(space.available) + " available)"},
                       m_ctx.componentName);
}

// Entries are only added to an archive whose every entry can be copied as it is: never to
// one whose directory had to be rebuilt (entries may be missing, and what is copied may
// not be what other tools read), nor to one whose entries overlap or point into the
// directory (the copy would keep the overlap, and a new entry could land on a place an
// old one claims). Such an archive is refused before anything is written; its entries
// can still be extracted and packed anew.
void UpdateEngine::requireSoundArchive() const {
    static const std::string kAdvice = "; nothing can be added to it (extract its entries and pack them anew)";
    if (const auto warning = directoryWarning(m_dir, m_dir.backupDir()))
        throw EZAException(kErrDamagedArchive, {}, ZAReason{*warning + kAdvice}, m_ctx.componentName);
    const TZADirArray& backup = m_dir.backupDir();
    const EntryPlaces places(backup, m_dir.directoryPosition());
    for (int i = 0; i < backup.Count(); ++i) {
        try {
            places.check(m_archive, backup, i, m_ctx.componentName);
        } catch (const EZAException& e) {
            throw EZAException(kErrDamagedArchive, {},
                               ZAReason{"entry \"" + backup.ItemAt(i).name + "\": " + e.Reason() + kAdvice},
                               m_ctx.componentName);
        }
    }
}

bool UpdateEngine::run() {
    TZADirArray& current = m_dir.currentDir();
    const TZADirArray& backup = m_dir.backupDir();
    int firstModified = -1;
    for (int i = 0; i < current.Count(); ++i) {
        if (!current.ItemAt(i).modified)
            continue;
        ++m_toProcess;
        if (firstModified < 0)
            firstModified = i;
    }
    m_firstChanged = findFirstChanged();
    for (int i = 0; i < current.Count(); ++i)
        if (current.ItemAt(i).modified)
            m_utf8Folders.addName(current.ItemAt(i).name);

    const auto startOp = firstModified >= 0 ? TZAProcessOperation(current.ItemAt(firstModified).operation) : poDelete;
    m_ctx.overallProgress(0, startOp, ppStart);
    // Whatever stops the update, the directory goes back to what the file holds, so that
    // a later batch does not take the batch's items for written entries.
    const DirectoryImage image = m_dir.image();
    auto restore = [&] {
        current.AssignFrom(backup);
        m_dir.restore(image);
        m_replacement.reset();
    };
    if (m_ctx.cancelled) {
        restore();
        return false;
    }
    try {
        requireSoundArchive();
        const std::uint64_t keep = keptLength();
        requireSpace(keep);
        try {
            m_replacement.emplace(m_ctx.archive.startReplacement());
        } catch (const platform::FileError& e) {
            throw EZAException(46, {}, osReason(e.errorNumber()), m_ctx.componentName);
        }
        m_out = &m_replacement->file();
        copyBytes(0, keep);
        if (!writeEntries()) {
            restore();
            return false;
        }
        m_dir.SaveCentralDirectory(true, m_out);
        m_dir.setStream(&m_archive);
        try {
            // Writing out a large archive takes a while: progress goes on meanwhile, so that
            // a window keeps moving, and a cancel still keeps the old archive.
            m_replacement->file().flush([this, startOp] { m_ctx.overallProgress(100, startOp, ppProcess); });
            if (m_ctx.cancelled) {
                restore();
                return false;
            }
            m_ctx.archive.commitReplacement(*m_replacement);
        } catch (const platform::FileError& e) {
            throw EZAException(46, {}, osReason(e.errorNumber()), m_ctx.componentName);
        }
    } catch (...) {
        restore();
        throw;
    }
    m_replacement.reset();
    // Moving (deleting the sources of poMove items) is not offered: adding never records such items.
    // The archive is complete here: a cancel asked for by the end notification changes nothing.
    m_ctx.overallProgress(100, startOp, ppEnd);
    return true;
}

// The disk files of the new entries, in the order they will be written, for the threads
// that compress ahead. Supplied streams and folders are left to the writing thread.
std::vector<PackSource> UpdateEngine::packSources() const {
    std::vector<PackSource> sources;
    const TZADirArray& current = m_dir.currentDir();
    for (int i = m_firstChanged; i < current.Count(); ++i) {
        const TDirItem& item = current.ItemAt(i);
        if (!writesNewData(item) || item.sourceStream || item.isFolder() || item.sourceFileName.size() > kMaxSourcePath)
            continue;
        sources.push_back({item.name, item.sourceFileName, levelOf(item)});
    }
    return sources;
}

// Writes or copies every item from the first changed one; false when the failure
// decision aborted or a handler cancelled.
bool UpdateEngine::writeEntries() {
    if (m_ctx.threads > 1) {
        std::vector<PackSource> sources = packSources();
        try {
            if (!sources.empty())
                m_packer = std::make_unique<ParallelPacker>(std::move(sources), m_ctx.threads, m_ctx.bufferBudget);
        } catch (const std::system_error&) {
            // No thread to be had: everything is done on this one.
        }
    }
    // The workers stop before the update goes on, whichever way this ends.
    struct StopPacker {
        std::unique_ptr<ParallelPacker>& packer;
        ~StopPacker() { packer.reset(); }
    } stopPacker{m_packer};
    TZADirArray& current = m_dir.currentDir();
    for (int i = m_firstChanged; i < current.Count();) {
        if (m_ctx.cancelled)
            return false;
        bool success = true;
        do {
            m_action = fxaIgnore;
            success = true;
            if (writesNewData(current.ItemAt(i)))
                success = writeNewEntry(i);
            else
                copyExistingEntry(i);
        } while (m_action == fxaRetry);
        if (m_action == fxaAbort || m_ctx.cancelled)
            return false;
        if (success) {
            ++m_done;
            ++i;
        } else if (current.ItemAt(i).operation == poAdd ||
                   (current.ItemAt(i).operation == poUpdate && findBackupItem(current.ItemAt(i).name, true) < 0)) {
            // A new entry that was given up leaves no trace; so does the replacement of
            // an item recorded earlier in the same batch, which has no old data to keep.
            current.DeleteItem(i);
        } else {
            copyExistingEntry(i); // a replacement that was given up keeps the old data
            ++i;
        }
    }
    return !m_ctx.cancelled;
}

bool UpdateEngine::writeNewEntry(int i) {
    const std::uint64_t start = m_out->tell();
    try {
        return writeNewEntryOnce(i);
    } catch (const EZAException& e) {
        return giveUpNewEntry(i, start, e);
    } catch (const platform::FileError& e) {
        // The new archive failing is the update's failure; a source failing is this entry's.
        if (m_replacement && e.path() == m_replacement->path())
            throw;
        return giveUpNewEntry(i, start,
                              EZAException(33, {sourceNameOf(i)}, osReason(e.errorNumber()), m_ctx.componentName));
    } catch (const DeflateError& e) {
        return giveUpNewEntry(i, start,
                              EZAException(33, {sourceNameOf(i)},
                                           ZAReason{std::string("it could not be compressed: ") + e.what()},
                                           m_ctx.componentName));
    }
}

const std::string& UpdateEngine::sourceNameOf(int i) const {
    const TDirItem& item = m_dir.currentDir().ItemAt(i);
    return item.operation == poUpdate || item.sourceFileName.empty() ? item.name : item.sourceFileName.str();
}

bool UpdateEngine::giveUpNewEntry(int i, std::uint64_t start, const EZAException& e) {
    // What was written of this entry goes, so that the next one starts at its place.
    m_out->seek(start);
    m_out->truncate(start);
    const TDirItem& item = m_dir.currentDir().ItemAt(i);
    m_action = m_ctx.failureDecision(sourceNameOf(i), TZAProcessOperation(item.operation), e);
    return false;
}

// Where a new entry's data comes from: a supplied stream, nothing (a folder entry), or
// the disk file, opened here and closed when this goes.
struct UpdateEngine::Source {
    std::optional<platform::File> file;
    platform::Stream* stream = nullptr;
    SourcePositionGuard guard;
    std::uint64_t length = 0;
};

void UpdateEngine::openSource(TDirItem& item, Source& src) const {
    std::uint64_t start = 0;
    if (item.sourceStream) {
        src.stream = item.sourceStream.get();
        src.guard = {src.stream, src.stream->tell()};
        start = std::uint64_t(std::max(0, item.sourceStreamStart));
        src.stream->seek(start);
    } else if (!item.isFolder()) {
        const std::string& name = item.sourceFileName;
        if (name.size() > kMaxSourcePath)
            throw EZAException(61, {name}, m_ctx.componentName);
        const std::filesystem::path path = platform::toPath(name);
        // Only regular files have contents to store: opening a pipe would wait for a writer.
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec))
            throw EZAException(33, {name}, ZAReason{ec ? ec.message() : "not a regular file"}, m_ctx.componentName);
        try {
            src.file.emplace(platform::File::openRead(path));
        } catch (const platform::FileError& e) {
            throw EZAException(33, {name}, osReason(e.errorNumber()), m_ctx.componentName);
        }
        src.stream = &*src.file;
    }
    if (src.stream)
        src.length = src.stream->size() - std::min(src.stream->size(), start);
}

// The local header of a new entry before its data: CRC and compressed size are patched in
// once the data is written (no data descriptor).
LocalHeader UpdateEngine::startLocalHeader(TDirItem& item, std::uint64_t length, const StoredName& stored) const {
    const bool zip64Sizes = needsZip64Sizes(length, m_ctx.zip64Mode);
    const std::uint16_t version =
        item.hasZip64 || zip64Sizes ? kVersionZip64 : (m_ctx.oemFileNames ? kVersionDefault : 0x0B14);
    item.versionNeeded = version;
    // The host byte says where the attributes come from (Unix when they carry a mode).
    item.versionMadeBy = version > 0xFF ? version : std::uint16_t((item.versionMadeBy & 0xFF00) | version);
    if (item.method != kMethodStored && item.method != kMethodDeflate)
        item.method = kMethodStored;
    if (item.compressionMode == 0)
        item.method = kMethodStored;
    item.flags = flagsForName(item.flags, stored);

    LocalHeader h;
    h.versionNeeded = version;
    h.flags = item.flags;
    h.method = item.method;
    h.modTime = item.modTime;
    h.modDate = item.modDate;
    h.crc32 = item.crc32;
    h.compressedSize = 0;
    if (zip64Sizes) {
        h.uncompressedSize = kZip64Marker32;
        item.hasZip64 = true;
    } else {
        h.uncompressedSize = std::uint32_t(length);
    }
    h.nameLength = std::uint16_t(stored.bytes.size());
    h.extraLength = localExtraLength(item, zip64Sizes);
    return h;
}

// Compresses the source into the replacement and patches the local header at headerPos.
// False when cancelled.
bool UpdateEngine::writeData(TDirItem& item, Source& src, LocalHeader& h, std::uint64_t headerPos) {
    const auto op = TZAProcessOperation(item.operation);
    const std::string& progressName = item.sourceFileName.empty() ? item.name : item.sourceFileName.str();
    const std::uint64_t length = src.length;
    // Sizes announced as zip64 in the local header are zip64 in the directory too.
    const bool always64 = h.uncompressedSize == kZip64Marker32;
    const int level = levelOf(item);
    platform::Stream* source = src.stream;
    ReadFn read = [source](std::uint8_t* buf, std::size_t n) { return source->read(buf, n); };
    WriteFn put = [this](const std::uint8_t* d, std::size_t n) { return m_out->write(d, n); };
    ProgressFn progress = [this, &progressName, op, length](std::uint64_t done) {
        const std::uint64_t percent = percentOf(done, length);
        m_ctx.fileProgress(progressName, int(percent), op, ppProcess);
        // The whole update: items done plus this item's fraction, over the items to process.
        if (m_toProcess > 0)
            m_ctx.overallProgress(int((std::uint64_t(m_done) * 100 + percent) / std::uint64_t(m_toProcess)), op,
                                  ppProcess);
        return !m_ctx.cancelled;
    };
    CompressOutcome out;
    if (!m_packer || !m_packer->write(item.name, level, length, put, progress, out))
        out = compressBlocks(length, level, read, put, progress);
    if (out.bytesRead != length) {
        if (out.cancelled || m_ctx.cancelled)
            return false;
        if (out.writeFailed)
            writeFailed();
        throw EZAException(34, {std::int64_t(length), std::int64_t(out.bytesRead)}, m_ctx.componentName);
    }
    item.crc32 = out.crc;
    item.setCompressedSize64(out.compressedBytes, always64);
    item.setUncompressedSize64(length, always64);
    if (item.hasZip64 && m_ctx.zip64Mode == zmDisabled)
        throw EZAException(41, {item.sourceFileName}, m_ctx.componentName);
    if (length == 0)
        item.method = kMethodStored;

    h.crc32 = item.crc32;
    h.compressedSize = always64 ? kZip64Marker32 : item.compressedSize;
    h.method = item.method;
    std::vector<std::uint8_t> bytes;
    ByteWriter w(bytes);
    write(w, h);
    m_out->seek(headerPos);
    writeAll(bytes);
    if (always64) {
        m_out->seek(headerPos + kLocalHeaderSize + h.nameLength);
        bytes.clear();
        writeLocalZip64Extra(w, length, out.compressedBytes);
        writeAll(bytes);
    }
    return true;
}

bool UpdateEngine::writeNewEntryOnce(int i) {
    TDirItem& item = m_dir.currentDir().ItemAt(i);
    const auto op = TZAProcessOperation(item.operation);
    const std::string& progressName = item.sourceFileName.empty() ? item.name : item.sourceFileName.str();
    m_ctx.fileProgress(progressName, 0, op, ppStart);
    if (m_ctx.cancelled)
        return false;

    Source src;
    openSource(item, src);
    const std::uint64_t headerPos = m_out->tell();
    item.hasZip64 = false;
    setLocalOffset(item, headerPos);
    const StoredName stored = encodeStoredName(item.name, m_ctx.oemFileNames, m_utf8Folders.covers(item.name));
    setUnicodePath(item, stored);
    LocalHeader h = startLocalHeader(item, src.length, stored);
    if (m_ctx.zip64Mode == zmDisabled && item.hasZip64)
        throw EZAException(43, {item.sourceFileName}, m_ctx.componentName);
    // The directory writes the same name bytes and flags as the local header.
    item.keepStoredName = true;
    item.storedNameBytes = stored.bytes == item.name ? std::string() : stored.bytes;

    std::vector<std::uint8_t> bytes;
    ByteWriter w(bytes);
    write(w, h);
    w.bytes(stored.bytes);
    if (h.uncompressedSize == kZip64Marker32)
        writeLocalZip64Extra(w, 0, 0);
    for (const TZAExtraBlock& b : item.extraBlocks) {
        if (b.headerId == kZip64ExtraId ||
            bytes.size() + 4 + b.data.size() > kLocalHeaderSize + h.nameLength + h.extraLength)
            continue;
        w.u16(b.headerId);
        w.u16(std::uint16_t(b.data.size()));
        w.bytes(b.data);
    }
    writeAll(bytes);

    if (src.stream) {
        if (!writeData(item, src, h, headerPos))
            return false;
    } else {
        item.crc32 = 0;
        item.compressedSize = 0;
        item.uncompressedSize = 0;
        item.method = kMethodStored;
    }
    if (m_ctx.cancelled)
        return false;
    m_out->seek(m_out->size());
    m_ctx.fileProgress(progressName, 100, op, ppEnd);
    return true;
}

int UpdateEngine::findBackupItem(const std::string& name, bool ignoreCase) const {
    const TZADirArray& backup = m_dir.backupDir();
    const int hit = backup.FindByName(name);
    if (hit >= 0 && backup.ItemAt(hit).name == name)
        return hit;
    for (int i = 0; i < backup.Count(); ++i)
        if (backup.ItemAt(i).name == name)
            return i;
    return ignoreCase ? hit : -1;
}

// Copies the unchanged entry that item i stands for from the archive, byte for byte
// (renamed entries get their new name in the local header).
void UpdateEngine::copyExistingEntry(int i) {
    TZADirArray& current = m_dir.currentDir();
    const bool rename = current.ItemAt(i).operation == poRename;
    // A replacement found its entry ignoring case and may have renamed it in doing so.
    const bool update = current.ItemAt(i).operation == poUpdate;
    const int b = findBackupItem(rename ? current.ItemAt(i).oldName.str() : current.ItemAt(i).name, update);
    if (b < 0)
        throw EZAException(7, m_ctx.componentName);
    const TDirItem& old = m_dir.backupDir().ItemAt(b);
    if (update)
        current.StoreItem(i, old);
    TDirItem& item = current.ItemAt(i);

    const std::uint64_t from = old.localHeaderOffset64();
    std::uint8_t raw[kLocalHeaderSize];
    if (m_archive.readAt(from, raw, sizeof raw) != sizeof raw)
        throw EZAException(7, m_ctx.componentName);
    ByteReader r(raw);
    LocalHeader h;
    read(r, h);
    std::uint64_t length = kLocalHeaderSize + h.nameLength + h.extraLength + old.compressedSize64();
    if (old.flags & kFlagDataDescriptor) {
        // Keep the data descriptor that follows the data (with or without its signature).
        std::uint8_t sig[4] = {};
        m_archive.readAt(from + length, sig, 4);
        const bool signed_ = ByteReader(sig).u32() == kDataDescriptorSig;
        length += (signed_ ? 4 : 0) + (old.hasZip64 ? 20 : 12);
    }

    setLocalOffset(item, m_out->tell());
    if (!rename) {
        copyBytes(from, length);
        return;
    }
    const StoredName stored = encodeStoredName(item.name, m_ctx.oemFileNames);
    const std::uint64_t oldNameEnd = kLocalHeaderSize + h.nameLength;
    h.nameLength = std::uint16_t(stored.bytes.size());
    h.flags = flagsForName(h.flags, stored);
    item.flags = flagsForName(item.flags, stored);
    std::vector<std::uint8_t> bytes;
    ByteWriter w(bytes);
    write(w, h);
    w.bytes(stored.bytes);
    writeAll(bytes);
    copyBytes(from + oldNameEnd, length - std::min(length, oldNameEnd));
}

// Copies `length` bytes of the archive from `fromPos` to the end of the replacement.
void UpdateEngine::copyBytes(std::uint64_t fromPos, std::uint64_t length) {
    std::vector<std::uint8_t> buffer(std::size_t(std::min<std::uint64_t>(length, kCopyBlock)));
    m_archive.seek(fromPos);
    while (length > 0) {
        const std::size_t n = std::size_t(std::min<std::uint64_t>(length, buffer.size()));
        const std::size_t got = m_archive.read(buffer.data(), n);
        // The archive is locked and its sizes were checked: one that ends early is damaged
        // or changed behind the lock, and a copy without those bytes would be a broken one.
        if (got == 0)
            throw EZAException(34, {std::int64_t(length), std::int64_t(got)},
                               ZAReason{"the archive ends before the bytes to be copied"}, m_ctx.componentName);
        if (m_out->write(buffer.data(), got) != got)
            writeFailed();
        length -= got;
    }
}

} // namespace archiver
