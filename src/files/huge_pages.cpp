#include "files/huge_pages.h"

#include <sys/mman.h>

#include <cstdlib>

namespace fennick {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

void* allocateLarge(std::size_t bytes) {
    if (bytes < kHugePage / 2) {
        if (void* memory = std::malloc(bytes == 0 ? 1 : bytes))
            return memory;
        throw std::bad_alloc();
    }
    if (bytes > static_cast<std::size_t>(-1) - kHugePage)
        throw std::bad_alloc();
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* memory = std::aligned_alloc(kHugePage, rounded);
    if (memory == nullptr)
        throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    // Only advice: where huge pages are off, the memory works the same.
    madvise(memory, rounded, MADV_HUGEPAGE);
#endif
    return memory;
}

void freeLarge(void* memory) noexcept {
    std::free(memory);
}

}  // namespace fennick
