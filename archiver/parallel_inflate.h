// Unpacking on several threads, behind the one thread that writes.
//
// ParallelInflater inflates the entries an extraction or test will read, ahead of the
// thread that writes the files, and hands their bytes over in order. It is made and
// destroyed inside one archiver call: the destructor stops and joins the workers.
// Workers never call back into the archiver: every check, question and progress
// notification stays on the calling thread, which also does every write. The data
// waiting for that thread is held to `budget` bytes, plus the buffers each worker works
// in and a few for the entry being written; and the workers run at most a fixed number
// of entries ahead, so that an archive of many tiny entries costs no memory per entry.
//
// When extracting, the workers may also write entries themselves: an OpenAheadFn gives
// a worker a temporary file of its own for an entry, the worker writes the inflated data
// into it, and the writer takes the whole file (takeFile) when it comes to the entry,
// to give it its name or to drop it. Files written ahead hold at most `budget` bytes of
// data waiting for the writer (the entry being written excepted); the files the writer
// never takes are deleted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "archiver/deflate_streams.h"
#include "platform/file_stream.h"

namespace archiver {

// How many entries the workers may run ahead of the one being written.
inline constexpr std::size_t kInflateEntriesAhead = 64;

struct InflateSource {
    int item = 0;            // the directory index, what the writer asks for
    std::uint64_t start = 0; // file position of the entry's data
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint32_t crc = 0;
    int method = 0; // 0 stored or 8 deflate
};

// Where directory item `item`'s data lies and what it must give; nullopt when it is not
// to be inflated ahead (the writer then meets its error itself). Called on the workers:
// it must be safe to call from several threads at once.
using LocateFn = std::function<std::optional<InflateSource>(int item)>;
// A temporary file for a worker to write directory item `item` into, or nullopt when
// that item is to be handed over in memory. Called on the workers: it must be safe to
// call from several threads at once.
using OpenAheadFn = std::function<std::optional<platform::TempFile>(int item)>;

class ParallelInflater {
public:
    // Starts inflating the directory items `items` (rising), in their order, from `archive` on
    // `threads` workers, never more than kInflateEntriesAhead entries beyond the one
    // being written; each item is located by `locate` when a worker comes to it, so that
    // nothing is held for the items far ahead. `archive` must stay open until this is
    // destroyed.
    ParallelInflater(const platform::File& archive, std::vector<int> items, LocateFn locate, int threads,
                     std::size_t budget, OpenAheadFn openAhead = {});
    ~ParallelInflater();
    ParallelInflater(const ParallelInflater&) = delete;
    ParallelInflater& operator=(const ParallelInflater&) = delete;

    // Hands the data of directory item `item` to `write` in order, and gives what
    // decompressBlocks would have given (the checks of size and CRC-32 included);
    // progress comes with every kProgressStep bytes of output at most. Planned items
    // before it are dropped. False, with nothing written, when it has nothing for the
    // item (not planned, already taken, or not located). A read error or deflate library
    // failure met ahead is raised here.
    bool write(int item, const WriteFn& write, const ProgressFn& progress, DecompressOutcome& outcome);
    // The file a worker wrote directory item `item` into, once it is whole, with what
    // decompressBlocks would have given (`outcome`); planned items before it are dropped.
    // nullopt when the item is not being written into a file (write() then hands its data
    // over), or when writing it failed (a full disk: the caller writes it itself and meets
    // the failure), or when `progress` cancelled the wait (outcome.cancelled). A read error
    // or deflate library failure met ahead is raised here.
    std::optional<platform::TempFile> takeFile(int item, const ProgressFn& progress, DecompressOutcome& outcome);

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

} // namespace archiver
