// What large blocks share on every system: small blocks from the heap, large ones mapped
// on their own, whole huge pages aligned to one. The mapping is in posix/ and win32/.
#include "platform/large_memory.h"

namespace platform {

// `size` bytes (a multiple of kHugePage) starting on a huge-page boundary; nullptr when
// the system has no such range. posix/large_memory.cpp, win32/large_memory.cpp.
void* mapAligned(std::size_t size, std::size_t alignment);
void unmapAligned(void* p, std::size_t size) noexcept;

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
// Blocks from this size on are mapped on their own.
constexpr std::size_t kLargeBlock = kHugePage;

std::size_t mappedSize(std::size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

} // namespace

void* allocateLarge(std::size_t bytes) {
    if (bytes < kLargeBlock)
        return ::operator new(bytes);
    if (void* p = mapAligned(mappedSize(bytes), kHugePage))
        return p;
    throw std::bad_alloc();
}

void freeLarge(void* p, std::size_t bytes) noexcept {
    if (!p)
        return;
    if (bytes < kLargeBlock)
        ::operator delete(p);
    else
        unmapAligned(p, mappedSize(bytes));
}

} // namespace platform
