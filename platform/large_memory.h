// Memory for large arrays (a loaded archive directory can hold hundreds of thousands of
// entries). Big blocks are mapped directly and, where the system offers them, backed by
// huge pages, which spares the page faults of touching them 4 KiB at a time.
#pragma once

#include <cstddef>
#include <new>

namespace platform {

// Like ::operator new / delete; `bytes` must be passed back unchanged to freeLarge.
// allocateLarge throws std::bad_alloc when the memory is not available.
void* allocateLarge(std::size_t bytes);
void freeLarge(void* p, std::size_t bytes) noexcept;

// A standard allocator over allocateLarge, for containers that grow large.
template <typename T>
struct LargeAllocator {
    using value_type = T;
    LargeAllocator() = default;
    template <typename U>
    LargeAllocator(const LargeAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        if (n > std::size_t(-1) / sizeof(T))
            throw std::bad_alloc();
        return static_cast<T*>(allocateLarge(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { freeLarge(p, n * sizeof(T)); }
    template <typename U>
    bool operator==(const LargeAllocator<U>&) const noexcept {
        return true;
    }
};

} // namespace platform
