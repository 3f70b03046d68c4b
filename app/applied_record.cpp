#include "app/applied_record.h"

#include "app/folder_operations.h"
#include "app/profile_list.h"
#include "platform/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <cstring>
#include <sstream>

namespace kestrane {
namespace {

// FNV-1a, 64 bits: enough to tell a changed tree from the applied one.
struct Digest {
    std::uint64_t value = 1469598103934665603ull;
    void add(const void* data, std::size_t size) {
        for (const auto* p = static_cast<const unsigned char*>(data); size-- > 0; ++p)
            value = (value ^ *p) * 1099511628211ull;
    }
    void add(const std::string& text) { add(text.data(), text.size() + 1); } // the 0 ends it
    void add(std::int64_t number) { add(&number, sizeof number); }
};

// The entries of one folder (not "." and ".."), sorted, so that the digest does not
// depend on the order the file system lists them in.
std::vector<std::string> entriesOf(int folder) {
    std::vector<std::string> names;
    const int fd = ::dup(folder);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return names;
    }
    while (const dirent* entry = ::readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void digestFolder(Digest& digest, int folder, const std::string& relative) {
    for (const std::string& name : entriesOf(folder)) {
        struct stat st {};
        if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const std::string path = relative + name;
        digest.add(path);
        if (S_ISDIR(st.st_mode)) {
            const int sub = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0) {
                digestFolder(digest, sub, path + "/");
                ::close(sub);
            }
        } else {
            digest.add(std::int64_t(st.st_size));
            digest.add(std::int64_t(st.st_mtim.tv_sec));
            digest.add(std::int64_t(st.st_mtim.tv_nsec));
        }
    }
}

std::string recordPath(const GameFolder& game) { return game.applied; }

std::optional<AppliedEntry> parseEntry(const std::string& line) {
    std::istringstream in(line);
    AppliedEntry entry;
    int archived = 0;
    if (!(in >> entry.folder.device >> entry.folder.inode >> entry.appliedAt >> std::hex >> entry.fingerprint >>
          std::dec >> archived))
        return std::nullopt;
    // The name and the working directory follow, TAB-separated; a name holds no TAB.
    std::string rest;
    std::getline(in, rest);
    if (rest.empty() || rest[0] != '\t')
        return std::nullopt;
    const auto tab = rest.find('\t', 1);
    if (tab == std::string::npos)
        return std::nullopt;
    entry.archived = archived != 0;
    entry.name = rest.substr(1, tab - 1);
    entry.workingDirectory = rest.substr(tab + 1);
    return entry;
}

} // namespace

AppliedRecord AppliedRecord::read(const GameFolder& game) {
    AppliedRecord record;
    std::string text;
    try {
        platform::File file = platform::File::openRead(platform::toPath(recordPath(game)));
        text.resize(std::size_t(std::min<std::uint64_t>(file.size(), 1 << 20)));
        text.resize(file.read(text.data(), text.size()));
    } catch (const platform::FileError&) {
        return record; // no record: nothing was applied here by Kestrane
    }
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (auto entry = parseEntry(line))
            record.entries.push_back(*entry);
    return record;
}

void AppliedRecord::write(const GameFolder& game) const {
    std::ostringstream out;
    for (const AppliedEntry& e : entries)
        out << e.folder.device << '\t' << e.folder.inode << '\t' << e.appliedAt << '\t' << std::hex << e.fingerprint
            << std::dec << '\t' << (e.archived ? 1 : 0) << '\t' << e.name << '\t' << e.workingDirectory << '\n';
    const std::string text = out.str();
    try {
        platform::TempFile temp = platform::TempFile::named(platform::toPath(draftOf(game.applied)));
        if (temp.file().write(text.data(), text.size()) != text.size())
            throw platform::FileError(temp.file().lastError(), temp.path(), "Cannot write " + recordPath(game));
        temp.keepPermissionsOf(platform::toPath(recordPath(game)));
        temp.commit(platform::toPath(recordPath(game)));
    } catch (const platform::FileError& e) {
        throw ProfileError(e.what());
    }
}

const AppliedEntry* AppliedRecord::of(const std::string& path) const {
    const auto id = platform::fileIdentity(platform::toPath(path));
    if (!id)
        return nullptr;
    auto it = std::find_if(entries.begin(), entries.end(), [&](const AppliedEntry& e) { return e.folder == *id; });
    return it == entries.end() ? nullptr : &*it;
}

AppliedEntry* AppliedRecord::of(const std::string& path) {
    return const_cast<AppliedEntry*>(std::as_const(*this).of(path));
}

std::optional<std::uint64_t> folderFingerprint(const std::string& folder) {
    const int fd = ::open(platform::toPath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    Digest digest;
    digestFolder(digest, fd, "");
    ::close(fd);
    return digest.value;
}

std::string workingDirectoryId() { return GetWorkingDirectory(); }

} // namespace kestrane
