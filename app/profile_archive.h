// Archived profiles: the profile folder packed into "./name.zip" by the archiver the
// window owns, and unpacked again for an apply. Plain C++; the archiver's questions go
// to the prompts the front end installed on it.
#pragma once

#include "app/profile_actions.h"

namespace archiver {
class TZipArchiver;
}

namespace kestrane {

class ZipProfileArchive : public ProfileArchive {
public:
    explicit ZipProfileArchive(archiver::TZipArchiver& archiver);

    // Packs the folder, then closes, reopens and tests the archive and checks that it
    // holds every file and subfolder of the folder; only then is the folder deleted.
    // Otherwise the archive is removed and the first missing or failing path answered.
    std::optional<std::string> archiveProfile(ProfileWindow& window, const std::string& name) override;
    // Tests the archive, extracts the profile's entries into the working directory and
    // checks that every one of them arrived. An archive that cannot be opened, or an
    // entry that fails (whatever the failure decision answered), removes what was
    // unpacked and answers the error's text.
    std::optional<std::string> extractProfile(ProfileWindow& window, const std::string& name) override;
    // Unpacks under the old name, renames the folder and packs it under the new name;
    // the old archive is removed only when the new one is safe.
    bool renameProfileArchive(ProfileWindow& window, const std::string& oldName, const std::string& newName) override;

private:
    archiver::TZipArchiver& m_archiver;
};

// The stored names ("name/…", folders with a trailing "/") a profile folder must
// give: every file and subfolder below "./name".
std::vector<std::string> expectedStoredNames(const std::string& name);
// The stored names of an archive, in archive order. Throws EZAException when it cannot
// be opened.
std::vector<std::string> archiveStoredNames(archiver::TZipArchiver& archiver, const std::string& fileName);

} // namespace kestrane
