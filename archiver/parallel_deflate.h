// Packing on several threads, behind the one thread that writes (unpacking: see
// parallel_inflate.h).
//
// ParallelPacker compresses the sources of an update's new entries ahead of the thread
// that writes the new archive. Every source is cut into blocks of readBlockSize(level);
// each block is deflated on its own, primed with the 32 KiB before it as its dictionary
// and ended with a sync flush (the last one with the end of the stream), so the blocks
// joined in order are one raw deflate stream. Their CRC-32s are combined with zlib's
// crc32_combine. The output depends only on the data and the level, never on the
// number of threads.
//
// It is made and destroyed inside one archiver call: the destructor stops and joins
// the workers. Workers never call back into the archiver: every check, question and
// progress notification stays on the calling thread, which also does every write. The
// data waiting for that thread is held to `budget` bytes, plus the buffers each worker
// works in and a few for the entry being written, whatever the entries' sizes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archiver/deflate_streams.h"
#include "platform/file_stream.h"

namespace archiver {

// The threads a setting asks for: the setting when above 0, else every core of the machine.
int effectiveThreads(int setting);

// Bytes of finished data that may wait for the writing thread.
inline constexpr std::size_t kDefaultBufferBudget = std::size_t(64) << 20;

struct PackSource {
    std::string name; // the entry's stored name: what the writer asks for
    std::string path; // the file read (a regular file)
    int level = 0;    // deflate level 1..9, or 0 for a stored copy
};

// For tests: when set, a worker calls it with a block's source (its place in the list)
// and first input byte after taking the block and before reading it, without the
// packer's lock; it may hold the worker there. Set it only while no packer runs.
inline std::function<void(std::size_t source, std::uint64_t offset)> packBlockProbe;

class ParallelPacker {
public:
    // Starts compressing `sources`, in their order, on `threads` workers.
    ParallelPacker(std::vector<PackSource> sources, int threads, std::size_t budget);
    ~ParallelPacker();
    ParallelPacker(const ParallelPacker&) = delete;
    ParallelPacker& operator=(const ParallelPacker&) = delete;

    // Writes the entry data of the source named `name` through `write`, as compressBlocks
    // would (progress before each block and every kProgressStep bytes of input; a short
    // write or a source that became shorter ends early, a cancel stops it). Sources of
    // the plan before it are dropped. False, with nothing written, when there is nothing
    // for it: not planned (or already taken), another level, the file could not be read
    // ahead or no longer has `length` bytes. A read error or deflate library failure met ahead is
    // raised here.
    bool write(const std::string& name, int level, std::uint64_t length, const WriteFn& write,
               const ProgressFn& progress, CompressOutcome& outcome);

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

} // namespace archiver
