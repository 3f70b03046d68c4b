// A ProfileWindow for tests: fields set by the test, every box and busy-window change
// recorded in order, questions answered by the test.
#pragma once

#include "app/profile_actions.h"
#include "app/profile_list.h"
#include "app/profile_window.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kestrane::testing {

class TestWindow : public ProfileWindow {
public:
    std::string systems, game, name;
    bool archive = false;
    bool answerYes = true;
    std::vector<std::string>
        events; // "Error: …", "Information: …", "Plain: …", "Ask: …", "busy", "unbusy", "refresh", "clear"
    int pumps = 0;
    bool busyVisible = false;

    std::string systemsFolderText() const override { return systems; }
    std::string gameFolderText() const override { return game; }
    std::string nameText() const override { return name; }
    bool archiveBoxTicked() const override { return archive; }

    std::vector<std::string> profileEntries() const override { return entries; }
    void setProfileEntries(const std::vector<std::string>& names) override {
        entries = names;
        selected = -1;
    }
    int SelectedIndex() const override { return selected; }
    void selectEntry(int index) override { selected = index; }

    void showError(const std::string& text) override { events.push_back("Error: " + text); }
    void showInformation(const std::string& text) override { events.push_back("Information: " + text); }
    void showPlain(const std::string& text) override { events.push_back("Plain: " + text); }
    bool askYesNo(const std::string& caption, const std::string& text) override {
        events.push_back("Ask: " + caption + ": " + text);
        return answerYes;
    }
    Choice choice = Choice::No; // the answer to Yes/No/Cancel questions
    Choice askYesNoCancel(const std::string& caption, const std::string& text) override {
        events.push_back("Ask: " + caption + ": " + text);
        return choice;
    }
    void pumpMessages() override { ++pumps; }
    void showBusyWindow() override {
        busyVisible = true;
        events.push_back("busy");
    }
    void hideBusyWindow() override {
        busyVisible = false;
        events.push_back("unbusy");
    }
    void RefreshMainWindow() override {
        events.push_back("refresh");
        if (ProfileListExists())
            LoadProfileList(*this);
        selectFirstEntry(*this);
    }
    void ClearEntryFields() override {
        events.push_back("clear");
        systems.clear();
        name.clear();
        game.clear();
    }

    void load() {
        LoadProfileList(*this);
        selectFirstEntry(*this);
    }
    void select(const std::string& entry) {
        load();
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i] == entry)
                selected = int(i);
    }

    std::vector<std::string> entries;
    int selected = -1;
};

// Runs a test inside a fresh temporary working directory, removed afterwards.
class WorkingDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_previous = std::filesystem::current_path();
        ASSERT_FALSE(m_root.empty());
        std::filesystem::create_directories(m_root / "work");
        std::filesystem::current_path(m_root / "work");
    }
    void TearDown() override {
        std::filesystem::current_path(m_previous);
        // Files a test made immutable; the folder itself removes the rest.
#ifndef _WIN32
        std::system(("chattr -R -i '" + m_root.string() + "' 2>/dev/null").c_str());
#endif
    }

    // A path beside the working directory (outside it).
    std::filesystem::path outside(const std::string& name) const { return m_root / u8path(name); }

    template <class Path>
    static void writeFile(const Path& p, const std::string& content) {
        kestrane::testing::writeFile(p, content);
    }
    template <class Path>
    static std::string readFile(const Path& p) {
        return kestrane::testing::readFile(p);
    }

    TempFolder m_folder;
    const std::filesystem::path m_root = m_folder.path();
    std::filesystem::path m_previous;
};

// A working directory with a systems folder beside it ("game/system" in "game") and the
// actions driven through a TestWindow as the window's buttons would drive them. `archive`
// is the front end's archiver (none: every profile is saved unpacked).
class ProfileTest : public WorkingDirectoryTest {
protected:
    void SetUp() override {
        WorkingDirectoryTest::SetUp();
        systems = u8text(outside("game/system"));
        game = u8text(outside("game"));
        writeFile(outside("game/system/l2.ini"), "server=main");
        writeFile(outside("game/system/.hidden"), "h");
        std::filesystem::create_directories(outside("game/system/empty"));
    }

    // Save with the fields typed as given (the systems folder and game folder by default).
    bool saveAs(const std::string& name, bool archived, const std::string& from, const std::string& gameFolder) {
        window.systems = from;
        window.game = gameFolder;
        window.name = name;
        window.archive = archived;
        window.events.clear();
        return SaveProfile(window, archive);
    }
    // Selects name in the reloaded list, then runs the action as its button would.
    template <class Action>
    bool onSelected(const std::string& name, Action action) {
        window.select(name);
        window.events.clear();
        return action();
    }
    bool apply(const std::string& name) {
        return onSelected(name, [&] { return ApplyProfile(window, archive); });
    }

    TestWindow window;
    ProfileArchive* archive = nullptr;
    std::string systems, game;
};

// Every file and folder below root as "relative path" or "relative path/" for folders,
// with file contents, so that two trees compare with one EXPECT_EQ.
inline std::vector<std::string> treeListing(const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    std::vector<std::string> out;
    if (!fs::exists(root))
        return out;
    for (auto& e : fs::recursive_directory_iterator(root)) {
        std::string rel = u8text(fs::relative(e.path(), root));
        if (e.is_directory()) {
            out.push_back(rel + "/");
        } else {
            std::ifstream in(e.path(), std::ios::binary);
            out.push_back(rel + "=" +
                          std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}
inline std::vector<std::string> treeListing(const std::string& root) { return treeListing(u8path(root)); }
inline std::vector<std::string> treeListing(const char* root) { return treeListing(u8path(root)); }

} // namespace kestrane::testing

using kestrane::testing::u8path;
using kestrane::testing::u8text;
