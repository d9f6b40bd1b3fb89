// Large zero-filled blocks for the topology graphs.
//
// Building a graph of millions of entries writes every page of a block once, in no order.
// With 4 KB pages each first touch is a page fault (two when the page is first read: one to
// map the shared zero page, one to copy it on the write), and on virtual machines faults are
// expensive enough to dominate a build. Blocks of several megabytes are therefore aligned on
// 2 MB and offered to the kernel for transparent huge pages, then zeroed in one sweep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace zan_detail
{
constexpr size_t kHugePage = size_t(2) << 20;

/// \brief Asks for huge pages over the whole 2 MB pages inside [p, p + bytes) (a hint only).
inline void AdviseHugePages(const void* p, size_t bytes)
{
#if defined(MADV_HUGEPAGE)
    uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + kHugePage - 1) & ~(kHugePage - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kHugePage - 1);
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

/// \brief A block of \p bytes with undefined content (free it with std::free); null when
///        memory is short.
inline void* AllocateRaw(size_t bytes)
{
    if (bytes < 2 * kHugePage)
        return std::malloc(bytes ? bytes : 1);
    size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    void* block = std::aligned_alloc(kHugePage, rounded);
    if (block)
        AdviseHugePages(block, rounded);
    return block;
}

/// \brief A zero-filled block of \p bytes (free it with std::free); null when memory is short.
inline void* AllocateZeroed(size_t bytes)
{
    if (bytes < 2 * kHugePage)
        return std::calloc(1, bytes ? bytes : 1);
    size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    void* block = std::aligned_alloc(kHugePage, rounded);
    if (!block)
        return nullptr;
    AdviseHugePages(block, rounded);
    std::memset(block, 0, bytes);
    return block;
}
} // namespace zan_detail
