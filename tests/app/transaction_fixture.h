// The fixture of the transaction tests: a working directory with a profile source
// beside it ("src"), a game folder holding an old `system`, and the archiver at hand.
#pragma once

#include "app/profile_actions.h"
#include "app/profile_archive.h"
#include "archiver/zip_archiver.h"
#include "test_window.h"

#include <filesystem>
#include <string>
#include <vector>

using namespace kestrane;
namespace fs = std::filesystem;
using kestrane::testing::treeListing;
using Events = std::vector<std::string>;

class Transactions : public kestrane::testing::ProfileTest {
protected:
    void SetUp() override {
        ProfileTest::SetUp();
        writeFile(outside("src/a.ini"), "profile");
        writeFile(outside("src/d/b.ini"), std::string(70000, 'b')); // more than one copy chunk
        fs::remove_all(outside("game/system"));
        writeFile(outside("game/system/old.ini"), "old");
        archive = &zipArchive;
    }

    bool save(const std::string& name, bool archived = false, const std::string& gameFolder = {}) {
        return saveAs(name, archived, u8text(outside("src")), gameFolder.empty() ? game : gameFolder);
    }
    bool undo(const std::string& name) {
        return onSelected(name, [&] { return UndoApply(window); });
    }
    bool remove(const std::string& name) {
        return onSelected(name, [&] { return DeleteProfile(window); });
    }
    bool rename(const std::string& name, const std::string& to) {
        return onSelected(name, [&] {
            window.name = to;
            return RenameProfile(window, archive);
        });
    }

    std::vector<std::string> system() const { return treeListing(outside("game/system")); }

    archiver::TZipArchiver zip;
    ZipProfileArchive zipArchive{zip};
};
