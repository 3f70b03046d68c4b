#include "archiver/archive_file.h"

#include "archiver/za_exception.h"
#include "platform/file_system.h"

namespace archiver {
namespace {

constexpr int kErrLocked = 36;         // another writer holds the archive
constexpr std::size_t kUniquePart = 6; // the characters mkstemp fills in

// The file a path names: a link is followed, so that the replacement goes where the
// link points and the link stays.
std::filesystem::path replacementTarget(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec))
        return path;
    const auto resolved = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : resolved;
}

std::filesystem::path folderOf(const std::filesystem::path& target) {
    return target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
}

// Removes the temporary files that killed updates of `target` left behind. Only called
// under the writer lock, so no update of this archive is running.
void removeLeftovers(const std::filesystem::path& target) {
    const std::string prefix = ArchiveFile::replacementPrefix(target);
    const std::filesystem::path folder = folderOf(target);
    for (const platform::FolderEntry& e : platform::listFolder(platform::pathText(folder / "*"), 0x02 | 0x04)) {
        if (e.name.size() == prefix.size() + kUniquePart && e.name.starts_with(prefix) &&
            !(e.attributes & platform::kAttrDirectory))
            static_cast<void>(platform::deleteFile(folder / platform::toPath(e.name))); // the next open tries again
    }
}

} // namespace

std::string ArchiveFile::replacementPrefix(const std::filesystem::path& target) {
    return "." + platform::pathText(target.filename()) + ".FC";
}

ArchiveFile ArchiveFile::openForReading(const std::filesystem::path& path) {
    return ArchiveFile(path, replacementTarget(path), platform::File::openRead(path));
}

ArchiveFile ArchiveFile::openForWriting(const std::filesystem::path& path, bool mayCreate) {
    const std::filesystem::path target = replacementTarget(path);
    bool made = false;
    if (mayCreate && !platform::fileExists(target)) {
        platform::File::openOrCreate(target);
        made = true;
    }
    auto lock = platform::FileLock::acquire(target, platform::FileLock::Mode::Exclusive, kWriterLockWait);
    if (!lock)
        throw EZAException(kErrLocked, {platform::pathText(path)}, ZAReason{"another program is updating it"});
    // Opened under the lock: no other writer can put a new file in its place now.
    ArchiveFile archive(path, target, platform::File::openReadWrite(target));
    archive.m_lock = std::move(lock);
    archive.m_madeByOpen = made;
    removeLeftovers(target);
    return archive;
}

platform::TempFile ArchiveFile::startReplacement() const {
    platform::TempFile temp(folderOf(m_target), replacementPrefix(m_target));
    temp.keepPermissionsOf(m_target);
    return temp;
}

void ArchiveFile::commitReplacement(platform::TempFile& replacement) {
    if constexpr (platform::kLockFollowsName) {
        // The writer lock stays with the archive's name. Windows does not replace a file
        // that is open, so the archive is closed for the rename and opened again after
        // it, whichever file then has the name.
        m_file.close();
        try {
            replacement.commit(m_target);
        } catch (...) {
            m_file = platform::File::openReadWrite(m_target);
            throw;
        }
        m_file = platform::File::openReadWrite(m_target);
        return;
    }
    // The replacement is locked before it takes the archive's name: a writer that opens
    // the name afterwards waits for us, as it did for the file it replaces.
    auto lock = platform::FileLock::acquire(replacement.path(), platform::FileLock::Mode::Exclusive);
    replacement.commit(m_target);
    if (lock)
        m_lock = std::move(lock);
    m_file = platform::File::openReadWrite(m_target);
}

} // namespace archiver
