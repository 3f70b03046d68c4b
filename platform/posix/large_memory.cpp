#include <cstddef>
#include <cstdint>
#include <sys/mman.h>

namespace platform {

void* mapAligned(std::size_t size, std::size_t alignment) {
    // Map one alignment more than needed, then give back the ends so that the block is
    // aligned; where the system offers them, huge pages back it.
    void* raw = ::mmap(nullptr, size + alignment, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + alignment - 1) / alignment * alignment;
    if (aligned > start)
        ::munmap(raw, aligned - start);
    if (const std::uintptr_t end = start + size + alignment; end > aligned + size)
        ::munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
    ::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

void unmapAligned(void* p, std::size_t size) noexcept { ::munmap(p, size); }

} // namespace platform
