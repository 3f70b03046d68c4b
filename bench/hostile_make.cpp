// Writes one hostile archive of the generator the tests use (tests/archiver/hostile_inputs.h);
// bench/hostile measures what reading it costs.
//   bench_hostile_make KIND BYTES FILE      (KIND: local-headers-only, many-entries, ...)
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "tests/archiver/hostile_inputs.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: bench_hostile_make KIND BYTES FILE\n", stderr);
        return 2;
    }
    for (const hostile::KindName& k : hostile::kKinds) {
        if (std::string_view(argv[1]) != k.name)
            continue;
        const auto bytes = hostile::make(k.kind, std::size_t(std::strtoull(argv[2], nullptr, 10)));
        FILE* f = std::fopen(argv[3], "wb");
        if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
            std::perror(argv[3]);
            return 1;
        }
        return 0;
    }
    std::fprintf(stderr, "bench_hostile_make: unknown kind %s\n", argv[1]);
    return 2;
}
