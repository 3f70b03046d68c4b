// Archives that every tool reads the same: a tree of 28 names in many scripts goes through
// kestrane-zip, Info-ZIP zip/unzip, 7-Zip and Python's zipfile both ways; an add to a
// foreign archive leaves its entries as they were; modes and times come back; zip64
// records are read by all. A tool that is not installed is skipped, and the test says so.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <sstream>

#include "archiver_test_support.h"
#include "tests/support/run_command.h"

using namespace enginetest;
using kestrane::testing::CommandRun;
using kestrane::testing::haveTools;
using kestrane::testing::posixShellQuoted;
using kestrane::testing::runPosixShell;

namespace {

const std::string kZipTool = KESTRANE_ZIP_TOOL;

// Runs the shell `command` in `folder` with a UTF-8 locale (and `env` in front), stdout and stderr together.
CommandRun runIn(const fs::path& folder, const std::string& command, const std::string& env = {}) {
    return runPosixShell("cd " + posixShellQuoted(folder) + " && LANG=C.UTF-8 LC_ALL=C.UTF-8 " + env + " " + command +
                         " 2>&1");
}

// Runs kestrane-zip with `args` in `folder`, in the same locale (and `env`).
CommandRun runZip(const fs::path& folder, const std::vector<std::string>& args, const std::string& env = {}) {
    std::vector<std::string> environment = {"LANG=C.UTF-8", "LC_ALL=C.UTF-8"};
    if (!env.empty())
        environment.push_back(env);
    return kestrane::testing::runProgram(kZipTool, args, folder, environment);
}

// Python's zipfile: "pack ARCHIVE FOLDER" stores every folder and file below FOLDER;
// "extract ARCHIVE DEST" extracts all; "utf8flags ARCHIVE" prints, per entry, whether it
// has flag bit 11 and a non-ASCII name; "test ARCHIVE" runs testzip.
constexpr const char* kPythonTool = R"(import os, sys, zipfile
cmd, archive = sys.argv[1], sys.argv[2]
if cmd == 'pack':
    with zipfile.ZipFile(archive, 'w', zipfile.ZIP_DEFLATED) as z:
        for d, ds, fs in os.walk(sys.argv[3]):
            z.write(d)
            for f in fs: z.write(os.path.join(d, f))
elif cmd == 'extract':
    zipfile.ZipFile(archive).extractall(sys.argv[3])
elif cmd == 'test':
    bad = zipfile.ZipFile(archive).testzip()
    sys.exit(0 if bad is None else 1)
elif cmd == 'oem':
    z = zipfile.ZipFile(archive)
    print(sum(1 for i in z.infolist() if not i.flag_bits & 0x800 and not i.filename.isascii()))
)";

fs::path pythonTool(const fs::path& folder) {
    writeFile(folder / "ziptool.py", kPythonTool);
    return folder / "ziptool.py";
}

// The 28 names: Cyrillic (all in CP866), Ukrainian and accented Latin (not in CP866),
// Greek, CJK, emoji, spaces, long and deep names; a Cyrillic folder holds an emoji name.
std::vector<std::string> mixedScriptNames() {
    std::string longCyrillic, longLatin;
    for (int i = 0; i < 120; ++i)
        longCyrillic += "Д";
    for (int i = 0; i < 200; ++i)
        longLatin += "x";
    return {"Привет/",
            "Привет/мир.txt",
            "Привет/ёжик Ёж.txt",
            "Привет/😀 смайл.txt",
            "Україна/",
            "Україна/їжак і ґанок.txt",
            "Україна/Київ.txt",
            "Café/",
            "Café/crème brûlée.txt",
            "Café/naïve façade.txt",
            "日本語/",
            "日本語/テスト ファイル.txt",
            "中文/",
            "中文/文件.txt",
            "emoji 😀/",
            "emoji 😀/🎉 party.txt",
            "with spaces/",
            "with spaces/a b  c.txt",
            "long/",
            "long/" + longCyrillic + ".txt",
            "long/" + longLatin + ".txt",
            "deep/",
            "deep/уровень 1/",
            "deep/уровень 1/уровень 2/",
            "deep/уровень 1/уровень 2/файл.txt",
            "plain.txt",
            "Ελληνικά.txt",
            "Mixed Ёлка 🎄 Tree.txt"};
}

void makeMixedScriptTree(const fs::path& root) {
    int i = 0;
    for (const std::string& name : mixedScriptNames()) {
        const fs::path p = root / "tree" / fs::u8path(name);
        if (name.ends_with('/')) {
            fs::create_directories(p);
        } else {
            std::string data;
            for (int k = 0; k <= i; ++k)
                data += "content " + std::to_string(i) + " " + name + "\n";
            writeFile(p, data);
        }
        ++i;
    }
}

// How many of the tree's names came out below `out` exactly: folders as folders, files
// with the same bytes; `extra` counts names that are not the tree's (garbled ones).
struct Outcome {
    int correct = 0;
    int extra = 0;
};

Outcome compareTrees(const fs::path& source, const fs::path& out) {
    Outcome o;
    for (const std::string& name : mixedScriptNames()) {
        const fs::path p = out / "tree" / fs::u8path(name);
        if (name.ends_with('/') ? fs::is_directory(p)
                                : fs::is_regular_file(p) && readFile(p) == readFile(source / "tree" / fs::u8path(name)))
            ++o.correct;
    }
    const std::vector<std::string> got = treeOf(out / "tree");
    o.extra = int(got.size()) - o.correct;
    return o;
}

struct Tool {
    std::string name;
    std::string programs; // what must be installed; none for kestrane-zip, which runs without the shell
    std::string pack;     // command making ARCHIVE of the folder "tree" in the current folder
    std::string extract;  // command extracting ARCHIVE into DEST
};

bool installed(const Tool& t) { return t.programs.empty() || haveTools(t.programs); }

std::string filled(std::string text, const fs::path& archive, const fs::path& dest = {}) {
    for (auto [key, value] : {std::pair<std::string, fs::path>{"ARCHIVE", archive}, {"DEST", dest}})
        for (std::size_t at; (at = text.find(key)) != std::string::npos;)
            text.replace(at, key.size(), posixShellQuoted(value));
    return text;
}

// Runs a tool's `command` (its pack or extract) in `folder`, ARCHIVE and DEST filled in.
CommandRun runTool(const Tool& t, const fs::path& folder, const std::string& command, const fs::path& archive,
                   const fs::path& dest = {}) {
    if (!t.programs.empty())
        return runIn(folder, filled(command, archive, dest));
    std::vector<std::string> args;
    std::istringstream words(command);
    for (std::string w; words >> w;)
        args.push_back(w == "ARCHIVE" ? archive.string() : w == "DEST" ? dest.string() : w);
    return runZip(folder, args);
}

std::vector<Tool> tools(const fs::path& python) {
    return {
        {"kestrane-zip", "", "create ARCHIVE tree", "extract ARCHIVE DEST"},
        {"Info-ZIP", "zip unzip", "zip -qr ARCHIVE tree", "unzip -q ARCHIVE -d DEST"},
        {"7z", "7z", "7z a -tzip ARCHIVE tree", "7z x ARCHIVE -oDEST"},
        {"Python", "python3", "python3 " + posixShellQuoted(python) + " pack ARCHIVE tree",
         "python3 " + posixShellQuoted(python) + " extract ARCHIVE DEST"},
    };
}

// The raw central file headers of an archive (end record without comment, no zip64).
std::vector<std::string> centralRecords(const fs::path& archive) {
    const std::string b = readFile(archive);
    const auto u16 = [&](std::size_t at) { return std::size_t(std::uint8_t(b[at]) | std::uint8_t(b[at + 1]) << 8); };
    const auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    const std::size_t end = b.size() - 22;
    std::vector<std::string> records;
    for (std::size_t at = u32(end + 16), i = 0; i < u16(end + 10); ++i) {
        const std::size_t length = 46 + u16(at + 28) + u16(at + 30) + u16(at + 32);
        records.push_back(b.substr(at, length));
        at += length;
    }
    return records;
}

} // namespace

TEST(ArchiveInterop, mixedScriptTreeRoundTripsThroughEveryTool) {
    TempFolder tmp;
    makeMixedScriptTree(tmp.path());
    const std::vector<Tool> all = tools(pythonTool(tmp.path()));
    std::map<std::string, fs::path> archives;
    for (const Tool& t : all) {
        if (!installed(t)) {
            std::cout << "skipped: " << t.programs << " is not installed\n";
            continue;
        }
        archives[t.name] = tmp / (t.name + ".zip");
        const CommandRun made = runTool(t, tmp.path(), t.pack, archives[t.name]);
        ASSERT_EQ(made.status, 0) << t.name << ": " << made.out;
    }
    // Python reads names without flag bit 11 as CP437: ours in CP866 are the ones it gets wrong.
    int pythonMisreads = 0;
    if (archives.count("Python")) {
        const CommandRun oem =
            runIn(tmp.path(), "python3 ziptool.py oem " + posixShellQuoted(archives.at("kestrane-zip")));
        pythonMisreads = std::atoi(oem.out.c_str());
        EXPECT_LT(pythonMisreads, 28 / 4) << "a folder and what is in it share one encoding";
    }
    const Tool& ours = all.front();
    for (const Tool& t : all) {
        if (!archives.count(t.name))
            continue;
        // Our archive extracted by each tool, and each tool's archive extracted by us.
        std::vector<std::pair<const Tool*, const Tool*>> runs = {{&ours, &t}};
        if (&t != &ours)
            runs.emplace_back(&t, &ours);
        for (const auto& [creator, extractor] : runs) {
            const fs::path dest = tmp / ("out-" + creator->name + "-" + extractor->name);
            fs::create_directories(dest);
            const CommandRun run =
                runTool(*extractor, tmp.path(), extractor->extract, archives.at(creator->name), dest);
            const Outcome o = compareTrees(tmp.path(), dest);
            std::cout << creator->name << " -> " << extractor->name << ": " << o.correct << "/28 names correct\n";
            const int expected = extractor->name == "Python" ? 28 - pythonMisreads : 28;
            EXPECT_EQ(o.correct, expected) << creator->name << " -> " << extractor->name << "\n" << run.out;
            EXPECT_EQ(o.extra, 28 - expected) << creator->name << " -> " << extractor->name;
        }
    }
}

// ISA-L packs levels 1 to 3, zlib the levels above, and ISA-L inflates them all: an
// archive of every kind, on one thread and on two (blocks deflated apart and joined),
// passes every tool's test and comes back through our extraction byte for byte.
TEST(ArchiveInterop, everyLevelOnOneThreadAndTwoPassesEveryToolsTest) {
    TempFolder tmp;
    // Three blocks of settings lines and noise in turn, a small file and an empty one.
    const char* const words[] = {"server", "port", "login", "skin",  "window",
                                 "volume", "chat", "macro", "guild", "key"};
    std::mt19937 rng(7);
    const auto word = [&] { return std::string(words[rng() % 10]); };
    std::string big;
    for (int i = 0; big.size() < 1300000; ++i)
        big += i % 40 ? word() + "." + word() + "=" + word() + " " + std::to_string(rng() % 100000) + "\r\n"
                      : kestrane::testing::randomBytes(2000, unsigned(i));
    writeFile(tmp / "lv/big.dat", big);
    writeFile(tmp / "lv/small.ini", "[server]\nport=2593\n");
    writeFile(tmp / "lv/empty.txt", "");
    pythonTool(tmp.path());
    std::map<int, std::uintmax_t> sizes; // of the two-thread archives
    for (const int level : {1, 2, 3, 6})
        for (const int threads : {1, 2}) {
            const std::string run = "level " + std::to_string(level) + ", " + std::to_string(threads) + " threads";
            const std::string archive = "l" + std::to_string(level) + "-" + std::to_string(threads) + ".zip";
            const CommandRun made = runZip(tmp.path(), {"create", archive, "lv", "--level", std::to_string(level),
                                                        "--threads", std::to_string(threads)});
            ASSERT_EQ(made.status, 0) << run << "\n" << made.out;
            for (const std::string check : {"unzip -tq ", "7z t ", "python3 ziptool.py test "}) {
                if (!haveTools(check.substr(0, check.find(' '))))
                    continue;
                const CommandRun r = runIn(tmp.path(), check + archive);
                EXPECT_EQ(r.status, 0) << run << ": " << check << "\n" << r.out;
            }
            const fs::path dest = tmp / ("out-" + archive);
            ASSERT_EQ(runZip(tmp.path(), {"extract", archive, dest.string()}).status, 0) << run;
            for (const char* name : {"lv/big.dat", "lv/small.ini", "lv/empty.txt"})
                EXPECT_TRUE(readFile(dest / name) == readFile(tmp / name)) << run << ": " << name;
            sizes[level] = fs::file_size(tmp / archive);
        }
    std::cout << "archive bytes at levels 1, 2, 3, 6: " << sizes[1] << ", " << sizes[2] << ", " << sizes[3] << ", "
              << sizes[6] << "\n";
    // Level 3 (ISA-L's lazy matching) is smaller than 1 and 2 (ISA-L's greedy ones, about
    // alike), and zlib's level 6 smaller still.
    EXPECT_LT(sizes[3], std::min(sizes[1], sizes[2]));
    EXPECT_LT(sizes[6], sizes[3]);
}

TEST(ArchiveInterop, addingToAForeignArchiveKeepsItsEntriesAsTheyWere) {
    TempFolder tmp;
    makeMixedScriptTree(tmp.path());
    writeFile(tmp.path() / fs::u8path("новый.txt"), "added by kestrane-zip");
    // A streamed archive too: its entries carry data descriptors after their data.
    std::vector<Tool> foreign = tools(pythonTool(tmp.path()));
    foreign.push_back({"Info-ZIP streamed", "zip unzip", "zip -qr - tree | cat > ARCHIVE", ""});
    for (const Tool& t : foreign) {
        if (t.name == "kestrane-zip")
            continue;
        if (!installed(t)) {
            std::cout << "skipped: " << t.programs << " is not installed\n";
            continue;
        }
        const fs::path archive = tmp / (t.name + ".zip");
        ASSERT_EQ(runTool(t, tmp.path(), t.pack, archive).status, 0) << t.name;
        const std::vector<std::string> before = centralRecords(archive);
        const CommandRun add = runZip(tmp.path(), {"add", archive.string(), "новый.txt"});
        ASSERT_EQ(add.status, 0) << add.out;
        const std::vector<std::string> after = centralRecords(archive);
        ASSERT_EQ(after.size(), before.size() + 1) << t.name;
        for (std::size_t i = 0; i < before.size(); ++i)
            EXPECT_EQ(after[i], before[i]) << t.name << ": entry " << i << " changed";

        for (const std::string check : {"unzip -tq ARCHIVE", "7z t ARCHIVE", "python3 ziptool.py test ARCHIVE"}) {
            if (!haveTools(check.substr(0, check.find(' '))))
                continue;
            const CommandRun r = runIn(tmp.path(), filled(check, archive));
            EXPECT_EQ(r.status, 0) << t.name << ": " << check << "\n" << r.out;
        }
    }
}

TEST(ArchiveInterop, modesComeBackAsTheyWentNeverSetuid) {
#ifdef _WIN32
    GTEST_SKIP() << "Unix modes: Windows files have none";
#else
    if (!haveTools("unzip zip"))
        GTEST_SKIP() << "skipped: Info-ZIP zip/unzip are not installed";
    TempFolder tmp;
    const std::vector<std::pair<std::string, unsigned>> cases = {{"modes/run.sh", 0755},
                                                                 {"modes/plain.txt", 0644},
                                                                 {"modes/private.key", 0600},
                                                                 {"modes/setuid", 04755},
                                                                 {"modes/private/", 0700}};
    for (const auto& [name, mode] : cases) {
        if (name.ends_with('/'))
            fs::create_directories(tmp / name);
        else
            writeFile(tmp / name, name);
        ASSERT_EQ(::chmod((tmp / name).c_str(), mode), 0);
    }
    ASSERT_EQ(runZip(tmp.path(), {"create", "ours.zip", "modes"}).status, 0);
    ASSERT_EQ(runIn(tmp.path(), "zip -qr infozip.zip modes").status, 0);
    for (const auto& [archive, extract] :
         {std::pair{"ours.zip", posixShellQuoted(kZipTool) + " extract ours.zip ours"},
          std::pair{"ours.zip", std::string("unzip -q ours.zip -d unzip")},
          std::pair{"infozip.zip", posixShellQuoted(kZipTool) + " extract infozip.zip infozip"}}) {
        const CommandRun r = runIn(tmp.path(), extract);
        ASSERT_EQ(r.status, 0) << extract << "\n" << r.out;
        const fs::path dest = tmp / extract.substr(extract.rfind(' ') + 1);
        for (const auto& [name, mode] : cases) {
            struct stat st {};
            ASSERT_EQ(::stat((dest / name).c_str(), &st), 0) << name;
            EXPECT_EQ(st.st_mode & 07777, mode & 0777) << archive << " via " << extract << ": " << name;
        }
    }
#endif
}

TEST(ArchiveInterop, timesSurviveAChangeOfTimeZone) {
    TempFolder tmp;
    writeFile(tmp / "times/a.txt", "a");
    // An odd second: the DOS time cannot hold it, the extended timestamp can.
    const std::time_t moment = 1700000001;
    const auto stamp = std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(moment));
    fs::last_write_time(tmp / "times/a.txt", stamp);
    // Packed by kestrane-zip, or by Info-ZIP through the shell.
    std::vector<std::pair<std::string, std::string>> cases = {{"ours.zip", ""}};
    if (haveTools("zip"))
        cases.push_back({"infozip.zip", "zip -qr infozip.zip times"});
    else
        std::cout << "skipped: zip is not installed\n";
    for (const auto& [archive, pack] : cases) {
        const CommandRun made = pack.empty() ? runZip(tmp.path(), {"create", archive, "times"}, "TZ=EET-2")
                                             : runIn(tmp.path(), pack, "TZ=EET-2");
        ASSERT_EQ(made.status, 0) << archive << "\n" << made.out;
        const fs::path dest = tmp / ("out-" + archive);
        const CommandRun r = runZip(tmp.path(), {"extract", archive, dest.string()}, "TZ=UTC0");
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(fs::last_write_time(dest / "times/a.txt"), stamp) << archive << " made at UTC+2, extracted at UTC";
    }
}

// Zip64 records where every field asks for them, read by every tool; the 4.5 GiB case
// below needs KESTRANE_LARGE_TESTS=1.
TEST(ArchiveInterop, zip64RecordsAreReadByEveryTool) {
    TempFolder tmp;
    writeFile(tmp / "z/a.txt", std::string(100000, 'a'));
    writeFile(tmp / "z/b.txt", "b");
    TZipArchiver zip;
    zip.SetZip64Mode(zmAlways);
    zip.FileName = (tmp / "z64.zip").string();
    zip.BaseDir = tmp.str();
    zip.OpenArchive(kOpenCreate);
    zip.AddFiles((tmp / "z/*.*").string());
    zip.CloseArchive();
    zip.OpenArchive(kOpenRead);
    ASSERT_EQ(zip.directory()->Count(), 2);
    EXPECT_TRUE(zip.directory()->ItemAt(0).hasZip64);
    zip.CloseArchive();
    pythonTool(tmp.path());
    for (const std::string check : {"unzip -tq z64.zip", "7z t z64.zip", "python3 ziptool.py test z64.zip"}) {
        if (!haveTools(check.substr(0, check.find(' '))))
            continue;
        const CommandRun r = runIn(tmp.path(), check);
        EXPECT_EQ(r.status, 0) << check << "\n" << r.out;
    }
    TempFolder out;
    EXPECT_TRUE(extractAll(tmp / "z64.zip", out.path()).empty());
    EXPECT_EQ(readFile(out / "z/a.txt"), std::string(100000, 'a'));
}

TEST(ArchiveInterop, largeFileOf4AndAHalfGiBRoundTrips) {
    if (!std::getenv("KESTRANE_LARGE_TESTS"))
        GTEST_SKIP() << "set KESTRANE_LARGE_TESTS=1 to run (minutes, 5 GiB of disk)";
    TempFolder tmp;
    fs::create_directories(tmp / "big");
    const std::uint64_t size = 4608ull << 20;
    { std::ofstream(tmp / "big/huge.bin"); }
    fs::resize_file(tmp / "big/huge.bin", size); // sparse: zeros
    writeFile(tmp / "big/tail.txt", "after the big one");
    writeFile(tmp / "more.txt", "added past 4 GiB");
    pythonTool(tmp.path());
    // Deflated (zip64 sizes), then stored (zip64 sizes and an offset past 4 GiB, and an add
    // to an archive that already passed 4 GiB).
    for (const std::string level : {"1", "0"}) {
        const std::string archive = "big" + level + ".zip";
        ASSERT_EQ(runZip(tmp.path(), {"create", archive, "big", "--level", level}).status, 0);
        if (level == "0") {
            ASSERT_EQ(runZip(tmp.path(), {"add", archive, "more.txt"}).status, 0);
        }
        for (const std::string check : {"unzip -tq ", "7z t ", "python3 ziptool.py test "}) {
            if (!haveTools(check.substr(0, check.find(' '))))
                continue;
            const CommandRun r = runIn(tmp.path(), check + archive);
            EXPECT_EQ(r.status, 0) << check << archive << "\n" << r.out;
        }
        const fs::path dest = tmp / ("out" + level);
        ASSERT_EQ(runZip(tmp.path(), {"extract", archive, dest.string()}).status, 0);
        EXPECT_EQ(fs::file_size(dest / "big/huge.bin"), size);
        EXPECT_EQ(readFile(dest / "big/tail.txt"), "after the big one");
        fs::remove_all(dest);
        fs::remove(tmp / archive);
    }
}
