#include "app/applied_record.h"

#include "app/folder_operations.h"
#include "app/profile_list.h"
#include "platform/file_stream.h"

#include <algorithm>
#include <utility>
#include <sstream>

namespace kestrane {
namespace {

// "device:inode": a field that no profile name can be, as names hold no ':'.
std::optional<platform::FileIdentity> parseIdentity(const std::string& field) {
    platform::FileIdentity id;
    char colon = 0;
    std::istringstream in(field);
    if (!(in >> id.device >> colon >> id.inode) || colon != ':' || in.peek() != EOF)
        return std::nullopt;
    return id;
}

// device TAB inode TAB time TAB fingerprint TAB archived TAB [profile files TAB] name TAB
// working directory; the profile's files are left out by older records.
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
    auto tab = rest.find('\t', 1);
    if (tab == std::string::npos)
        return std::nullopt;
    if (auto files = parseIdentity(rest.substr(1, tab - 1))) {
        entry.profileFiles = files;
        rest.erase(0, tab);
        tab = rest.find('\t', 1);
        if (tab == std::string::npos)
            return std::nullopt;
    }
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
        platform::File file = platform::File::openRead(platform::toPath(game.applied));
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
    for (const AppliedEntry& e : entries) {
        out << e.folder.device << '\t' << e.folder.inode << '\t' << e.appliedAt << '\t' << std::hex << e.fingerprint
            << std::dec << '\t' << (e.archived ? 1 : 0) << '\t';
        if (e.profileFiles)
            out << e.profileFiles->device << ':' << e.profileFiles->inode << '\t';
        out << e.name << '\t' << e.workingDirectory << '\n';
    }
    writeGameFile(game.applied, out.str());
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

bool belongsTo(const AppliedEntry& entry, const std::string& name, const std::optional<platform::FileIdentity>& files) {
    return entry.workingDirectory == workingDirectoryId() && entry.name == name &&
           (!entry.profileFiles || entry.profileFiles == files);
}

std::optional<std::uint64_t> folderFingerprint(const std::string& folder) {
    return platform::treeDigest(platform::toPath(folder));
}

bool changedSinceApplied(const GameFolder& game, const AppliedEntry& entry) {
    return folderFingerprint(game.system) != entry.fingerprint;
}

std::string workingDirectoryId() { return GetWorkingDirectory(); }

} // namespace kestrane
