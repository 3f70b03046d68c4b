// The directory loader against archives made at test time by tools we did not write:
// Info-ZIP zip, 7-Zip and Python's zipfile. Python's zipfile is the reference listing.
#include "archiver/central_directory.h"
#include "archiver/za_exception.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace archiver;
namespace fs = std::filesystem;
using kestrane::testing::CommandRun;
using kestrane::testing::readFile;
using kestrane::testing::runPosixShell;
using kestrane::testing::runProgram;
using kestrane::testing::writeFile;

namespace {

// One line per entry: name, uncompressed size, compressed size, CRC-32, local header offset.
// Names without flag bit 11 are read as CP866, as the archiver reads them.
const char* const kPythonListing = R"PY(
import sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    name = i.filename if i.flag_bits & 0x800 else i.filename.encode('cp437').decode('cp866')
    if i.is_dir() and not name.endswith('/'): name += '/'
    print('%s\t%d\t%d\t%08x\t%d' % (name, i.file_size, i.compress_size, i.CRC, i.header_offset))
)PY";

class DirectoryInterop : public ::testing::Test {
protected:
    void SetUp() override {
        if (!kestrane::testing::posixShellAvailable())
            GTEST_SKIP() << kestrane::testing::noPosixShellReason();
        ASSERT_FALSE(m_dir.empty());
        writeFile(m_dir / "src/a.txt", std::string(3000, 'a') + "tail");
        std::string binary;
        for (int i = 0; i < 5000; ++i)
            binary += char((i * 7919) % 251);
        writeFile(m_dir / "src/sub/b.bin", binary);
        writeFile(m_dir / "src/sub/empty", "");
        fs::create_directories(m_dir / "src/sub/folder");
        writeFile(m_dir / "listing.py", kPythonListing);
    }

    std::string sh(const std::string& command) {
        CommandRun r = runPosixShell("cd " + kestrane::testing::posixShellQuoted(m_dir) + " && " + command + " 2>&1");
        EXPECT_EQ(r.status, 0) << command << "\n" << r.out;
        return r.out;
    }

    std::string pythonListing(const std::string& archive) { return sh("python3 listing.py " + archive); }

    std::string ourListing(const std::string& archive, bool* rebuilt = nullptr) {
        platform::File f = platform::File::openRead(m_dir / archive);
        TZADirManager m(&f, false);
        m.LoadCentralDirectory();
        if (rebuilt)
            *rebuilt = m.rebuilt();
        std::ostringstream out;
        const TZADirArray& dir = m.currentDir();
        for (int i = 0; i < dir.Count(); ++i) {
            const TDirItem& item = dir.ItemAt(i);
            char line[128];
            std::snprintf(line, sizeof line, "\t%llu\t%llu\t%08x\t%llu\n",
                          static_cast<unsigned long long>(item.uncompressedSize64()),
                          static_cast<unsigned long long>(item.compressedSize64()), unsigned(item.crc32),
                          static_cast<unsigned long long>(item.localHeaderOffset64()));
            out << item.name << line;
            EXPECT_EQ(dir.FindByName(item.name), i);
        }
        return out.str();
    }

    void expectSameAsPython(const std::string& archive) {
        bool rebuilt = true;
        const std::string ours = ourListing(archive, &rebuilt);
        EXPECT_FALSE(rebuilt) << archive;
        EXPECT_EQ(ours, pythonListing(archive)) << archive;
        EXPECT_FALSE(ours.empty());
    }

    kestrane::testing::TempFolder m_temp{"kestrane-dir"};
    const fs::path m_dir = m_temp.path();
};

} // namespace

TEST_F(DirectoryInterop, infoZipArchivesLoadAsPythonListsThem) {
    sh("cd src && zip -qr ../deflated.zip . && zip -qr0 ../stored.zip . && zip -qr -fz ../zip64.zip .");
    expectSameAsPython("deflated.zip");
    expectSameAsPython("stored.zip");
    expectSameAsPython("zip64.zip");
}

TEST_F(DirectoryInterop, streamedArchivesWithDataDescriptorsLoadAndRebuild) {
    // Output to a pipe: zip cannot seek back, so sizes follow the data in descriptors.
    sh("cat src/a.txt | zip -q - - | cat > stdin.zip");
    sh("cd src && zip -q - a.txt sub/b.bin | cat > ../streamed.zip");
    expectSameAsPython("stdin.zip");
    expectSameAsPython("streamed.zip");
    for (std::string name : {"stdin.zip", "streamed.zip"}) {
        // Without the directory the descriptors give the sizes and CRCs back.
        std::string bytes = readFile(m_dir / name);
        writeFile(m_dir / ("cut-" + name), bytes.substr(0, bytes.find("PK\x01\x02")));
        bool rebuilt = false;
        EXPECT_EQ(ourListing("cut-" + name, &rebuilt), pythonListing(name)) << name;
        EXPECT_TRUE(rebuilt);
    }
}

TEST_F(DirectoryInterop, sevenZipAndPythonArchivesLoad) {
    sh("cd src && 7z a -tzip -bd ../seven.zip . > /dev/null");
    expectSameAsPython("seven.zip");
    sh("python3 -c \"import zipfile; z = zipfile.ZipFile('py.zip', 'w', zipfile.ZIP_DEFLATED); "
       "z.writestr('Сервер/файл.txt', 'x' * 100); z.writestr('日本.txt', 'y'); z.writestr('plain', ''); z.close()\"");
    expectSameAsPython("py.zip");
    EXPECT_NE(ourListing("py.zip").find("Сервер/файл.txt\t100\t"), std::string::npos);
}

TEST_F(DirectoryInterop, cp866NamesWithoutFlagReadAsCyrillic) {
    // Python writes an ASCII placeholder of the same length, then the bytes become CP866.
    sh("python3 -c \"import zipfile; z = zipfile.ZipFile('oem.zip', 'w'); z.writestr('XXXXXX/QQQQ.txt', 'data'); "
       "z.close(); d = open('oem.zip', 'rb').read(); "
       "d = d.replace(b'XXXXXX', 'Привет'.encode('cp866')).replace(b'QQQQ', 'Ёжик'.encode('cp866')); "
       "open('oem.zip', 'wb').write(d)\"");
    expectSameAsPython("oem.zip");
    EXPECT_EQ(ourListing("oem.zip").substr(0, std::string("Привет/Ёжик.txt\t").size()), "Привет/Ёжик.txt\t");
}

TEST_F(DirectoryInterop, prependedDataShiftsOffsetsToTheEntries) {
    sh("cd src && zip -qr ../plain.zip . && zip -qr -fz ../plain64.zip .");
    sh("head -c 777 /dev/urandom | tr -d 'P' > prefix && cat prefix plain.zip > prefixed.zip && "
       "cat prefix plain64.zip > prefixed64.zip");
    const auto prefixSize = fs::file_size(m_dir / "prefix");
    expectSameAsPython("prefixed.zip");
    expectSameAsPython("prefixed64.zip");

    platform::File f = platform::File::openRead(m_dir / "prefixed.zip");
    TZADirManager m(&f, false);
    m.LoadCentralDirectory();
    EXPECT_EQ(m.prefixLength(), prefixSize);
    EXPECT_EQ(m.currentDir().ItemAt(0).localHeaderOffset64(), prefixSize);
    // Folder entries move with the rest: each offset points at a local header.
    for (int i = 0; i < m.currentDir().Count(); ++i) {
        char sig[4];
        f.readAt(m.currentDir().ItemAt(i).localHeaderOffset64(), sig, 4);
        EXPECT_EQ(std::string(sig, 4), "PK\x03\x04") << m.currentDir().ItemAt(i).name;
    }
}

TEST_F(DirectoryInterop, truncatedDirectoryIsRebuiltFromLocalHeaders) {
    sh("cd src && zip -qr ../whole.zip .");
    const std::string bytes = readFile(m_dir / "whole.zip");
    writeFile(m_dir / "cut.zip", bytes.substr(0, bytes.find("PK\x01\x02") + 30));
    bool rebuilt = false;
    const std::string ours = ourListing("cut.zip", &rebuilt);
    EXPECT_TRUE(rebuilt);
    EXPECT_EQ(ours, pythonListing("whole.zip"));
}

TEST_F(DirectoryInterop, rebuildSkipsHeadersInsideStoredEntryData) {
    // A stored archive inside a stored archive: its local headers lie in the outer
    // entry's data and are not entries of the outer archive, whether the outer local
    // header gives the size or (streamed through a pipe) a data descriptor after the data
    // ends the entry.
    sh("cd src && zip -qr0 ../inner.zip . && cd .. && zip -q0 outer.zip inner.zip src/a.txt && "
       "zip -q0 - inner.zip src/a.txt | cat > streamed.zip");
    for (const std::string name : {"outer.zip", "streamed.zip"}) {
        const std::string bytes = readFile(m_dir / name);
        // The outer directory starts at the first central header after the last local
        // entry (the inner archive does not hold the name "src/a.txt").
        bool rebuilt = false;
        writeFile(m_dir / ("cut-" + name), bytes.substr(0, bytes.find("PK\x01\x02", bytes.find("src/a.txt"))));
        EXPECT_EQ(ourListing("cut-" + name, &rebuilt), pythonListing(name)) << name;
        EXPECT_TRUE(rebuilt) << name;
    }
}

TEST_F(DirectoryInterop, fileWithoutZipStructureIsError35) {
    writeFile(m_dir / "text.zip", "just some text, no records");
    try {
        ourListing("text.zip");
        FAIL() << "no error";
    } catch (const EZAException& e) {
        EXPECT_EQ(e.NativeError(), 35);
    }
}

TEST_F(DirectoryInterop, listCommandPrintsOneLinePerEntry) {
    const std::string tool = KESTRANE_ZIP_TOOL;
    sh("cd src && zip -qr ../l.zip a.txt sub/b.bin");
    CommandRun r = runProgram(tool, {"list", (m_dir / "l.zip").string()});
    EXPECT_EQ(r.status, 0);
    std::istringstream lines(r.out);
    std::string line;
    std::vector<std::string> names;
    while (std::getline(lines, line)) {
        if (line.ends_with('\r'))
            line.pop_back(); // Windows ends printed lines with CR LF
        std::vector<std::string> fields;
        std::istringstream f(line);
        std::string field;
        while (std::getline(f, field, '\t'))
            fields.push_back(field);
        ASSERT_EQ(fields.size(), 7u) << line;
        names.push_back(fields[0]);
        EXPECT_EQ(fields[4].size(), 8u);  // CRC-32 in 8 hex digits
        EXPECT_EQ(fields[6].size(), 19u); // YYYY-MM-DD hh:mm:ss
        if (fields[0] == "a.txt") {
            EXPECT_EQ(fields[1], "3004");
            EXPECT_EQ(fields[3], "8");
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "sub/b.bin"}));

    CommandRun missing = runProgram(tool, {"list", (m_dir / "none.zip").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("Native error: 00012"), std::string::npos);
    EXPECT_EQ(runProgram(tool, {}).status, 2);
    EXPECT_EQ(runProgram(tool, {"list"}).status, 2);
}
