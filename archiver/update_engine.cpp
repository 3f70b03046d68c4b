#include "archiver/update_engine.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "archiver/byte_io.h"
#include "archiver/za_exception.h"
#include "archiver/zip_records.h"
#include "platform/file_system.h"

namespace archiver {
namespace {

constexpr std::size_t kCopyBlock = 1 << 20;

std::uint64_t percentOf(std::uint64_t part, std::uint64_t whole) {
    return whole == 0 ? 100 : std::min<std::uint64_t>(100, part * 100 / whole);
}

// Puts a supplied source stream back where it was, whatever happens to the entry.
struct SourcePositionGuard {
    platform::Stream* stream = nullptr;
    std::uint64_t position = 0;
    ~SourcePositionGuard() {
        if (!stream) return;
        try {
            stream->seek(position);
        } catch (...) {
        }
    }
};

void writeAll(platform::Stream& s, const std::vector<std::uint8_t>& bytes, const std::string& componentName) {
    if (s.write(bytes.data(), bytes.size()) != bytes.size()) throw EZAException(46, componentName);
}

} // namespace

UpdateEngine::UpdateEngine(TZABaseArchiver& archiver)
    : m_archiver(archiver), m_dir(*archiver.m_dir), m_archive(*archiver.m_stream) {}

void UpdateEngine::overall(int progress, TZAProcessOperation op, TZAProgressPhase phase) {
    m_archiver.overallProgress(progress, op, phase);
}

void UpdateEngine::setLocalOffset(TDirItem& item, std::uint64_t position) const {
    item.setLocalHeaderOffset64(position, m_archiver.Zip64Mode() == zmAlways);
}

void UpdateEngine::run() {
    TZABaseArchiver& a = m_archiver;
    if (a.m_updateDepth == 0) return;
    a.m_updateDepth = 0;
    a.m_cancel = false;
    TZADirArray& current = m_dir.currentDir();
    const TZADirArray& backup = m_dir.backupDir();

    int firstModified = -1;
    m_toProcess = 0;
    for (int i = 0; i < current.Count(); ++i) {
        if (!current.ItemAt(i).modified) continue;
        ++m_toProcess;
        if (firstModified < 0) firstModified = i;
    }
    const int common = std::min(backup.Count(), current.Count());
    m_firstChanged = common;
    for (int i = 0; i < common; ++i) {
        if (backup.ItemAt(i).name != current.ItemAt(i).name || current.ItemAt(i).modified) {
            m_firstChanged = i;
            break;
        }
    }
    // Entries written by other tools need not lie in directory order. Keeping a prefix is
    // only safe when offsets grow with the index; otherwise everything is rewritten.
    for (int i = 1; i < backup.Count(); ++i) {
        if (backup.ItemAt(i).localHeaderOffset64() <= backup.ItemAt(i - 1).localHeaderOffset64()) {
            m_firstChanged = 0;
            break;
        }
    }

    const auto startOp = firstModified >= 0 ? TZAProcessOperation(current.ItemAt(firstModified).operation) : poDelete;
    overall(0, startOp, ppStart);
    if (a.m_cancel) {
        // Nothing is written: the directory goes back to what the file holds, so that a
        // later batch does not take the batch's items for written entries.
        current.AssignFrom(backup);
        return;
    }

    bool stopped = false;
    try {
        // Truncation position: where the rewritten part starts.
        if (m_firstChanged < backup.Count()) {
            m_truncation = std::numeric_limits<std::uint64_t>::max();
            for (int i = m_firstChanged; i < backup.Count(); ++i)
                m_truncation = std::min(m_truncation, backup.ItemAt(i).localHeaderOffset64());
            m_truncation = std::min(m_truncation, m_archive.size());
            const std::filesystem::path folder =
                a.TempDir.empty() ? platform::temporaryFolder() : platform::toPath(a.TempDir);
            m_backup.emplace(folder, "FC");
            copyBytes(m_archive, m_truncation, m_backup->file(), m_archive.size() - m_truncation);
        } else if (backup.Count() == 0) {
            m_truncation = m_dir.prefixLength();
        } else {
            // After the last entry: where the directory was found (which also holds for
            // archives with data in front of them, whose stored offset may not).
            m_truncation = m_dir.directoryPosition();
        }
        // From here on the archive is changed and a rollback has to restore it.
        m_archiveChanged = true;
        m_archive.seek(m_truncation);
        m_archive.truncate(m_truncation);

        for (int i = m_firstChanged; i < current.Count() && !a.m_cancel;) {
            bool success = true;
            do {
                m_action = fxaIgnore;
                success = true;
                const TDirItem& item = current.ItemAt(i);
                if (item.modified && item.operation != poRename && item.operation != poChangeAttr &&
                    item.operation != poChangeComment)
                    success = writeNewEntry(i);
                else
                    copyExistingEntry(i);
            } while (m_action == fxaRetry);
            if (m_action == fxaAbort || a.m_cancel) {
                stopped = true;
                break;
            }
            if (success) {
                ++m_done;
                ++i;
            } else if (current.ItemAt(i).operation == poAdd ||
                       (current.ItemAt(i).operation == poUpdate && findBackupItem(current.ItemAt(i).name, true) < 0)) {
                // A new entry that was given up leaves no trace; so does the replacement of
                // an item recorded earlier in the same batch, which has no old data to keep.
                current.DeleteItem(i);
            } else {
                copyExistingEntry(i);   // a replacement that was given up keeps the old data
                ++i;
            }
        }
        stopped = stopped || a.m_cancel;
        if (!stopped) {
            m_dir.SaveCentralDirectory(true, &m_archive);
            m_backup.reset();
        }
    } catch (...) {
        try {
            rollback();
        } catch (...) {
            // The original failure is the one to report.
        }
        throw;
    }

    if (stopped) {
        rollback();
        return;
    }
    // Moving (deleting the sources of poMove items) is not offered: adding never records such items.
    // The archive is complete here: a cancel asked for by the end notification changes nothing.
    overall(100, startOp, ppEnd);
    a.m_cancel = false;
    if (a.Options.FlushBuffers && a.m_file) m_archive.flush();
}

bool UpdateEngine::writeNewEntry(int i) {
    const std::uint64_t start = m_archive.tell();
    try {
        return writeNewEntryOnce(i);
    } catch (const EZAException& e) {
        // What was written of this entry goes, so that the next one starts at its place.
        m_archive.seek(start);
        m_archive.truncate(start);
        const TDirItem& item = m_dir.currentDir().ItemAt(i);
        const std::string& name = item.operation == poUpdate ? item.name : item.sourceFileName;
        m_action = m_archiver.m_stream ? m_archiver.failureDecision(name, TZAProcessOperation(item.operation), e)
                                       : fxaAbort;
        return false;
    }
}

bool UpdateEngine::writeNewEntryOnce(int i) {
    TZABaseArchiver& a = m_archiver;
    TDirItem& item = m_dir.currentDir().ItemAt(i);
    const auto op = TZAProcessOperation(item.operation);
    const std::string& progressName = item.sourceFileName.empty() ? item.name : item.sourceFileName;
    a.fileProgress(progressName, 0, op, ppStart);
    if (a.m_cancel) return false;

    // The source: a supplied stream, nothing for a folder entry, or the disk file.
    std::optional<platform::File> file;
    platform::Stream* source = nullptr;
    SourcePositionGuard guard;
    std::uint64_t sourceStart = 0;
    if (item.sourceStream) {
        source = item.sourceStream.get();
        guard = {source, source->tell()};
        sourceStart = std::uint64_t(std::max(0, item.sourceStreamStart));
        source->seek(sourceStart);
    } else if (!item.isFolder()) {
        if (item.sourceFileName.size() > kMaxSourcePath) throw EZAException(61, {item.sourceFileName}, a.Name);
        const std::filesystem::path path = platform::toPath(item.sourceFileName);
        // Only regular files have contents to store: opening a pipe would wait for a writer.
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec)) throw EZAException(33, {item.sourceFileName}, a.Name);
        try {
            file.emplace(platform::File::openRead(path));
        } catch (const platform::FileError&) {
            throw EZAException(33, {item.sourceFileName}, a.Name);
        }
        source = &*file;
    }
    const std::uint64_t length = source ? source->size() - std::min(source->size(), sourceStart) : 0;

    const std::uint64_t headerPos = m_archive.tell();
    item.hasZip64 = false;
    setLocalOffset(item, headerPos);
    const bool always64 = a.Zip64Mode() == zmAlways;
    const bool bigSource = length >= kZip64Marker32;
    const std::uint16_t version =
        item.hasZip64 || bigSource ? kVersionZip64 : (a.Options.OEMFileNames ? kVersionDefault : 0x0B14);
    item.versionNeeded = version;
    item.versionMadeBy = version;
    if (item.method != kMethodStored && item.method != kMethodDeflate) item.method = kMethodStored;
    if (item.compressionMode == 0) item.method = kMethodStored;
    const StoredName stored = encodeStoredName(item.name, a.Options.OEMFileNames);
    item.flags = flagsForName(item.flags, stored);

    LocalHeader h;
    h.versionNeeded = version;
    h.flags = item.flags;
    h.method = item.method;
    h.modTime = item.modTime;
    h.modDate = item.modDate;
    h.crc32 = item.crc32;
    h.compressedSize = 0;
    if (bigSource || always64) {
        h.uncompressedSize = kZip64Marker32;
        item.hasZip64 = true;
    } else {
        h.uncompressedSize = std::uint32_t(length);
    }
    h.nameLength = std::uint16_t(stored.bytes.size());
    h.extraLength = h.uncompressedSize == kZip64Marker32 ? std::uint16_t(kLocalZip64ExtraSize) : 0;
    if (a.Zip64Mode() == zmDisabled && item.hasZip64) throw EZAException(43, {item.sourceFileName}, a.Name);

    std::vector<std::uint8_t> bytes;
    ByteWriter w(bytes);
    write(w, h);
    w.bytes(stored.bytes);
    if (h.extraLength) writeLocalZip64Extra(w, 0, 0);
    writeAll(m_archive, bytes, a.Name);

    if (source) {
        const int level = item.method == kMethodDeflate ? item.compressionMode : 0;
        ReadFn read = [source](std::uint8_t* buf, std::size_t n) { return source->read(buf, n); };
        WriteFn put = [this](const std::uint8_t* d, std::size_t n) { return m_archive.write(d, n); };
        ProgressFn progress = [this, &a, &progressName, op, length](std::uint64_t done) {
            const std::uint64_t percent = percentOf(done, length);
            a.fileProgress(progressName, int(percent), op, ppProcess);
            // The whole update: items done plus this item's fraction, over the items to process.
            if (m_toProcess > 0) overall(int((m_done * 100 + percent) / std::uint64_t(m_toProcess)), op, ppProcess);
            return !a.m_cancel;
        };
        const CompressOutcome out = compressBlocks(length, level, read, put, progress);
        if (out.bytesRead != length) {
            if (out.cancelled || a.m_cancel) return false;
            if (out.writeFailed) throw EZAException(46, a.Name);
            throw EZAException(34, {std::int64_t(length), std::int64_t(out.bytesRead)}, a.Name);
        }
        item.crc32 = out.crc;
        item.setCompressedSize64(out.compressedBytes, always64);
        item.setUncompressedSize64(length, always64);
        if (item.hasZip64 && a.Zip64Mode() == zmDisabled) throw EZAException(41, {item.sourceFileName}, a.Name);
        if (length == 0) item.method = kMethodStored;

        // Patch the header in place now that CRC and sizes are known (no data descriptor).
        h.crc32 = item.crc32;
        h.compressedSize = item.compressedSize;
        h.method = item.method;
        bytes.clear();
        write(w, h);
        m_archive.seek(headerPos);
        writeAll(m_archive, bytes, a.Name);
        if (h.extraLength) {
            m_archive.seek(headerPos + kLocalHeaderSize + h.nameLength);
            bytes.clear();
            writeLocalZip64Extra(w, length, out.compressedBytes);
            writeAll(m_archive, bytes, a.Name);
        }
    } else {
        item.crc32 = 0;
        item.compressedSize = 0;
        item.uncompressedSize = 0;
        item.method = kMethodStored;
    }
    if (a.m_cancel) return false;
    m_archive.seek(m_archive.size());
    file.reset();
    a.fileProgress(progressName, 100, op, ppEnd);
    return true;
}

int UpdateEngine::findBackupItem(const std::string& name, bool ignoreCase) const {
    const TZADirArray& backup = m_dir.backupDir();
    const int hit = backup.FindByName(name);
    if (hit >= 0 && backup.ItemAt(hit).name == name) return hit;
    for (int i = 0; i < backup.Count(); ++i)
        if (backup.ItemAt(i).name == name) return i;
    return ignoreCase ? hit : -1;
}

void UpdateEngine::copyExistingEntry(int i) {
    TZABaseArchiver& a = m_archiver;
    TZADirArray& current = m_dir.currentDir();
    const bool rename = current.ItemAt(i).operation == poRename;
    // A replacement found its entry ignoring case and may have renamed it in doing so.
    const bool update = current.ItemAt(i).operation == poUpdate;
    const int b = findBackupItem(rename ? current.ItemAt(i).oldName : current.ItemAt(i).name, update);
    if (b < 0 || !m_backup) throw EZAException(7, a.Name);
    const TDirItem& old = m_dir.backupDir().ItemAt(b);
    if (update) current.StoreItem(i, old);
    TDirItem& item = current.ItemAt(i);

    platform::Stream& tail = m_backup->file();
    const std::uint64_t oldOffset = old.localHeaderOffset64();
    if (oldOffset < m_truncation) throw EZAException(7, a.Name);
    const std::uint64_t from = oldOffset - m_truncation;
    std::uint8_t raw[kLocalHeaderSize];
    if (tail.readAt(from, raw, sizeof raw) != sizeof raw) throw EZAException(7, a.Name);
    ByteReader r(raw);
    LocalHeader h;
    read(r, h);
    std::uint64_t length = kLocalHeaderSize + h.nameLength + h.extraLength + old.compressedSize64();
    if (old.flags & kFlagDataDescriptor) {
        // Keep the data descriptor that follows the data (with or without its signature).
        std::uint8_t sig[4] = {};
        tail.readAt(from + length, sig, 4);
        const bool signed_ = ByteReader(sig).u32() == kDataDescriptorSig;
        length += (signed_ ? 4 : 0) + (old.hasZip64 ? 20 : 12);
    }
    length = std::min(length, tail.size() - from);  // a damaged entry is kept as it is

    setLocalOffset(item, m_archive.tell());
    if (!rename) {
        copyBytes(tail, from, m_archive, length);
        return;
    }
    const StoredName stored = encodeStoredName(item.name, a.Options.OEMFileNames);
    const std::uint64_t oldNameEnd = kLocalHeaderSize + h.nameLength;
    h.nameLength = std::uint16_t(stored.bytes.size());
    h.flags = flagsForName(h.flags, stored);
    item.flags = flagsForName(item.flags, stored);
    std::vector<std::uint8_t> bytes;
    ByteWriter w(bytes);
    write(w, h);
    w.bytes(stored.bytes);
    writeAll(m_archive, bytes, a.Name);
    copyBytes(tail, from + oldNameEnd, m_archive, length - std::min(length, oldNameEnd));
}

void UpdateEngine::copyBytes(platform::Stream& from, std::uint64_t fromPos, platform::Stream& to, std::uint64_t length) {
    std::vector<std::uint8_t> buffer(std::size_t(std::min<std::uint64_t>(length, kCopyBlock)));
    from.seek(fromPos);
    while (length > 0) {
        const std::size_t n = std::size_t(std::min<std::uint64_t>(length, buffer.size()));
        const std::size_t got = from.read(buffer.data(), n);
        if (got == 0) break;
        if (to.write(buffer.data(), got) != got) throw EZAException(46, m_archiver.Name);
        length -= got;
    }
}

void UpdateEngine::rollback() {
    m_dir.currentDir().AssignFrom(m_dir.backupDir());
    // A failure while the tail backup was made (no room, no temporary folder) left the
    // archive as it was; truncating it now would lose the entries the backup lacks.
    if (!m_archiveChanged) {
        m_backup.reset();
        return;
    }
    m_archive.seek(m_truncation);
    m_archive.truncate(m_truncation);
    if (m_backup) {
        copyBytes(m_backup->file(), 0, m_archive, m_backup->file().size());
        m_backup.reset();
    } else {
        m_dir.SaveCentralDirectory(true, &m_archive);
    }
}

bool DecompressEntry(platform::Stream& archive, platform::Stream* destination, const TDirItem& item,
                     std::uint64_t directoryPosition, const ProgressFn& progress, const std::string& componentName) {
    const std::uint64_t headerPos = archive.tell();
    std::uint8_t raw[kLocalHeaderSize];
    if (archive.read(raw, sizeof raw) != sizeof raw) return false;
    ByteReader r(raw);
    LocalHeader h;
    read(r, h);
    const std::uint64_t dataStart = headerPos + kLocalHeaderSize + h.nameLength + h.extraLength;

    if (item.method == 9) throw EZAException(55, componentName);
    if (item.flags & kFlagEncrypted) return false;
    if (item.method != kMethodStored && item.method != kMethodDeflate) return false;

    // The data ends at the directory (or at the end of the file when it lies beyond it).
    const std::uint64_t fileSize = archive.size();
    const std::uint64_t limit = dataStart <= directoryPosition ? directoryPosition : fileSize;
    const std::uint64_t available = dataStart < limit ? std::min(limit, fileSize) - dataStart : 0;
    const std::uint64_t compressed = std::min(item.compressedSize64(), available);
    archive.seek(dataStart);
    ReadFn read = [&archive](std::uint8_t* buf, std::size_t n) { return archive.read(buf, n); };
    WriteFn put = [destination](const std::uint8_t* d, std::size_t n) {
        return destination ? destination->write(d, n) : n;
    };
    const DecompressOutcome out =
        decompressBlocks(item.method, compressed, item.uncompressedSize64(), item.crc32, read, put, progress);
    return out.ok;
}

} // namespace archiver
