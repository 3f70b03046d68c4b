#include "platform/large_memory.h"

#include <cstdint>
#include <sys/mman.h>

namespace platform {
namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
// Blocks from this size on are mapped on their own.
constexpr std::size_t kLargeBlock = kHugePage;

std::size_t mappedSize(std::size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

} // namespace

void* allocateLarge(std::size_t bytes) {
    if (bytes < kLargeBlock)
        return ::operator new(bytes);
    // Map one huge page more than needed, then give back the ends so that the block is
    // aligned to a huge page.
    const std::size_t size = mappedSize(bytes);
    void* raw = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start)
        ::munmap(raw, aligned - start);
    if (const std::uintptr_t end = start + size + kHugePage; end > aligned + size)
        ::munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
    ::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

void freeLarge(void* p, std::size_t bytes) noexcept {
    if (!p)
        return;
    if (bytes < kLargeBlock)
        ::operator delete(p);
    else
        ::munmap(p, mappedSize(bytes));
}

} // namespace platform
