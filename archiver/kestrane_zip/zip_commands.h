// The archive commands of kestrane-zip: create, add, extract, test and list. Each takes the
// arguments after its name and returns the exit code: 0 when every entry succeeded, 1 when
// an entry failed, a mask matched nothing, the archive's directory had to be rebuilt or
// the archiver raised (one line per failed entry on stderr, each starting with
// "kestrane-zip:"), 2 for a usage error. Archiver errors other than per-entry failures propagate as exceptions.
//
// Per-entry failures are put to the user when stdin and stderr are a terminal
// (Abort/Retry/Ignore), otherwise answered by --on-failure abort|ignore (default ignore).
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace archiver {

using ZipCommandArgs = std::span<char* const>;

// create ARCHIVE MASK... [--base DIR] [--level 0-9] [--threads N] [--on-failure abort|ignore]
int runZipCreate(ZipCommandArgs args);
// add ARCHIVE MASK... [--base DIR] [--level 0-9] [--threads N] [--on-failure abort|ignore]
int runZipAdd(ZipCommandArgs args);
// extract ARCHIVE DEST [MASK] [--threads N] [--on-failure abort|ignore]
int runZipExtract(ZipCommandArgs args);
// test ARCHIVE [--threads N]
int runZipTest(ZipCommandArgs args);
// list ARCHIVE
int runZipList(ZipCommandArgs args);

// A stored name (or a message quoting one) as it is shown: control characters escaped
// ("\t", "\n", "\x1b"), the C1 controls and the characters that reorder or hide text as
// "\u{202E}", bytes that are not UTF-8 as "\xff"; so that a name can neither break a
// line, drive the terminal nor disguise its extension.
std::string printableName(std::string_view name);

} // namespace archiver
