// Which profile is in the game, what the game changed since, and the save-back that keeps
// it: the record through apply, undo and redo, the question before an apply, `update`.
#include "app/action_scope.h"
#include "app/applied_record.h"
#include "app/folder_operations.h"
#include "tests/support/run_command.h"
#include "tests/support/zip_damage.h"
#include "transaction_fixture.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

// "name=state" for every line of options.ini, as `kestrane-cli status` reports them.
Events states() {
    static constexpr const char* kNames[] = {"-", "applied", "changed"};
    Events out;
    for (const ProfileStatus& status : ProfileStatuses())
        out.push_back(status.name + "=" + (status.valid ? kNames[int(status.state)] : "invalid"));
    return out;
}

// The archive of the profile actions, counting how often each whole archive is read.
class CountingArchive : public ProfileArchive {
public:
    explicit CountingArchive(ProfileArchive& real) : m_real(real) {}
    std::optional<std::string> pack(ProfileWindow& window, const std::string& folder, const std::string& name,
                                    const std::string& archivePath) override {
        return m_real.pack(window, folder, name, archivePath);
    }
    std::optional<std::string> damage(ProfileWindow& window, const std::string& archivePath,
                                      const std::string& name) override {
        ++reads;
        return m_real.damage(window, archivePath, name);
    }
    std::optional<std::string> unpack(ProfileWindow& window, const std::string& archivePath, const std::string& name,
                                      const std::string& destination) override {
        ++reads;
        return m_real.unpack(window, archivePath, name, destination);
    }
    int reads = 0;

private:
    ProfileArchive& m_real;
};

} // namespace

class AppliedProfiles : public Transactions {
protected:
    void SetUp() override {
        Transactions::SetUp();
        writeFile(outside("other/z.ini"), "z");
        ASSERT_TRUE(save("Alpha"));
        ASSERT_TRUE(saveAs("Packed", true, u8text(outside("other")), game)) << ::testing::PrintToString(window.events);
    }
    // The game writes its own settings while it runs.
    void gameWrites() { writeFile(outside("game/system/keys.ini"), "bound"); }
    bool update(const std::string& name) {
        return onSelected(name, [&] { return UpdateProfile(window, archive); });
    }
    bool asked(const std::string& question) const {
        return std::count(window.events.begin(), window.events.end(), "Ask: kestrane: " + question) == 1;
    }
    Events packedProfile() {
        fs::remove_all(outside("unpacked"));
        zipArchive.unpack(window, "Packed.zip", "Packed", u8text(outside("unpacked")));
        return treeListing(outside("unpacked/Packed"));
    }
};

TEST_F(AppliedProfiles, theRecordFollowsApplyUndoAndRedo) {
    // A time of whole seconds, which every file system and library sets back exactly.
    fs::last_write_time("Alpha/a.ini", std::chrono::floor<std::chrono::seconds>(fs::last_write_time("Alpha/a.ini")));
    EXPECT_EQ(states(), (Events{"Alpha=-", "Packed=-"}));
    ASSERT_TRUE(apply("Alpha"));
    EXPECT_EQ(states(), (Events{"Alpha=applied", "Packed=-"}));
    // A file rewritten in place, its size unchanged, is a change too.
    const fs::path rewritten = outside("game/system/a.ini");
    const auto written = fs::last_write_time(rewritten);
    fs::last_write_time(rewritten, written - std::chrono::hours(1));
    EXPECT_EQ(states(), (Events{"Alpha=changed", "Packed=-"}));
    fs::last_write_time(rewritten, written);
    EXPECT_EQ(states(), (Events{"Alpha=applied", "Packed=-"}));
    // A file moved inside the folder, its size and time kept, is a change too.
    fs::rename(rewritten, outside("game/system/d/a.ini"));
    EXPECT_EQ(states(), (Events{"Alpha=changed", "Packed=-"}));
    fs::rename(outside("game/system/d/a.ini"), rewritten);
    EXPECT_EQ(states(), (Events{"Alpha=applied", "Packed=-"}));
    gameWrites();
    EXPECT_EQ(states(), (Events{"Alpha=changed", "Packed=-"}));
    window.choice = Choice::No;
    ASSERT_TRUE(apply("Packed"));
    EXPECT_EQ(states(), (Events{"Alpha=-", "Packed=applied"}));
    // The undo's question names the profile whose folder comes back.
    ASSERT_TRUE(undo("Packed"));
    EXPECT_EQ(window.events.front(),
              "Ask: kestrane: Вернуть папку system сервера Alpha, которая была до последнего применения?");
    EXPECT_EQ(states(), (Events{"Alpha=changed", "Packed=-"}));
    ASSERT_TRUE(undo("Packed")); // redo
    EXPECT_EQ(states(), (Events{"Alpha=-", "Packed=applied"}));
}

TEST_F(AppliedProfiles, anApplyOverAChangedFolderAsksFirst) {
    const std::string question =
        "Ask: kestrane: Папка system изменилась после применения сервера Alpha. Сохранить "
        "изменения в этот сервер?";
    const struct {
        Choice choice;
        bool applied;   // Packed is in the game afterwards
        bool savedBack; // Alpha holds the game's change afterwards
    } cases[] = {{Choice::Cancel, false, false}, {Choice::No, true, false}, {Choice::Yes, true, true}};
    const std::string list = readFile("options.ini");
    for (const auto& c : cases) {
        window.choice = Choice::No;
        ASSERT_TRUE(apply("Alpha"));
        gameWrites();
        const auto changed = system();
        window.choice = c.choice;
        EXPECT_EQ(apply("Packed"), c.applied) << int(c.choice);
        EXPECT_EQ(std::count(window.events.begin(), window.events.end(), question), 1) << int(c.choice);
        EXPECT_EQ(system(), c.applied ? packedProfile() : changed) << int(c.choice);
        EXPECT_EQ(treeListing("Alpha"), c.savedBack ? changed : treeListing(outside("src"))) << int(c.choice);
        if (c.applied) { // the changed folder is the backup, whichever the answer
            EXPECT_EQ(treeListing(outside("game/system.kestrane-backup")), changed) << int(c.choice);
        }
        EXPECT_EQ(readFile("options.ini"), list);
        fs::remove_all("Alpha");
        fs::copy(outside("src"), "Alpha", fs::copy_options::recursive);
    }
}

TEST_F(AppliedProfiles, saveBackReplacesTheAppliedProfileAndNoOther) {
    window.choice = Choice::No;
    ASSERT_TRUE(apply("Packed"));
    gameWrites();
    const std::string list = readFile("options.ini");
    EXPECT_FALSE(update("Alpha"));
    EXPECT_EQ(window.events, Events{"Error: Сервер Alpha сейчас не в папке игры"});
    EXPECT_EQ(treeListing("Alpha"), treeListing(outside("src")));

    ASSERT_TRUE(update("Packed"));
    EXPECT_EQ(window.events.back(), "Information: Сервер Packed обновлён из папки " + game + "/system");
    EXPECT_EQ(packedProfile(), system());
    EXPECT_EQ(readFile("options.ini"), list);
    EXPECT_EQ(states(), (Events{"Alpha=-", "Packed=applied"}));
    EXPECT_FALSE(fs::exists(kStagingFolder));
}

TEST_F(AppliedProfiles, statusReportsEveryLineAndAnInvalidOne) {
    ASSERT_TRUE(apply("Alpha"));
    writeFile("options.ini", readFile("options.ini") + "damaged line\r\n");
    const auto run = kestrane::testing::runCommand(kestrane::testing::kestraneCli() + "status");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Alpha\t" + game + "\t0\tapplied\nPacked\t" + game + "\t1\t-\ndamaged line\t\t\tinvalid\n");
}

// The record follows its profile: a rename keeps the mark (folder and archive alike), the
// question and the save-back find the profile by its new name, and a profile deleted and
// saved again under its old name is not the applied one.
TEST_F(AppliedProfiles, theRecordFollowsRenamesAndDeletes) {
    for (const auto& [from, to] : {std::pair{"Alpha", "Новый"}, std::pair{"Packed", "Упакован"}}) {
        window.choice = Choice::No;
        ASSERT_TRUE(apply(from));
        ASSERT_TRUE(rename(from, to)) << ::testing::PrintToString(window.events);
        EXPECT_EQ(AppliedRecord::read(GameFolder(game, game)).of(game + "/system")->name, to);
        gameWrites();
        window.choice = Choice::Yes;
        const std::string other = std::string(from) == "Alpha" ? "Packed" : "Новый";
        ASSERT_TRUE(apply(other));
        EXPECT_TRUE(asked("Папка system изменилась после применения сервера " + std::string(to) +
                          ". Сохранить изменения в этот сервер?"))
            << ::testing::PrintToString(window.events);
        window.choice = Choice::No;
        ASSERT_TRUE(apply(to));
        EXPECT_TRUE(update(to)) << ::testing::PrintToString(window.events);
        fs::remove(outside("game/system/keys.ini"));
        ASSERT_TRUE(apply(to));
    }
    EXPECT_EQ(states(), (Events{"Новый=-", "Упакован=applied"}));

    ASSERT_TRUE(remove("Упакован"));
    EXPECT_EQ(AppliedRecord::read(GameFolder(game, game)).of(game + "/system"), nullptr);
    ASSERT_TRUE(saveAs("Упакован", true, u8text(outside("other")), game));
    EXPECT_EQ(states(), (Events{"Новый=-", "Упакован=-"}));
}

// One game folder written two ways (relative in one line, absolute with a trailing
// separator in another) is one folder: the question is asked whichever line applies.
TEST_F(AppliedProfiles, oneGameFolderHoweverWritten) {
    const std::string relative = u8text(fs::relative(u8path(game), fs::current_path()));
    writeFile("options.ini", "Alpha\t" + relative + "\t0\r\nPacked\t" + game + "/\t1\r\n");
    ASSERT_TRUE(apply("Alpha"));
    gameWrites();
    window.choice = Choice::Yes;
    ASSERT_TRUE(apply("Packed"));
    EXPECT_TRUE(asked("Папка system изменилась после применения сервера Alpha. Сохранить изменения в этот сервер?"))
        << ::testing::PrintToString(window.events);
    EXPECT_EQ(readFile("Alpha/keys.ini"), "bound");
}

// Two working directories with a profile of the same name for one game folder: the second
// asks about the first one's changed profile and saves the game's changes into that one,
// never into its own namesake.
TEST_F(AppliedProfiles, aSecondWorkingDirectoryKeepsTheFirstOnesChanges) {
    const std::string first = GetWorkingDirectory();
    ASSERT_TRUE(apply("Alpha"));
    gameWrites();
    fs::create_directories(outside("wd2"));
    fs::current_path(outside("wd2"));
    ASSERT_TRUE(saveAs("Alpha", false, u8text(outside("other")), game));
    window.choice = Choice::Yes;
    ASSERT_TRUE(apply("Alpha")) << ::testing::PrintToString(window.events);
    EXPECT_TRUE(asked("Папка system изменилась после применения сервера Alpha из другой папки программы (" + first +
                      "). Сохранить изменения в этот сервер?"))
        << ::testing::PrintToString(window.events);
    EXPECT_EQ(readFile(u8path(first) / "Alpha/keys.ini"), "bound");
    EXPECT_FALSE(fs::exists("Alpha/keys.ini"));
    EXPECT_EQ(system(), treeListing(outside("other")));
    EXPECT_EQ(states(), Events{"Alpha=applied"});
    fs::current_path(first);
    EXPECT_EQ(states(), (Events{"Alpha=-", "Packed=-"}));
    EXPECT_FALSE(fs::exists(kStagingFolder));
}

// A rename of an archived profile cut after the repacked archive took its new name is
// settled by the next run as options.ini says, the record with it: undone, the old
// archive stays marked; done, the new one is.
TEST_F(AppliedProfiles, anInterruptedRenameOfAnArchiveIsSettledWithItsRecord) {
    window.choice = Choice::No;
    ASSERT_TRUE(apply("Packed"));
    const std::string list = readFile("options.ini");
    const Journal journal{Journal::Action::Rename, "Packed", "Упак", true, game, game, profileFiles("Packed", true), 0};
    for (const bool renamed : {false, true}) {
        fs::remove_all(outside("repack"));
        ASSERT_EQ(zipArchive.unpack(window, "Packed.zip", "Packed", u8text(outside("repack"))), std::nullopt);
        ASSERT_EQ(zipArchive.pack(window, u8text(outside("repack/Packed")), "Упак", "Упак.zip"), std::nullopt);
        fs::create_directories(std::string(kStagingFolder));
        writeFile(std::string(kStagingFolder) + "/journal", journal.text());
        if (renamed)
            writeFile("options.ini", std::regex_replace(list, std::regex("Packed"), "Упак"));
        ASSERT_TRUE(recoverWorkingDirectory(window)) << ::testing::PrintToString(window.events);
        EXPECT_EQ(states(), renamed ? (Events{"Alpha=-", "Упак=applied"}) : (Events{"Alpha=-", "Packed=applied"}));
        EXPECT_NE(fs::exists("Packed.zip"), renamed);
        EXPECT_EQ(fs::exists(u8path("Упак.zip")), renamed);
    }
}

// An apply that stops after recording its new folder and before the exchange (here its
// game journal cannot be written) keeps the backup's entry: the undo still names the
// profile whose folder comes back, and that profile is marked once it is back.
TEST_F(AppliedProfiles, anApplyCutBeforeItsExchangeKeepsTheBackupsEntry) {
    window.choice = Choice::No;
    ASSERT_TRUE(apply("Alpha"));
    ASSERT_TRUE(apply("Packed")); // Alpha's folder is the backup
    writeFile(game + "/system.kestrane-journal-new/blocker", "x");
    EXPECT_THROW(apply("Alpha"), ProfileError);
    fs::remove_all(game + "/system.kestrane-journal-new");
    ASSERT_TRUE(undo("Packed"));
    EXPECT_EQ(window.events.front(),
              "Ask: kestrane: Вернуть папку system сервера Alpha, которая была до последнего применения?");
    EXPECT_EQ(states(), (Events{"Alpha=applied", "Packed=-"}));
}

// A save-back cut at each of its moments is settled with its record: until the new
// folder has left the work folder for the profile's place, the old folder stays (or comes
// back) and the profile is still marked changed; after, it is marked applied.
TEST_F(AppliedProfiles, anInterruptedSaveBackIsSettledWithItsRecord) {
    window.choice = Choice::No;
    const std::string built = ActionScope::builtFiles(std::string(kStagingFolder) + "/work", "Alpha", false);
    enum class Cut { AfterTheJournal, AfterTheOldMovedAside, AfterTheNewMovedIn };
    for (const Cut cut : {Cut::AfterTheJournal, Cut::AfterTheOldMovedAside, Cut::AfterTheNewMovedIn}) {
        SCOPED_TRACE(int(cut));
        fs::remove_all("Alpha");
        fs::copy(outside("src"), "Alpha", fs::copy_options::recursive);
        ASSERT_TRUE(apply("Alpha"));
        gameWrites();
        fs::create_directories(std::string(kStagingFolder) + "/work");
        fs::copy(outside("game/system"), built, fs::copy_options::recursive);
        Journal journal{Journal::Action::Update, "Alpha", {}, false, game, game, profileFiles("Alpha", false), 0};
        journal.fingerprint = *folderFingerprint(u8text(outside("game/system")));
        writeFile(std::string(kStagingFolder) + "/journal", journal.text());
        if (cut != Cut::AfterTheJournal)
            fs::rename("Alpha", ActionScope::movedFolder());
        if (cut == Cut::AfterTheNewMovedIn)
            fs::rename(built, "Alpha");

        ASSERT_TRUE(recoverWorkingDirectory(window)) << ::testing::PrintToString(window.events);
        const bool savedBack = cut == Cut::AfterTheNewMovedIn;
        EXPECT_EQ(treeListing("Alpha"), savedBack ? system() : treeListing(outside("src")));
        EXPECT_EQ(states(), (Events{savedBack ? "Alpha=applied" : "Alpha=changed", "Packed=-"}));
        EXPECT_FALSE(fs::exists(kStagingFolder));
    }
}

// An archived apply reads its archive once, checking it as it unpacks; a damaged one is
// refused before the question about the game's changes, and nothing is saved or left.
TEST_F(AppliedProfiles, anArchivedApplyReadsItsArchiveOnceAndRefusesADamagedOneBeforeAsking) {
    CountingArchive counting(zipArchive);
    archive = &counting;
    ASSERT_TRUE(apply("Packed"));
    EXPECT_EQ(system(), packedProfile());
    EXPECT_EQ(counting.reads, 1);

    window.choice = Choice::No;
    ASSERT_TRUE(apply("Alpha"));
    gameWrites();
    const auto changed = system();
    writeFile(outside("big/data.ini"), std::string(70000, 'd') + "settings that compress");
    ASSERT_TRUE(saveAs("Big", true, u8text(outside("big")), game));
    ASSERT_TRUE(kestrane::testing::corruptEntryData("Big.zip", "Big/data.ini"));
    window.choice = Choice::Yes;
    window.events.clear();
    EXPECT_FALSE(apply("Big"));
    EXPECT_EQ(window.events.back(), "Error: Архив сервера повреждён: ./Big.zip");
    EXPECT_FALSE(asked("Папка system изменилась после применения сервера Alpha. Сохранить изменения в этот сервер?"));
    EXPECT_EQ(system(), changed);
    EXPECT_EQ(treeListing("Alpha"), treeListing(outside("src")));
    EXPECT_EQ(states(), (Events{"Alpha=changed", "Packed=-", "Big=-"}));
    for (const char* built : {"system.kestrane-partial", "system.kestrane-new"})
        EXPECT_FALSE(fs::exists(outside("game") / built)) << built;
}

// Applying the changed profile itself, its changes saved back first, puts exactly the
// saved-back files in the game.
TEST_F(AppliedProfiles, applyingTheChangedProfileAfterSavingItBackKeepsTheChanges) {
    window.choice = Choice::No;
    ASSERT_TRUE(apply("Packed"));
    gameWrites();
    const auto changed = system();
    window.choice = Choice::Yes;
    ASSERT_TRUE(apply("Packed"));
    EXPECT_TRUE(asked("Папка system изменилась после применения сервера Packed. Сохранить изменения в этот сервер?"));
    EXPECT_EQ(packedProfile(), changed);
    EXPECT_EQ(system(), changed);
    EXPECT_EQ(states(), (Events{"Alpha=-", "Packed=applied"}));
}
