#include "platform/large_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

TEST(LargeMemory, smallAndMappedBlocksHoldTheirBytesThroughGrowth) {
    std::vector<std::uint32_t, platform::LargeAllocator<std::uint32_t>> v;
    // Grows from heap blocks into mapped ones (2 MiB and up) and keeps every value.
    for (std::uint32_t i = 0; i < 3'000'000; ++i)
        v.push_back(i * 2654435761u);
    for (std::uint32_t i = 0; i < v.size(); i += 4097)
        ASSERT_EQ(v[i], i * 2654435761u);
    const auto* data = reinterpret_cast<std::uintptr_t>(v.data()) % (std::uintptr_t(2) << 20) == 0 ? v.data() : nullptr;
    EXPECT_NE(data, nullptr); // mapped blocks start on a huge page boundary
    v.clear();
    v.shrink_to_fit();
    EXPECT_EQ(v.capacity(), 0u);
}
