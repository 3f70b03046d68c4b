// Scratch files for tests: a fresh temporary folder removed afterwards, and whole files
// written and read in one call.
#pragma once

#ifndef _WIN32
#include <stdlib.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>

namespace kestrane::testing {

// A new folder below the system's temporary folder, named prefix-XXXXXX. It goes with
// everything in it when the object goes, read-only files and folders a test made included.
class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "kestrane-test") {
#ifndef _WIN32
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) != nullptr)
            m_path = pattern;
#else
        // Windows has no mkdtemp: a name nobody has yet, which create_directory answers
        // false for when it exists.
        static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        std::random_device random;
        std::uniform_int_distribution<int> pick(0, int(sizeof kLetters) - 2);
        for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
            std::string name = prefix + "-";
            for (int i = 0; i < 6; ++i)
                name += kLetters[pick(random)];
            const auto p = std::filesystem::temp_directory_path() / name;
            std::error_code ec;
            if (std::filesystem::create_directory(p, ec))
                m_path = p;
            else if (ec && ec != std::errc::file_exists)
                break;
        }
#endif
    }
    ~TempFolder() {
        namespace fs = std::filesystem;
        if (m_path.empty())
            return;
        std::error_code ec;
        fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
        // Each folder is opened up before the walk enters it; links are not followed.
        for (fs::recursive_directory_iterator it(m_path, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code ignored;
            if (!it->is_symlink(ignored))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
        fs::remove_all(m_path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Empty when the folder could not be made.
    const std::filesystem::path& path() const { return m_path; }
    std::string str() const { return m_path.string(); }
    std::filesystem::path operator/(const std::string& s) const { return m_path / s; }

private:
    std::filesystem::path m_path;
};

// Paths written as UTF-8 text, as the program writes them: a std::filesystem::path made
// from a std::string would read it in the ANSI code page on Windows.
inline std::filesystem::path u8path(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
// A path as UTF-8 text with '/' between its names (what a player may type on Windows too).
inline std::string u8text(const std::filesystem::path& p) {
    const std::u8string generic = p.generic_u8string();
    return std::string(generic.begin(), generic.end());
}

// Writes the bytes as the whole file, making the folders above it first.
inline void writeFile(const std::filesystem::path& p, const std::string& bytes) {
    if (p.has_parent_path())
        std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}
inline void writeFile(const std::string& p, const std::string& bytes) { writeFile(u8path(p), bytes); }
inline void writeFile(const char* p, const std::string& bytes) { writeFile(u8path(p), bytes); }

// The whole file's bytes; empty when it cannot be read.
inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline std::string readFile(const std::string& p) { return readFile(u8path(p)); }
inline std::string readFile(const char* p) { return readFile(u8path(p)); }

// Sets the permission bits of a file or folder as chmod does (on Windows only the write
// bits count: without them the file or folder gets the read-only attribute).
inline void setMode(const std::filesystem::path& p, unsigned mode) {
    std::filesystem::permissions(p, std::filesystem::perms(mode));
}

// Bytes that deflate cannot shrink, the same for the same seed.
inline std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937_64 random(seed);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t v = random();
        std::memcpy(&bytes[i], &v, std::min<std::size_t>(8, size - i));
    }
    return bytes;
}

} // namespace kestrane::testing
