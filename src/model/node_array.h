// Arrays of one value per node (or per node and entry) that cost a process
// only the parts it writes.
#pragma once

#include <cstddef>
#include <memory>

// The node arrays come zeroed on fresh pages that the system maps only where
// they are first written, so a process that touches only some rows holds only
// those. Small arrays come from calloc. Large ones are mapped on their own at
// a huge-page boundary and marked for transparent huge pages, so a first write
// maps 2 MiB instead of 4 KiB: in a virtual machine each mapping costs a trip
// to the host (11 us a page measured, a third of a second for the 128 MiB
// band matrix of a 200 x 200 grid).
constexpr size_t NODE_ARRAY_HUGE_PAGE_BYTES = size_t{2} << 20;
constexpr size_t NODE_ARRAY_HUGE_MIN_BYTES = size_t{4} << 20; // smaller ones from calloc
// The address sanitizer guards calloc's blocks, not our own mappings: under
// it every array comes from calloc.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool NODE_ARRAY_MAPS = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool NODE_ARRAY_MAPS = false;
#else
constexpr bool NODE_ARRAY_MAPS = true;
#endif
#else
constexpr bool NODE_ARRAY_MAPS = true;
#endif

struct CNodeArrayDeleter {
    size_t m_mappedBytes = 0; // 0: the block came from calloc
    void operator()(void* p) const noexcept;
};
template <typename T> using CNodeArray = std::unique_ptr<T[], CNodeArrayDeleter>;

// count zeroed values of size bytes, on huge pages if hugePages and the block
// is large; mappedBytes becomes what the deleter must unmap (0 for calloc's
// blocks). Throws std::bad_alloc when there is no memory.
void* AllocateZeroed(size_t count, size_t size, bool hugePages, size_t& mappedBytes);

// hugePages: for an array the process writes whole. A process that writes only
// its own rows (a run over several processes) keeps small pages, which hold
// only those rows, where a huge page could hold up to 2 MiB more at each end.
template <typename T> CNodeArray<T> ZeroedNodeArray(size_t count, bool hugePages) {
    size_t mapped = 0;
    void* p = AllocateZeroed(count, sizeof(T), hugePages, mapped);
    return CNodeArray<T>(static_cast<T*>(p), CNodeArrayDeleter{mapped});
}
