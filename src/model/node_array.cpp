#include "model/node_array.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <sys/mman.h>

namespace {

void* MapHugeAligned(size_t bytes, size_t& mappedBytes) {
    const size_t page = NODE_ARRAY_HUGE_PAGE_BYTES;
    const size_t rounded = (bytes + page - 1) / page * page;
    // One huge page more than needed, so the block can start on a boundary;
    // the unused ends go back at once.
    const size_t span = rounded + page;
    void* p = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    const uintptr_t base = reinterpret_cast<uintptr_t>(p);
    const uintptr_t start = (base + page - 1) / page * page;
    const uintptr_t end = start + rounded;
    if (start > base)
        munmap(p, start - base);
    if (base + span > end)
        munmap(reinterpret_cast<void*>(end), base + span - end);
    // Where the system has no huge pages (or never gives them) the advice
    // fails and the block works with small pages.
    madvise(reinterpret_cast<void*>(start), rounded, MADV_HUGEPAGE);
    mappedBytes = rounded;
    return reinterpret_cast<void*>(start);
}

} // namespace

void CNodeArrayDeleter::operator()(void* p) const noexcept {
    if (m_mappedBytes > 0)
        munmap(p, m_mappedBytes);
    else
        std::free(p);
}

void* AllocateZeroed(size_t count, size_t size, bool hugePages, size_t& mappedBytes) {
    mappedBytes = 0;
    const size_t n = count > 0 ? count : 1;
    if (n > SIZE_MAX / size - NODE_ARRAY_HUGE_PAGE_BYTES)
        throw std::bad_alloc();
    if (NODE_ARRAY_MAPS && hugePages && n * size >= NODE_ARRAY_HUGE_MIN_BYTES)
        return MapHugeAligned(n * size, mappedBytes);
    void* p = std::calloc(n, size);
    if (!p)
        throw std::bad_alloc();
    return p;
}
