#include "archiver/kestrane_zip/zip_commands.h"

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "archiver/za_exception.h"
#include "archiver/zip_archiver.h"
#include "platform/terminal.h"
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
    std::optional<int> threads;
    TZAAction onFailure = fxaIgnore;
    std::string error; // non-empty: a usage error
};

CommandLine parse(ZipCommandArgs args, bool withBaseAndLevel) {
    CommandLine cl;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--on-failure" && hasValue) {
            const std::string v = args[++i];
            if (v == "abort")
                cl.onFailure = fxaAbort;
            else if (v == "ignore")
                cl.onFailure = fxaIgnore;
            else
                cl.error = "--on-failure takes abort or ignore";
        } else if (withBaseAndLevel && a == "--base" && hasValue) {
            cl.base = args[++i];
        } else if (withBaseAndLevel && a == "--level" && hasValue) {
            const std::string v = args[++i];
            if (v.size() != 1 || v[0] < '0' || v[0] > '9')
                cl.error = "--level takes 0 to 9";
            else
                cl.level = v[0] - '0';
        } else if (a == "--threads" && hasValue) {
            const std::string v = args[++i];
            if (v.empty() || v.size() > 3 || v.find_first_not_of("0123456789") != std::string::npos)
                cl.error = "--threads takes a number (0: every core)";
            else
                cl.threads = std::stoi(v);
        } else if (a.starts_with("--")) {
            cl.error = "unknown option " + a;
        } else {
            cl.positional.push_back(a);
        }
    }
    return cl;
}

int usage(const std::string& message, const char* synopsis) {
    std::fprintf(stderr, "kestrane-zip: %s\nkestrane-zip: usage: kestrane-zip %s\n", printableName(message).c_str(),
                 synopsis);
    return kExitUsage;
}

// Every line names what it is about; names and reasons come from archives and file
// systems, so their control characters are escaped as `list` does: a name cannot forge
// a line of its own or reach the terminal's escape sequences.
void say(const std::string& subject, const std::string& message) {
    std::fprintf(stderr, "kestrane-zip: %s: %s\n", printableName(subject).c_str(), printableName(message).c_str());
}

// Warns about a directory that was rebuilt or lost nameless entries; true when it did.
bool warnAboutDirectory(const TZipArchiver& zip, const std::string& archive) {
    const TZADirManager* dir = const_cast<TZipArchiver&>(zip).dirManager();
    const auto warning = dir ? directoryWarning(*dir) : std::nullopt;
    if (warning)
        say(archive, *warning);
    return warning.has_value();
}

// Asked once: an archive of a million failing entries must not ask the system a million times.
bool interactive() {
    static const bool terminal =
        platform::isTerminal(platform::StandardStream::Input) && platform::isTerminal(platform::StandardStream::Error);
    return terminal;
}

// Prints every failed entry and asks (terminal) or answers with the --on-failure choice.
void installDecision(TZipArchiver& zip, TZAAction fallback, int& failures) {
    zip.OnProcessFileFailure = [fallback, &failures](const std::string& name, TZAProcessOperation, int, int,
                                                     const std::string& message, TZAAction& action) {
        say(name, message);
        action = fallback;
        if (interactive()) {
            for (;;) {
                std::fputs("kestrane-zip: Abort, Retry or Ignore? [a/r/i] ", stderr);
                std::string answer;
                if (!std::getline(std::cin, answer))
                    break;
                if (answer == "a") {
                    action = fxaAbort;
                    break;
                }
                if (answer == "r") {
                    action = fxaRetry;
                    break;
                }
                if (answer == "i") {
                    action = fxaIgnore;
                    break;
                }
            }
        }
        if (action != fxaRetry)
            ++failures;
    };
    zip.Prompts.askOverwrite = [](const std::string& question) {
        if (!interactive())
            return TZAOverwriteAnswer::No;
        std::fprintf(stderr, "kestrane-zip: %s? [y/n/N(o to all)/A(ll)] ", printableName(question).c_str());
        std::string answer;
        if (!std::getline(std::cin, answer))
            return TZAOverwriteAnswer::Closed;
        if (answer == "y")
            return TZAOverwriteAnswer::Yes;
        if (answer == "A")
            return TZAOverwriteAnswer::YesToAll;
        if (answer == "N")
            return TZAOverwriteAnswer::NoToAll;
        return TZAOverwriteAnswer::No;
    };
}

// A folder given as a mask stands for everything in it.
std::string maskFor(const std::string& arg) {
    if (arg.find_first_of("*?") == std::string::npos && platform::folderExists(platform::toPath(arg))) {
        std::string m = arg;
        if (m.back() != '/' && m.back() != '\\')
            m += '/';
        return m + "*.*";
    }
    return arg;
}

int pack(ZipCommandArgs args, bool create) {
    const char* synopsis =
        create ? "create ARCHIVE MASK... [--base DIR] [--level 0-9] [--threads N] [--on-failure abort|ignore]"
               : "add ARCHIVE MASK... [--base DIR] [--level 0-9] [--threads N] [--on-failure abort|ignore]";
    const CommandLine cl = parse(args, true);
    if (!cl.error.empty())
        return usage(cl.error, synopsis);
    if (cl.positional.size() < 2)
        return usage("an archive and at least one mask are needed", synopsis);
    TZipArchiver zip;
    // Zip64 records where an entry needs them: files and archives past 4 GiB.
    zip.SetZip64Mode(zmAuto);
    int failures = 0;
    installDecision(zip, cl.onFailure, failures);
    int considered = 0;
    zip.OnConfirmProcessFile = [&considered](const std::string&, TZAProcessOperation, bool&) { ++considered; };
    zip.FileName = cl.positional[0];
    zip.BaseDir = cl.base;
    if (cl.level)
        zip.SetCompressionMode(*cl.level);
    if (cl.threads)
        zip.Threads = *cl.threads;
    if (create)
        zip.OpenArchive(kOpenCreate);
    else
        zip.EnsureOpen();
    // All masks go into one batch: the archive is written once.
    zip.BeginUpdate();
    int unmatched = 0;
    for (std::size_t i = 1; i < cl.positional.size(); ++i) {
        const int before = considered;
        zip.AddFiles(maskFor(cl.positional[i]), kDefaultSearchAttr, "");
        if (considered == before) {
            say(cl.positional[i], "nothing matched");
            ++unmatched;
        }
    }
    if (considered == 0) {
        // Nothing to add: the archive stays as it was (and is not made when it was not there).
        zip.AbandonArchive();
        return kExitFailure;
    }
    zip.EndUpdate();
    zip.CloseArchive();
    return failures || unmatched ? kExitFailure : kExitOk;
}

} // namespace

int runZipCreate(ZipCommandArgs args) { return pack(args, true); }
int runZipAdd(ZipCommandArgs args) { return pack(args, false); }

int runZipExtract(ZipCommandArgs args) {
    const char* synopsis = "extract ARCHIVE DEST [MASK] [--threads N] [--on-failure abort|ignore]";
    const CommandLine cl = parse(args, false);
    if (!cl.error.empty())
        return usage(cl.error, synopsis);
    if (cl.positional.size() < 2 || cl.positional.size() > 3)
        return usage("an archive and a destination are needed", synopsis);
    TZipArchiver zip;
    int failures = 0;
    installDecision(zip, cl.onFailure, failures);
    int selected = 0;
    zip.OnConfirmProcessFile = [&selected](const std::string&, TZAProcessOperation, bool&) { ++selected; };
    if (cl.threads)
        zip.Threads = *cl.threads;
    zip.OpenArchive(cl.positional[0], kOpenRead);
    // A rebuilt directory is salvaged, but the run fails.
    const bool damaged = warnAboutDirectory(zip, cl.positional[0]);
    zip.BaseDir = cl.positional[1];
    const bool masked = cl.positional.size() == 3;
    zip.ExtractFiles(masked ? cl.positional[2] : "*.*", kDefaultSearchAttr, "");
    zip.CloseArchive();
    const bool unmatched = masked && selected == 0;
    if (unmatched)
        say(cl.positional[2], "nothing matched");
    return failures || damaged || unmatched ? kExitFailure : kExitOk;
}

int runZipTest(ZipCommandArgs args) {
    const char* synopsis = "test ARCHIVE [--threads N]";
    const CommandLine cl = parse(args, false);
    if (!cl.error.empty())
        return usage(cl.error, synopsis);
    if (cl.positional.size() != 1)
        return usage("one archive is needed", synopsis);
    TZipArchiver zip;
    int failures = 0;
    installDecision(zip, fxaIgnore, failures);
    if (cl.threads)
        zip.Threads = *cl.threads;
    zip.OpenArchive(cl.positional[0], kOpenRead);
    const bool damaged = warnAboutDirectory(zip, cl.positional[0]);
    zip.TestFiles();
    zip.CloseArchive();
    return failures || damaged ? kExitFailure : kExitOk;
}

int runZipList(ZipCommandArgs args) {
    const char* synopsis = "list ARCHIVE";
    const CommandLine cl = parse(args, false);
    if (!cl.error.empty())
        return usage(cl.error, synopsis);
    if (cl.positional.size() != 1)
        return usage("list takes one archive", synopsis);
    TZipArchiver zip;
    zip.OpenArchive(cl.positional[0], kOpenRead);
    const bool damaged = warnAboutDirectory(zip, cl.positional[0]);
    const TZADirArray& dir = *zip.directory();
    std::string out;
    for (int i = 0; i < dir.Count(); ++i) {
        const TDirItem& item = dir.ItemAt(i);
        char numbers[160];
        std::snprintf(numbers, sizeof numbers, "\t%llu\t%llu\t%u\t%08x\t%x\t",
                      static_cast<unsigned long long>(item.uncompressedSize64()),
                      static_cast<unsigned long long>(item.compressedSize64()), unsigned(item.method),
                      unsigned(item.crc32), unsigned(item.externalAttributes));
        out += printableName(item.name);
        out += numbers;
        out += formatDosDateTime({item.modTime, item.modDate});
        out += '\n';
        if (out.size() > (1 << 16)) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    zip.CloseArchive();
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 && !damaged ? kExitOk : kExitFailure;
}

namespace {

// The length of the well-formed UTF-8 sequence at the start of `text` and its code point;
// 0 when the bytes there are not one (a stray continuation byte, a cut or overlong
// sequence, a surrogate).
std::size_t utf8Sequence(std::string_view text, char32_t& point) {
    const auto b0 = static_cast<unsigned char>(text[0]);
    const std::size_t length = b0 < 0x80             ? 1
                               : (b0 & 0xE0) == 0xC0 ? 2
                               : (b0 & 0xF0) == 0xE0 ? 3
                               : (b0 & 0xF8) == 0xF0 ? 4
                                                     : 0;
    if (length == 0 || length > text.size())
        return 0;
    point = length == 1 ? b0 : b0 & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if ((b & 0xC0) != 0x80)
            return 0;
        point = (point << 6) | (b & 0x3F);
    }
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < kLeast[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return 0;
    return length;
}

// The C1 controls and the format characters that reorder or hide text: a name holding
// them could repaint the terminal or show another extension than it has.
bool hidesOrReorders(char32_t point) {
    return (point >= 0x80 && point <= 0x9F) || (point >= 0x200B && point <= 0x200F) ||
           (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069);
}

} // namespace

std::string printableName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const auto b = static_cast<unsigned char>(name[i]);
        if (b >= 0x20 && b < 0x7F) { // printable ASCII, most of every message
            out += char(b);
            ++i;
            continue;
        }
        char32_t point = 0;
        const std::size_t length = utf8Sequence(name.substr(i), point);
        char escaped[16];
        if (length == 0) {
            std::snprintf(escaped, sizeof escaped, "\\x%02x", unsigned(b));
            out += escaped;
            ++i;
            continue;
        }
        if (b == '\t') {
            out += "\\t";
        } else if (b == '\n') {
            out += "\\n";
        } else if (b == '\r') {
            out += "\\r";
        } else if (b < 0x20 || b == 0x7F) {
            std::snprintf(escaped, sizeof escaped, "\\x%02x", unsigned(b));
            out += escaped;
        } else if (hidesOrReorders(point)) {
            std::snprintf(escaped, sizeof escaped, "\\u{%X}", unsigned(point));
            out += escaped;
        } else {
            out.append(name.substr(i, length));
        }
        i += length;
    }
    return out;
}

} // namespace archiver
