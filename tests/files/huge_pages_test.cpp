#include "files/huge_pages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <new>

namespace fennick {
namespace {

TEST(HugePages, BigBuffersAreAlignedToTwoMegabytesAndSmallOnesWork) {
    for (const std::size_t bytes : {std::size_t{0}, std::size_t{1}, std::size_t{4096},
                                    std::size_t{1} << 20, (std::size_t{3} << 20) + 7}) {
        SCOPED_TRACE(bytes);
        void* memory = allocateLarge(bytes);
        ASSERT_NE(memory, nullptr);
        if (bytes >= (std::size_t{1} << 20)) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(memory) % (std::size_t{2} << 20), 0u);
        }
        // All of it is usable.
        std::fill_n(static_cast<unsigned char*>(memory), bytes, 0xA5);
        freeLarge(memory);
    }
}

TEST(HugePages, ImpossibleSizesThrowInsteadOfWrapping) {
    EXPECT_THROW(allocateLarge(static_cast<std::size_t>(-1)), std::bad_alloc);
    HugePageAllocator<std::uint64_t> allocator;
    EXPECT_THROW(allocator.allocate(static_cast<std::size_t>(-1) / 4), std::bad_alloc);
}

}  // namespace
}  // namespace fennick
