// The folder-tree operations of the profile actions. The walks pump the window's
// messages between entries so that the busy window keeps moving during long copies.
#pragma once

#include "app/profile_window.h"

#include <string>

namespace kestrane {

struct CopyOutcome {
    bool lastEntry = false;   // the outcome of the last entry handled (false for an empty source)
    int failedFiles = 0;      // files, and folders whose files, that could not be copied
    std::string firstFailure; // source path of the first of them
    std::string firstReason;  // the system's reason for it, when it gave one

    // The path and the reason, as an error box shows them.
    std::string failureText() const { return firstReason.empty() ? firstFailure : firstFailure + ": " + firstReason; }
};

// Copies the tree below source into target (created with every missing folder above
// it), replacing files of the same name when `overwrite`; target files without a
// counterpart stay. With `stopOnFailure` the first failing file ends the whole copy.
// Links to files are copied as files; links to folders are recreated as links, never
// followed. An empty source or target copies nothing. Messages are pumped between entries
// and every 256 KiB inside a file. The copy reports; the caller decides what to show.
CopyOutcome CopyFolderTree(ProfileWindow& window, const std::string& source, const std::string& target,
                           bool stopOnFailure, bool overwrite);

// Deletes folder and everything below it: read-only, hidden and system files too, and
// read-only folders (the owner is given write permission on each folder it empties). A
// file that cannot be deleted shows the plain box "Could NOT delete " + path + ": " and the
// system's reason, and the walk goes on; a folder that cannot be removed although everything in it went is shown the
// same way. A link, or a file, at `folder` is removed itself; a link's target is never entered. Answers whether it is
// gone (nothing there counts as gone).
[[nodiscard]] bool DeleteFolderTree(ProfileWindow& window, const std::string& folder);

// Renames a folder or file, durably (see movePath). A failure shows an error box with the
// system's message; answers whether the rename happened.
[[nodiscard]] bool RenameFolder(ProfileWindow& window, const std::string& oldPath, const std::string& newPath);

// Whether anything, a dangling link included, is at path.
bool pathTaken(const std::string& path);

// Renames a file or folder, never over an existing one, and flushes the folders that hold
// both names, so that the rename survives a power cut. Throws ProfileError with the
// system's reason when it cannot.
void movePath(const std::string& from, const std::string& to);
// Flushes the folders that hold `from` and `to` after a rename between them.
void syncFoldersOf(const std::string& from, const std::string& to);
// Writes everything written below path to disk (the file system synced once), before a
// rename publishes it, pumping the window's messages meanwhile. Throws ProfileError with
// the system's reason when it cannot.
void flushToDisk(ProfileWindow& window, const std::string& path);

// The process's current directory.
std::string GetWorkingDirectory();

} // namespace kestrane
