#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace platform {
namespace {

// Another thread may take the aligned address between the probe and the reservation.
constexpr int kAttempts = 8;

} // namespace

void* mapAligned(std::size_t size, std::size_t alignment) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        // Find a free range one alignment longer than needed, give it back and reserve
        // the aligned part of it: VirtualAlloc itself aligns to 64 KiB only.
        void* probe = ::VirtualAlloc(nullptr, size + alignment, MEM_RESERVE, PAGE_NOACCESS);
        if (!probe)
            return nullptr;
        const auto start = reinterpret_cast<std::uintptr_t>(probe);
        const std::uintptr_t aligned = (start + alignment - 1) / alignment * alignment;
        ::VirtualFree(probe, 0, MEM_RELEASE);
        if (void* p = ::VirtualAlloc(reinterpret_cast<void*>(aligned), size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE))
            return p;
    }
    return nullptr;
}

void unmapAligned(void* p, std::size_t) noexcept { ::VirtualFree(p, 0, MEM_RELEASE); }

} // namespace platform
