// Arrays of one value per node (or per node and entry) that cost a process
// only the parts it writes.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

// The node arrays come zeroed from calloc and go back with free: calloc's
// large blocks are fresh pages that the system maps only where they are
// first written, so a process that touches only some rows holds only those.
struct CFreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using CNodeArray = std::unique_ptr<T[], CFreeDeleter>;

// count zeroed values; throws std::bad_alloc when there is no memory for them.
template <typename T> CNodeArray<T> ZeroedNodeArray(size_t count) {
    void* p = std::calloc(count > 0 ? count : 1, sizeof(T));
    if (!p)
        throw std::bad_alloc();
    return CNodeArray<T>(static_cast<T*>(p));
}
