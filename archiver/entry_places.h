// Where each entry's data lies in the archive, checked before any of it is read: the
// local header must be there and agree with the central entry, and the data must stay
// clear of every other entry and of the central directory. A hostile archive whose
// entries share or overlap their data (a "zip bomb" of many names for one entry) or whose
// sizes run past their neighbours is refused entry by entry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "archiver/central_directory.h"
#include "platform/file_stream.h"

namespace archiver {

struct EntryData {
    std::uint64_t start = 0; // file position of the first data byte
    std::uint64_t size = 0;  // compressed size
};

class EntryPlaces {
public:
    // The places of the local headers of every item of `dir`, whose directory starts at
    // `directoryPosition` (the end of the file for a rebuilt directory).
    EntryPlaces(const TZADirArray& dir, std::uint64_t directoryPosition);

    // Checks item i and gives where its data lies. Raises EZAException 8 with the reason
    // when the entry is refused: no local header at its offset, a local header whose name
    // or sizes disagree with the central entry (sizes that follow in a data descriptor
    // are not compared), a header shared with another entry, or data that runs into the
    // next entry or the central directory.
    EntryData check(platform::Stream& archive, const TZADirArray& dir, int i, const std::string& componentName) const;
    // The same check, answering the reason instead of raising it (`data` is set when there
    // is none): an archive of a million refused entries raises no million exceptions.
    std::optional<std::string> refusal(platform::Stream& archive, const TZADirArray& dir, int i, EntryData& data) const;

private:
    std::vector<std::pair<std::uint64_t, int>> m_offsets; // (local header offset, item), sorted
    std::uint64_t m_directory;
};

} // namespace archiver
