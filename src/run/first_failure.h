// The failure of the lowest index among work items done in parallel. Threads
// record what they catch; after the loop the failure of the lowest index is
// rethrown, so a parallel loop fails exactly as the serial loop fails, which
// stops at its first failure. Items above a recorded failure need not run.
#pragma once

#include <atomic>
#include <climits>
#include <exception>
#include <mutex>

class CFirstFailure {
public:
    // True when an item below index has failed already: index can be skipped.
    bool Skips(int index) const { return index > m_lowest.load(std::memory_order_relaxed); }

    // Keeps failure when index is below every index recorded so far.
    void Record(int index, std::exception_ptr failure) {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (index < m_lowest.load(std::memory_order_relaxed)) {
            m_failure = failure;
            m_lowest.store(index, std::memory_order_relaxed);
        }
    }

    // Rethrows the failure kept, if any. Call after the parallel loop.
    void Rethrow() const {
        if (m_failure)
            std::rethrow_exception(m_failure);
    }

private:
    // Read for every item: the object has its cache lines to itself, and the
    // rest of it is written only on a failure.
    alignas(64) std::atomic<int> m_lowest{INT_MAX};
    std::mutex m_lock;
    std::exception_ptr m_failure;
};
