// The archiver's message vocabulary: 38 fixed English texts and the table that maps each
// native error code (0..62) to one of them. EZAException builds its message from these.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace archiver {

inline constexpr int kZAMessageCount = 38;
inline constexpr int kZANativeCodeCount = 63;

// The texts exactly as the archiver reports them; "%s" takes a text, "%d" an integer.
extern const std::array<std::string_view, kZAMessageCount> kZAMessages;

struct ZACodeRow {
    std::int32_t nativeCode;
    std::int32_t messageIndex;
};

// One row per native code, in code order 0..62. Several codes share one text.
extern const std::array<ZACodeRow, kZANativeCodeCount> kZACodeTable;

// The message index of a native code: the first row holding the code, 0 ("Unknown error")
// when no row does.
std::int32_t zaMessageIndex(std::int32_t nativeCode);

// Native codes raised on the paths this program takes; the comment says when.
namespace zaerr {
inline constexpr int kBadSizeOrCrc = 8;        // an extracted entry fails its size or CRC check, corrupt files not kept
inline constexpr int kBlankFileName = 9;       // the archive file name is blank when opening (also 10)
inline constexpr int kFileNotFound = 12;       // opening for reading a file that does not exist (arg: the file name)
inline constexpr int kArchiveNotOpen = 13;     // an operation needs an open archive and none is open
inline constexpr int kIndexOutOfBounds = 16;   // extraction of an entry index outside the directory
inline constexpr int kCannotCreateFile = 19;   // the destination file cannot be created (arg: its path)
inline constexpr int kCannotCreateFolder = 20; // the destination folder cannot be created (arg: the folder path)
inline constexpr int kUpdateNotEnded = 26;     // extraction is asked for while an update batch is pending
inline constexpr int kReadOnly = 32;           // a batch of changes is begun on an archive opened read-only
inline constexpr int kCannotOpenFile = 33;     // reading a source file fails during an update (arg: its path)
inline constexpr int kCompressedSize = 34;     // a size check fails during an update (args: size, count)
inline constexpr int kInvalidArchive = 35;     // a file opened for reading holds no local header at all
inline constexpr int kNeedsZip64 = 41;         // an entry cannot be written during an update (arg: its name; also 43)
inline constexpr int kOpenAborted = 44;        // opening the archive is aborted or the file is invalid
inline constexpr int kOpenInvalid = 45;        // opening finds an invalid file (extraction treats it specially)
inline constexpr int kWriteError = 46;         // writing the archive fails during an update
inline constexpr int kNameIndexInvalid = 58;   // the directory's name index disagrees with its items (also 59)
inline constexpr int kNameTooLong = 61;        // a stored name is longer than 259 characters (arg: the name)
} // namespace zaerr

} // namespace archiver
