// Archived profiles: a profile folder packed into "./name.zip" by the archiver the window
// owns, checked, and unpacked again for an apply or a rename. Plain C++; the archiver's
// questions go to the prompts the front end installed on it, and its progress pumps the
// window's messages so that the busy window keeps moving through long files.
#pragma once

#include "app/profile_actions.h"

namespace archiver {
class TZipArchiver;
}

namespace kestrane {

class ZipProfileArchive : public ProfileArchive {
public:
    explicit ZipProfileArchive(archiver::TZipArchiver& archiver);

    std::optional<std::string> pack(ProfileWindow& window, const std::string& folder, const std::string& name,
                                    const std::string& archivePath) override;
    std::optional<std::string> damage(ProfileWindow& window, const std::string& archivePath,
                                      const std::string& name) override;
    std::optional<std::string> unpack(ProfileWindow& window, const std::string& archivePath, const std::string& name,
                                      const std::string& destination) override;

private:
    archiver::TZipArchiver& m_archiver;
};

// The stored names ("name/…", folders with a trailing "/") the folder `folder` must give
// when packed under `name`: every file and subfolder below it. Throws platform::FileError
// naming the first folder that cannot be listed or file that cannot be opened.
std::vector<std::string> expectedStoredNames(const std::string& folder, const std::string& name);
// The stored names of an archive, in archive order. Throws EZAException when it cannot
// be opened.
std::vector<std::string> archiveStoredNames(archiver::TZipArchiver& archiver, const std::string& fileName);

} // namespace kestrane
