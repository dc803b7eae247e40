#include "platform/LargeBuffer.h"

#include <cstdlib>

#include <sys/mman.h>

namespace {

constexpr size_t HUGE_PAGE = 2u << 20;

}  // namespace

void *allocateLargeBuffer(size_t size)
{
    const size_t rounded = (size + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
    void *block = aligned_alloc(HUGE_PAGE, rounded);
    if (block != nullptr) {
        // Only advice: without huge pages the block works the same.
        madvise(block, rounded, MADV_HUGEPAGE);
    }
    return block;
}

void freeLargeBuffer(void *block)
{
    free(block);
}
