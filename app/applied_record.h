// Which profile's files are in a game folder's `system` folder, and whether the game has
// changed them since they were applied.
//
// The record is the file "system.kestrane-applied" beside `system`: one line for each
// folder an apply put in place (the current `system` and the backup). A line names its
// folder by identity (device and inode), which stays with the folder through the renames
// and exchanges of apply and undo: an undo or a redo needs no rewrite, and whichever of
// the two folders is `system` after a crash, the record tells whose it is. An apply
// writes the record before it exchanges the folders; until the exchange the old line
// still matches `system`.
#pragma once

#include "app/game_folder.h"
#include "platform/file_system.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrane {

struct AppliedEntry {
    platform::FileIdentity folder; // the folder the profile's files were put in
    std::int64_t appliedAt = 0;    // seconds since 1970, UTC
    std::uint64_t fingerprint = 0; // of the folder as applied (see folderFingerprint)
    bool archived = false;
    // The profile's own files (its folder or archive) when they were applied: what the
    // entry belongs to, so that a profile deleted and saved again under the same name is
    // not taken for the applied one. Records written before it was kept have none; their
    // entries belong to the profile of that name.
    std::optional<platform::FileIdentity> profileFiles;
    std::string name;             // the profile, as it was last called
    std::string workingDirectory; // whose options.ini lists the profile (absolute)

    bool operator==(const AppliedEntry&) const = default;
};

struct AppliedRecord {
    std::vector<AppliedEntry> entries;

    // The record of a game folder; empty when there is none or it cannot be read.
    static AppliedRecord read(const GameFolder& game);
    // Replaces the record durably. Throws ProfileError naming the file and the reason.
    void write(const GameFolder& game) const;

    // The entry of the folder now at `path`, or nullptr.
    const AppliedEntry* of(const std::string& path) const;
    AppliedEntry* of(const std::string& path);
};

// Whether the entry is this working directory's profile `name` whose own files (folder
// or archive) are `files`: an entry that keeps no files goes by the name alone.
bool belongsTo(const AppliedEntry& entry, const std::string& name, const std::optional<platform::FileIdentity>& files);

// A digest of a folder's tree: every entry's path relative to the folder, and for files
// their size and modification time. Equal digests mean the game changed nothing that a
// save would copy. nullopt when the folder is missing.
std::optional<std::uint64_t> folderFingerprint(const std::string& folder);

// Whether the game changed its `system` folder since `entry`'s profile was applied there.
bool changedSinceApplied(const GameFolder& game, const AppliedEntry& entry);

// Whether a profile is in its game folder's `system` folder, and whether the game changed
// that folder since the apply.
enum class AppliedState { NotApplied, Applied, Changed };

// The absolute path of the working directory, as records name it.
std::string workingDirectoryId();

} // namespace kestrane
