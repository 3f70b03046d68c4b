// Loads an archive's central directory and looks up every entry by name, once per
// run; prints the entry count. bench/directory-load times it against unzip and Python.
//   bench_directory_load ARCHIVE
#include "archiver/central_directory.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: bench_directory_load ARCHIVE\n", stderr);
        return 2;
    }
    try {
        platform::File f = platform::File::openRead(argv[1]);
        archiver::TZADirManager manager(&f, false);
        manager.LoadCentralDirectory();
        const archiver::TZADirArray& dir = manager.currentDir();
        int found = 0;
        for (int i = 0; i < dir.Count(); ++i)
            found += dir.FindByName(dir.ItemAt(i).name) == i;
        std::printf("%d entries, %d found by name\n", dir.Count(), found);
        std::fflush(stdout);
        // Loading is what is timed; an open archive keeps its directory until it is
        // closed, so the teardown is left to the end of the process.
        std::_Exit(found == dir.Count() ? 0 : 1);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
