// The ceiling the archive benchmark compares against: plain zlib without any archive
// work. "deflate LIST OUT" packs the files named in LIST (one path a line) into OUT as
// raw deflate streams at level 1, read in 512 KiB blocks; "inflate IN DEST" writes them
// back below DEST. OUT is a bare sequence of records: name length (u32), name, original
// length (u64), compressed length (u64), data.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kBlock = 524288;

void put64(std::FILE* f, std::uint64_t v) { std::fwrite(&v, 8, 1, f); }

int deflateFiles(const char* list, const char* outPath) {
    std::ifstream names(list);
    std::FILE* out = std::fopen(outPath, "wb");
    if (!out)
        return 1;
    std::vector<unsigned char> in(kBlock), buf(deflateBound(nullptr, kBlock) + 64);
    std::string name;
    while (std::getline(names, name)) {
        std::FILE* f = std::fopen(name.c_str(), "rb");
        if (!f)
            continue;
        const std::uint64_t size = std::filesystem::file_size(name);
        const std::uint32_t n = std::uint32_t(name.size());
        std::fwrite(&n, 4, 1, out);
        std::fwrite(name.data(), 1, n, out);
        put64(out, size);
        const long lenPos = std::ftell(out);
        put64(out, 0);
        z_stream s{};
        deflateInit2(&s, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
        std::uint64_t done = 0, packed = 0;
        int flush = Z_NO_FLUSH;
        do {
            const std::size_t got = std::fread(in.data(), 1, kBlock, f);
            done += got;
            flush = done >= size || got == 0 ? Z_FINISH : Z_NO_FLUSH;
            s.next_in = in.data();
            s.avail_in = uInt(got);
            do {
                s.next_out = buf.data();
                s.avail_out = uInt(buf.size());
                deflate(&s, flush);
                const std::size_t produced = buf.size() - s.avail_out;
                std::fwrite(buf.data(), 1, produced, out);
                packed += produced;
            } while (s.avail_out == 0);
        } while (flush != Z_FINISH);
        deflateEnd(&s);
        std::fclose(f);
        const long end = std::ftell(out);
        std::fseek(out, lenPos, SEEK_SET);
        put64(out, packed);
        std::fseek(out, end, SEEK_SET);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}

int inflateFiles(const char* inPath, const char* dest) {
    std::FILE* in = std::fopen(inPath, "rb");
    if (!in)
        return 1;
    std::vector<unsigned char> src(1 << 20), buf(1 << 20);
    std::uint32_t n = 0;
    while (std::fread(&n, 4, 1, in) == 1) {
        std::string name(n, '\0');
        std::uint64_t size = 0, packed = 0;
        if (std::fread(name.data(), 1, n, in) != n || std::fread(&size, 8, 1, in) != 1 ||
            std::fread(&packed, 8, 1, in) != 1)
            return 1;
        const std::filesystem::path target = std::filesystem::path(dest) / name;
        std::filesystem::create_directories(target.parent_path());
        std::FILE* out = std::fopen(target.c_str(), "wb");
        if (!out)
            return 1;
        z_stream s{};
        inflateInit2(&s, -MAX_WBITS);
        while (packed > 0) {
            const std::size_t want = std::size_t(std::min<std::uint64_t>(packed, src.size()));
            const std::size_t got = std::fread(src.data(), 1, want, in);
            if (got == 0)
                return 1;
            packed -= got;
            s.next_in = src.data();
            s.avail_in = uInt(got);
            do {
                s.next_out = buf.data();
                s.avail_out = uInt(buf.size());
                const int rc = inflate(&s, Z_NO_FLUSH);
                if (rc < 0 && rc != Z_BUF_ERROR)
                    return 1;
                std::fwrite(buf.data(), 1, buf.size() - s.avail_out, out);
            } while (s.avail_out == 0);
        }
        inflateEnd(&s);
        std::fclose(out);
    }
    std::fclose(in);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "deflate") == 0)
        return deflateFiles(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "inflate") == 0)
        return inflateFiles(argv[2], argv[3]);
    std::fputs("usage: zlib_ceiling deflate LIST OUT | inflate IN DEST\n", stderr);
    return 2;
}
