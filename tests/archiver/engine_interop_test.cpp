// Interop of the archiver engine with tools we did not write: what we create passes
// unzip -t, 7z t and Python's zipfile with the names, sizes and CRCs of the source tree;
// what zip, 7z and Python's zipfile create extracts with ours to the same bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <sstream>

#include <zlib.h>

#include "archiver/zip_archiver.h"
#include "archiver_test_support.h"
#include "tests/support/run_command.h"

using namespace archiver;
using namespace enginetest;
using kestrane::testing::CommandRun;
using kestrane::testing::haveTools;
using kestrane::testing::posixShellQuoted;
using kestrane::testing::runPosixShell;
using kestrane::testing::runProgram;

namespace {

// Runs a shell command line, stdout and stderr together.
CommandRun run(const std::string& command) { return runPosixShell(command + " 2>&1"); }

// A profile-like tree: text, binary, empty files and folders, hidden files, a Cyrillic name.
void makeTree(const fs::path& root, bool cyrillicName = true) {
    std::mt19937 rng(42);
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "key" + std::to_string(i % 97) + "=value " + std::to_string(rng() % 1000) + "\n";
    std::string noise(300000, '\0');
    for (char& c : noise)
        c = char(rng());
    writeFile(root / "prof/options.ini", text);
    writeFile(root / "prof/data/noise.bin", noise);
    writeFile(root / "prof/data/exact.bin", std::string(524288, 'x'));
    writeFile(root / "prof/data/exact1.bin", std::string(524289, 'y'));
    writeFile(root / "prof/.hidden", "h");
    writeFile(root / "prof/empty.dat", "");
    if (cyrillicName)
        writeFile(root / "prof/\xd0\xbf\xd1\x80\xd0\xbe\xd1\x84\xd0\xb8\xd0\xbb\xd1\x8c.txt", "cyrillic name");
    fs::create_directories(root / "prof/empty folder/deeper");
}

// Names without flag bit 11 are in the OEM code page, CP866; Python reads them as CP437,
// so they are turned back into bytes and read as CP866 before comparing.
// name -> (size, crc) of every file below root/top, names as "top/...".
std::map<std::string, std::pair<std::uint64_t, std::uint32_t>> expectedEntries(const fs::path& root,
                                                                               const std::string& top) {
    std::map<std::string, std::pair<std::uint64_t, std::uint32_t>> m;
    for (auto& e : fs::recursive_directory_iterator(root / top)) {
        std::string name = top + "/" + fs::relative(e.path(), root / top).generic_string();
        if (e.is_directory()) {
            m[name + "/"] = {0, 0};
            continue;
        }
        const std::string data = readFile(e.path());
        m[name] = {data.size(),
                   std::uint32_t(::crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())))};
    }
    return m;
}

std::map<std::string, std::pair<std::uint64_t, std::uint32_t>> pythonEntries(const fs::path& archive) {
    const CommandRun r = run(
        "python3 -c \"import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1])\nassert z.testzip() is None\n"
        "for i in z.infolist():\n n=i.filename if i.flag_bits&0x800 else i.filename.encode('cp437').decode('cp866')\n"
        " print(n.encode('utf-8').hex(), i.file_size, i.CRC)\" " +
        posixShellQuoted(archive));
    EXPECT_EQ(r.status, 0) << r.out;
    std::map<std::string, std::pair<std::uint64_t, std::uint32_t>> m;
    std::istringstream in(r.out);
    std::string hex;
    std::uint64_t size;
    std::uint32_t crc;
    while (in >> hex >> size >> crc) {
        std::string name;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            name += char(std::stoi(hex.substr(i, 2), nullptr, 16));
        m[name] = {size, crc};
    }
    return m;
}

// "name native-error" of every entry that fails to extract.
std::vector<std::string> failuresExtracting(const fs::path& archive, const fs::path& dest) {
    std::vector<std::string> failed;
    for (const Failure& f : extractAll(archive, dest))
        failed.push_back(f.name + " " + std::to_string(f.nativeError));
    return failed;
}

// Same files with the same bytes, and the same folders.
void expectSameTree(const fs::path& a, const fs::path& b) {
    EXPECT_EQ(treeOf(a), treeOf(b));
    for (const std::string& name : treeOf(a))
        if (!name.ends_with('/')) {
            EXPECT_EQ(readFile(a / name), readFile(b / name)) << name;
        }
}

} // namespace

TEST(EngineInterop, createdArchivePassesUnzip7zAndPython) {
    if (!haveTools("unzip 7z python3"))
        GTEST_SKIP() << "interop tools missing";
    TempFolder tmp;
    makeTree(tmp.path());
    const fs::path archive = tmp / "prof.zip";
    pack(archive, tmp.path(), "prof");

    const CommandRun unzip = run("unzip -t " + posixShellQuoted(archive));
    EXPECT_EQ(unzip.status, 0) << unzip.out;
    EXPECT_NE(unzip.out.find("No errors detected"), std::string::npos) << unzip.out;
    const CommandRun sevenZip = run("7z t " + posixShellQuoted(archive));
    EXPECT_EQ(sevenZip.status, 0) << sevenZip.out;
    EXPECT_NE(sevenZip.out.find("Everything is Ok"), std::string::npos) << sevenZip.out;
    EXPECT_EQ(pythonEntries(archive), expectedEntries(tmp.path(), "prof"));

    // And our own extraction gives the tree back.
    TempFolder out;
    EXPECT_TRUE(failuresExtracting(archive, out.path()).empty());
    expectSameTree(tmp / "prof", out / "prof");
}

TEST(EngineInterop, archivesOfOtherToolsExtractToTheSameBytes) {
    if (!haveTools("zip 7z python3"))
        GTEST_SKIP() << "interop tools missing";
    TempFolder tmp;
    // TODO: Info-ZIP on Unix stores UTF-8 names without flag bit 11 (host byte 3); the
    // name reader takes such names as CP866, so this tree keeps its names ASCII.
    makeTree(tmp.path(), false);
    const std::string cd = "cd " + posixShellQuoted(tmp.path()) + " && ";
    const std::map<std::string, std::string> makers = {
        {"zip-deflate.zip", "zip -q -r zip-deflate.zip prof"},
        {"zip-stored.zip", "zip -q -0 -r zip-stored.zip prof"},
        {"zip-streamed.zip", "zip -q -r - prof | cat > zip-streamed.zip"},
        {"7z-deflate.zip", "7z a -bd -tzip 7z-deflate.zip prof >/dev/null"},
        {"7z-stored.zip", "7z a -bd -tzip -mx=0 7z-stored.zip prof >/dev/null"},
        {"py-deflate.zip", "python3 -c \"import shutil; shutil.make_archive('py-deflate', 'zip', '.', 'prof')\""},
        {"py-streamed-zip64.zip",
         "python3 -c \"import os,zipfile\nclass S:\n def __init__(s,f): s.f=f\n def write(s,b): return s.f.write(b)\n"
         " def flush(s): s.f.flush()\nout=S(open('py-streamed-zip64.zip','wb'))\n"
         "with zipfile.ZipFile(out,'w',zipfile.ZIP_DEFLATED) as z:\n"
         " for r,ds,fs in os.walk('prof'):\n"
         "  for d in ds: z.mkdir(os.path.join(r,d)) if hasattr(z,'mkdir') else z.writestr(os.path.join(r,d)+'/','')\n"
         "  for f in fs:\n"
         "   with open(os.path.join(r,f),'rb') as src, z.open(os.path.join(r,f),'w',force_zip64=True) as dst: "
         "dst.write(src.read())\""},
        {"prepended.zip", "head -c 5000 /dev/urandom > prepended.zip && cat zip-deflate.zip >> prepended.zip"},
        {"prepended-adjusted.zip", "cp prepended.zip prepended-adjusted.zip && zip -q -A prepended-adjusted.zip"},
    };
    // Order matters for the two prepended archives, which start from zip-deflate.zip.
    for (const char* name : {"zip-deflate.zip", "zip-stored.zip", "zip-streamed.zip", "7z-deflate.zip", "7z-stored.zip",
                             "py-deflate.zip", "py-streamed-zip64.zip", "prepended.zip", "prepended-adjusted.zip"}) {
        const CommandRun made = run(cd + makers.at(name));
        ASSERT_EQ(made.status, 0) << name << ": " << made.out;
        TempFolder out;
        const auto failed = failuresExtracting(tmp / name, out.path());
        EXPECT_TRUE(failed.empty()) << name << ": " << (failed.empty() ? "" : failed[0]);
        SCOPED_TRACE(name);
        expectSameTree(tmp / "prof", out / "prof");
    }
}

TEST(EngineInterop, bzip2EntriesFailAloneAndTheRestExtracts) {
    if (!haveTools("zip"))
        GTEST_SKIP() << "zip missing";
    TempFolder tmp;
    writeFile(tmp / "p/packed.txt", std::string(20000, 'b'));
    writeFile(tmp / "p/plain.txt", std::string(20000, 'p'));
    const std::string cd = "cd " + posixShellQuoted(tmp.path()) + " && ";
    const CommandRun made = run(cd + "zip -q -Z bzip2 mixed.zip p/packed.txt && zip -q mixed.zip p/plain.txt");
    if (made.status != 0)
        GTEST_SKIP() << "zip without bzip2: " << made.out;
    TempFolder out;
    const auto failed = failuresExtracting(tmp / "mixed.zip", out.path());
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0], "p/packed.txt 8");
    EXPECT_FALSE(fs::exists(out / "p/packed.txt"));
    EXPECT_EQ(readFile(out / "p/plain.txt"), std::string(20000, 'p'));
    EXPECT_EQ(testArchive((tmp / "mixed.zip").string()), "p/packed.txt");
}

#ifdef KESTRANE_ZIP_TOOL
TEST(EngineInterop, commandLineCreateTestAndExtractReportFailuresPerEntry) {
    if (!haveTools("unzip"))
        GTEST_SKIP() << "unzip missing";
    TempFolder tmp;
    makeTree(tmp.path());
    const auto zipTool = [&](const std::vector<std::string>& args) {
        return runProgram(KESTRANE_ZIP_TOOL, args, tmp.path());
    };
    CommandRun r = zipTool({"create", "made.zip", "prof", "--level", "6"});
    ASSERT_EQ(r.status, 0) << r.out;
    r = run("unzip -t " + posixShellQuoted(tmp / "made.zip"));
    EXPECT_EQ(r.status, 0) << r.out;
    r = zipTool({"test", "made.zip"});
    EXPECT_EQ(r.status, 0) << r.out;

    writeStoredZip(tmp / "bad.zip", {{"../up.txt", "1"}, {"ok.txt", "2"}, {"/abs.txt", "3"}});
    r = zipTool({"extract", "bad.zip", "out"});
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
    EXPECT_EQ(readFile(tmp / "out/ok.txt"), "2");
    EXPECT_FALSE(fs::exists(tmp / "up.txt"));
}
#endif

TEST(EngineInterop, commandLineSaysWhatHappenedOnEveryLine) {
    TempFolder tmp;
    writeFile(tmp / "d/a.txt", std::string(3000, 'a'));
    // A name with a control character, shown escaped; Windows allows none in a file name.
#ifdef _WIN32
    const std::pair<std::string, std::string> odd = {"b.txt", "d/b.txt\t"};
#else
    const std::pair<std::string, std::string> odd = {"tab\tname", "d/tab\\tname\t"};
#endif
    writeFile(tmp / "d" / odd.first, "t");
    fs::create_directories(tmp / "adir");
    struct Case {
        std::vector<std::string> args; // of kestrane-zip, run in TMP
        int status;
        std::string output; // a part of what it prints
    };
    const std::vector<Case> cases = {
        {{"create", "x.zip", "no_such_file"}, 1, "no_such_file: nothing matched"},
        {{"create", "adir", "d"}, 1, "\"adir\": it is a folder, not an archive"},
        {{"create", "d/self.zip", "d"}, 0, ""},
        {{"add", "d/self.zip", "d/"}, 0, ""}, // the archive in the folder it takes is left out
        {{"list", "d/self.zip"}, 0, odd.second},
        {{"extract", "d/self.zip", "out", "nomatch*"}, 1, "nomatch*: nothing matched"},
        {{"test", "cut.zip"}, 1, "cut.zip: the central directory was missing or damaged and was rebuilt"},
    };
    for (const Case& c : cases) {
        const std::string command = c.args[0] + " " + c.args[1];
        if (c.args[1] == "cut.zip")
            writeFile(tmp / "cut.zip", readFile(tmp / "d/self.zip").substr(0, 100));
        const CommandRun r = runProgram(KESTRANE_ZIP_TOOL, c.args, tmp.path());
        EXPECT_EQ(r.status, c.status) << command << "\n" << r.out;
        EXPECT_NE(r.out.find(c.output), std::string::npos) << command << "\n" << r.out;
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);) {
            if (c.args[0] != "list") {
                EXPECT_TRUE(line.starts_with("kestrane-zip: ")) << line;
            }
        }
    }
    EXPECT_FALSE(fs::exists(tmp / "x.zip")) << "nothing matched: no archive made";
    TZipArchiver zip;
    zip.OpenArchive((tmp / "d/self.zip").string(), kOpenRead);
    EXPECT_EQ(zip.directory()->Count(), 2) << "never the archive itself";
    zip.CloseArchive();
}
