// The archiver's message texts and native code table.
#include "archiver/za_messages.h"

namespace archiver {

// The tables keep one row a line, aligned, with its code beside it.
// clang-format off
const std::array<std::string_view, kZAMessageCount> kZAMessages = {
    "Unknown error",                                                       // 0
    "Index out of bounds",                                                 // 1
    "Invalid compression mode. Mode must be in [0-9] range",               // 2
    "Unexpected nil pointer",                                              // 3
    "Invalid size or check sum of file or unsupported compression format", // 4
    "File name is blank. Specify appropriate file name",                   // 5
    "File \"%s\" not found",                                               // 6
    "Archive is not open",                                                 // 7
    "SFXStub property is not specified",                                   // 8
    "Cannot create file \"%s\"",                                           // 9
    "Cannot create directory \"%s\"",                                      // 10
    "Internal error. Update is not started",                               // 11
    "Cannot open file \"%s\"",                                             // 12
    "Cannot proceed when update is not ended. Preceding EndUpdate call is required.", // 13
    "Cannot delete file \"%s\"",                                           // 14
    "In-memory archive can be created only",                               // 15
    "File is open in read-only mode",                                      // 16
    "Invalid compressed size, rfs.size = %d, count = %d",                  // 17
    "Invalid archive file.",                                               // 18
    "Cannot create output file. Probably file is locked by another process. FileName = '%s'.", // 19
    "Archive is open. You should close it beore performing this operation.", // 20
    "Unable to create directory",                                          // 21
    "Cannot find Zip64 directory end record",                              // 22
    "Cannot compress file '%s'. Zip64 mode is not enabled",                // 23
    "Cannot open archive file. Opening aborted or invalid file",           // 24
    "Write to stream error",                                               // 25
    "Cannot place SFX stub on volume. Volume size limit is too small",     // 26
    "Archive is damaged. Open failed",                                     // 27
    "MakeSFX is not allowed for splitted or spanned archives. Set SFXStub before archive creation instead of MakeSFX", // 28
    "Archive already has SFX stub",                                        // 29
    "Multi-volume archive is not allowed for custom stream",               // 30
    "Multi-spanned archive is not allowed for modification. Use BeginUpdate/EndUpdate methods to add files several times", // 31
    "Deflate64 compression method is not supported",                       // 32
    "MakeSFX error",                                                       // 33
    "Hashed list of file names is invalid",                                // 34
    "Cannot delete folder \"%s\"",                                         // 35
    "File name is too long: \r\n\"%s\"",                                   // 36
    "Multiple transactions are not supported for multi-volume archives",   // 37
};

// Each row: native code, message index. The comment says when this program raises the code;
// "not raised" rows belong to features it does not use (index checks inside the directory
// array, zip64 records, self-extracting stubs, multi-volume and in-memory archives, renaming,
// deletion) and stay so that every code maps to its text.
const std::array<ZACodeRow, kZANativeCodeCount> kZACodeTable = {{
    {0, 0},    // no specific error; also the text of every unknown code
    {1, 1},    // not raised
    {2, 1},    // not raised
    {3, 1},    // not raised
    {4, 1},    // not raised
    {5, 2},    // not raised
    {6, 3},    // not raised
    {7, 1},    // not raised
    {8, 4},    // an extracted entry fails its size or CRC check and corrupted files are not kept
    {9, 5},    // the archive file name is blank when opening
    {10, 5},   // the archive file name is blank when opening
    {11, 6},   // not raised
    {12, 6},   // opening for reading a file that does not exist (argument: the file name)
    {13, 7},   // an operation needs an open archive and none is open
    {14, 7},   // not raised
    {15, 6},   // not raised
    {16, 1},   // extraction of an entry index outside the directory
    {17, 8},   // not raised
    {18, 6},   // not raised
    {19, 9},   // the destination file cannot be created (argument: its path)
    {20, 10},  // the destination folder cannot be created (argument: the folder path)
    {21, 1},   // not raised
    {22, 11},  // not raised
    {23, 9},   // not raised
    {24, 1},   // not raised
    {25, 11},  // not raised
    {26, 13},  // extraction is asked for while an update batch is pending
    {27, 14},  // not raised
    {28, 15},  // not raised
    {29, 5},   // not raised
    {30, 6},   // not raised
    {31, 6},   // not raised
    {32, 16},  // a batch of changes is begun on an archive opened for reading only
    {33, 12},  // reading a source file fails during an update (argument: its path)
    {34, 17},  // reading a source file or writing the archive fails during an update (arguments: size, count)
    {35, 18},  // a file opened for reading holds no local header at all
    {36, 19},  // not raised
    {37, 20},  // not raised
    {38, 6},   // not raised
    {39, 21},  // not raised
    {40, 22},  // not raised
    {41, 23},  // writing an entry fails during an update (argument: its name)
    {42, 6},   // not raised
    {43, 23},  // writing an entry fails during an update (argument: its name)
    {44, 24},  // opening the archive is aborted or the file is invalid
    {45, 24},  // opening the archive finds an invalid file (extraction treats it specially)
    {46, 25},  // writing the archive fails during an update
    {47, 26},  // not raised
    {48, 27},  // an update is refused: the archive's directory was rebuilt or its entries overlap
    {49, 28},  // not raised
    {50, 29},  // not raised
    {51, 30},  // not raised
    {52, 31},  // not raised
    {53, 6},   // not raised
    {54, 6},   // not raised
    {55, 32},  // not raised
    {56, 33},  // not raised
    {57, 27},  // not raised
    {58, 34},  // the name index of the directory disagrees with the items
    {59, 34},  // the name index of the directory disagrees with the items
    {60, 35},  // not raised
    {61, 36},  // a stored name is longer than 259 characters (argument: the name)
    {62, 37},  // not raised
}};

std::int32_t zaMessageIndex(std::int32_t nativeCode) {
    for (const ZACodeRow& row : kZACodeTable)
        if (row.nativeCode == nativeCode)
            return row.messageIndex;
    return 0;
}

// clang-format on

} // namespace archiver
