#include "archiver/zip_commands.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "archiver/za_exception.h"
#include "archiver/zip_archiver.h"
#include "platform/file_system.h"

namespace archiver {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct CommandLine {
    std::vector<std::string> positional;
    std::string base;
    std::optional<int> level;
    TZAAction onFailure = fxaIgnore;
    std::string error;  // non-empty: a usage error
};

CommandLine parse(ZipCommandArgs args, bool withBaseAndLevel) {
    CommandLine cl;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--on-failure" && hasValue) {
            const std::string v = args[++i];
            if (v == "abort") cl.onFailure = fxaAbort;
            else if (v == "ignore") cl.onFailure = fxaIgnore;
            else cl.error = "--on-failure takes abort or ignore";
        } else if (withBaseAndLevel && a == "--base" && hasValue) {
            cl.base = args[++i];
        } else if (withBaseAndLevel && a == "--level" && hasValue) {
            const std::string v = args[++i];
            if (v.size() != 1 || v[0] < '0' || v[0] > '9') cl.error = "--level takes 0 to 9";
            else cl.level = v[0] - '0';
        } else if (a.starts_with("--")) {
            cl.error = "unknown option " + a;
        } else {
            cl.positional.push_back(a);
        }
    }
    return cl;
}

int usage(const std::string& message, const char* synopsis) {
    std::fprintf(stderr, "kestrane-zip: %s\nusage: kestrane-zip %s\n", message.c_str(), synopsis);
    return kExitUsage;
}

bool interactive() { return ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO); }

// Prints every failed entry and asks (terminal) or answers with the --on-failure choice.
void installDecision(TZipArchiver& zip, TZAAction fallback, int& failures) {
    zip.OnProcessFileFailure = [fallback, &failures](const std::string& name, TZAProcessOperation, int, int,
                                                     const std::string& message, TZAAction& action) {
        std::fprintf(stderr, "kestrane-zip: %s: %s\n", name.c_str(), message.c_str());
        action = fallback;
        if (interactive()) {
            for (;;) {
                std::fputs("Abort, Retry or Ignore? [a/r/i] ", stderr);
                std::string answer;
                if (!std::getline(std::cin, answer)) break;
                if (answer == "a") { action = fxaAbort; break; }
                if (answer == "r") { action = fxaRetry; break; }
                if (answer == "i") { action = fxaIgnore; break; }
            }
        }
        if (action != fxaRetry) ++failures;
    };
    zip.Prompts.askOverwrite = [](const std::string& question) {
        if (!interactive()) return TZAOverwriteAnswer::No;
        std::fprintf(stderr, "%s? [y/n/N(o to all)/A(ll)] ", question.c_str());
        std::string answer;
        if (!std::getline(std::cin, answer)) return TZAOverwriteAnswer::Closed;
        if (answer == "y") return TZAOverwriteAnswer::Yes;
        if (answer == "A") return TZAOverwriteAnswer::YesToAll;
        if (answer == "N") return TZAOverwriteAnswer::NoToAll;
        return TZAOverwriteAnswer::No;
    };
}

// A folder given as a mask stands for everything in it.
std::string maskFor(const std::string& arg) {
    if (arg.find_first_of("*?") == std::string::npos && platform::folderExists(platform::toPath(arg))) {
        std::string m = arg;
        if (m.back() != '/' && m.back() != '\\') m += '/';
        return m + "*.*";
    }
    return arg;
}

int pack(ZipCommandArgs args, bool create) {
    const char* synopsis = create ? "create ARCHIVE MASK... [--base DIR] [--level 0-9] [--on-failure abort|ignore]"
                                  : "add ARCHIVE MASK... [--base DIR] [--level 0-9] [--on-failure abort|ignore]";
    const CommandLine cl = parse(args, true);
    if (!cl.error.empty()) return usage(cl.error, synopsis);
    if (cl.positional.size() < 2) return usage("an archive and at least one mask are needed", synopsis);
    TZipArchiver zip;
    int failures = 0;
    installDecision(zip, cl.onFailure, failures);
    zip.FileName = cl.positional[0];
    zip.BaseDir = cl.base;
    if (cl.level) zip.SetCompressionMode(*cl.level);
    if (create) zip.OpenArchive(kOpenCreate);
    else zip.EnsureOpen();
    // All masks go into one batch: the archive is written once.
    zip.BeginUpdate();
    for (std::size_t i = 1; i < cl.positional.size(); ++i) zip.AddFiles(maskFor(cl.positional[i]), kDefaultSearchAttr, "");
    zip.EndUpdate();
    zip.CloseArchive();
    return failures ? kExitFailure : kExitOk;
}

} // namespace

int runZipCreate(ZipCommandArgs args) { return pack(args, true); }
int runZipAdd(ZipCommandArgs args) { return pack(args, false); }

int runZipExtract(ZipCommandArgs args) {
    const char* synopsis = "extract ARCHIVE DEST [MASK] [--on-failure abort|ignore]";
    const CommandLine cl = parse(args, false);
    if (!cl.error.empty()) return usage(cl.error, synopsis);
    if (cl.positional.size() < 2 || cl.positional.size() > 3) return usage("an archive and a destination are needed", synopsis);
    TZipArchiver zip;
    int failures = 0;
    installDecision(zip, cl.onFailure, failures);
    zip.FileName = cl.positional[0];
    zip.OpenArchive(kOpenRead);
    zip.BaseDir = cl.positional[1];
    zip.ExtractFiles(cl.positional.size() == 3 ? cl.positional[2] : "*.*", kDefaultSearchAttr, "");
    zip.CloseArchive();
    return failures ? kExitFailure : kExitOk;
}

int runZipTest(ZipCommandArgs args) {
    const char* synopsis = "test ARCHIVE";
    const CommandLine cl = parse(args, false);
    if (!cl.error.empty()) return usage(cl.error, synopsis);
    if (cl.positional.size() != 1) return usage("one archive is needed", synopsis);
    TZipArchiver zip;
    int failures = 0;
    installDecision(zip, fxaIgnore, failures);
    zip.FileName = cl.positional[0];
    zip.OpenArchive(kOpenRead);
    zip.TestFiles();
    zip.CloseArchive();
    return failures ? kExitFailure : kExitOk;
}

} // namespace archiver
