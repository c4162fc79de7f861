#include "run/thread_team.h"

#include <climits>
#include <linux/futex.h>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Spins before a wait sleeps: some tens of microseconds, about the time from
// one job to the next inside a global step.
constexpr int TEAM_SPIN_LIMIT = 4000;
constexpr uint64_t DOOR_CLOSED = uint64_t(1) << 31;
constexpr uint64_t DOOR_JOINED = DOOR_CLOSED - 1;
constexpr uint64_t SHARE_FRONT = (uint64_t(1) << 32) - 1;

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t),
              "a futex word is a plain 32-bit integer");

void Relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

void FutexWait(std::atomic<uint32_t>& word, uint32_t value) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT_PRIVATE, value, nullptr,
            nullptr, 0);
}

void FutexWakeAll(std::atomic<uint32_t>& word) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr,
            nullptr, 0);
}

// Waits until word no longer holds value: spins first, then sleeps. sleepers
// counts the threads asleep on word, so that a waker makes the system call
// only when someone sleeps. (Each side writes its word, then reads the
// other's, all sequentially consistent: a waker either sees the sleeper or
// the sleeper sees the new value, in which case the kernel does not let it
// sleep.)
void WaitWhile(std::atomic<uint32_t>& word, uint32_t value, std::atomic<uint32_t>& sleepers) {
    for (int spin = 0; spin < TEAM_SPIN_LIMIT; ++spin) {
        if (word.load(std::memory_order_acquire) != value)
            return;
        Relax();
    }
    while (word.load(std::memory_order_seq_cst) == value) {
        sleepers.fetch_add(1, std::memory_order_seq_cst);
        if (word.load(std::memory_order_seq_cst) == value)
            FutexWait(word, value);
        sleepers.fetch_sub(1, std::memory_order_seq_cst);
    }
}

// Wakes the threads asleep on word after it has changed.
void WakeSleepers(std::atomic<uint32_t>& word, std::atomic<uint32_t>& sleepers) {
    if (sleepers.load(std::memory_order_seq_cst) > 0)
        FutexWakeAll(word);
}

} // namespace

CThreadTeam::CThreadTeam(int nThreads)
    : m_nThreads(nThreads > 1 ? nThreads : 1),
      m_shares(std::make_unique<CShare[]>(static_cast<size_t>(m_nThreads))),
      m_failures(static_cast<size_t>(m_nThreads)) {
    m_threads.reserve(static_cast<size_t>(m_nThreads - 1));
    for (int thread = 1; thread < m_nThreads; ++thread) {
        try {
            m_threads.emplace_back([this, thread] { WorkerLoop(thread); });
        } catch (const std::exception& e) {
            Stop();
            throw CTeamStartError("could not start thread " + std::to_string(thread + 1) + " of " +
                                  std::to_string(m_nThreads) + ": " + e.what());
        }
    }
}

void CThreadTeam::Stop() {
    m_stop.store(true, std::memory_order_relaxed);
    m_generation.fetch_add(1, std::memory_order_seq_cst);
    FutexWakeAll(m_generation);
    for (std::thread& t : m_threads)
        t.join();
    m_threads.clear();
}

int CThreadTeam::BlockSize(int count) const {
    const int64_t ranges = static_cast<int64_t>(m_nThreads) * 8;
    return static_cast<int>((count + ranges - 1) / ranges);
}

// Before the job is offered: the threads see the shares with the job.
void CThreadTeam::OpenShare(int thread, int first, int end, int chunk) {
    CShare& share = m_shares[static_cast<size_t>(thread)];
    share.first = first;
    share.end = end;
    share.chunk = chunk;
    const uint64_t ranges = static_cast<uint64_t>((int64_t(end) - first + chunk - 1) / chunk);
    share.word.store(ranges << 32, std::memory_order_relaxed);
}

// The next range from the front of the thread's own share, else from the
// back of another's; false when none is left. Only the owner moves a front,
// and only when it has seen a range left: a front passes its end by one at
// most (when another took that range meanwhile), never into the end's bits.
bool CThreadTeam::ClaimRange(int thread, int& begin, int& end) {
    CShare& own = m_shares[static_cast<size_t>(thread)];
    int64_t range = -1;
    const CShare* share = &own;
    const uint64_t seen = own.word.load(std::memory_order_relaxed);
    if ((seen & SHARE_FRONT) < (seen >> 32)) {
        const uint64_t was = own.word.fetch_add(1, std::memory_order_relaxed);
        if ((was & SHARE_FRONT) < (was >> 32))
            range = static_cast<int64_t>(was & SHARE_FRONT);
    }
    for (int other = (thread + 1) % m_nThreads; range < 0 && other != thread;
         other = (other + 1) % m_nThreads) {
        CShare& theirs = m_shares[static_cast<size_t>(other)];
        uint64_t now = theirs.word.load(std::memory_order_relaxed);
        while (range < 0 && (now & SHARE_FRONT) < (now >> 32))
            if (theirs.word.compare_exchange_weak(now, now - (uint64_t(1) << 32),
                                                  std::memory_order_relaxed)) {
                range = static_cast<int64_t>(now >> 32) - 1;
                share = &theirs;
            }
    }
    if (range < 0)
        return false;
    const int64_t first = share->first + range * share->chunk;
    begin = static_cast<int>(first);
    end = share->end - first < share->chunk ? share->end : static_cast<int>(first + share->chunk);
    return true;
}

void CThreadTeam::RunJob(int thread) {
    try {
        m_entry(m_context, thread);
    } catch (...) {
        m_failures[static_cast<size_t>(thread)] = std::current_exception();
    }
}

// Counts the thread in when the job is still the one on offer and open.
bool CThreadTeam::Join(uint32_t job) {
    uint64_t door = m_door.load(std::memory_order_acquire);
    while ((door >> 32) == job && !(door & DOOR_CLOSED))
        if (m_door.compare_exchange_weak(door, door + 1, std::memory_order_acq_rel,
                                         std::memory_order_acquire))
            return true;
    return false;
}

void CThreadTeam::WorkerLoop(int thread) {
    uint32_t seen = 0;
    for (;;) {
        WaitWhile(m_generation, seen, m_workersAsleep);
        seen = m_generation.load(std::memory_order_acquire);
        if (m_stop.load(std::memory_order_relaxed))
            return;
        if (!Join(seen))
            continue; // the job was done without this thread
        RunJob(thread);
        m_left.fetch_add(1, std::memory_order_seq_cst);
        WakeSleepers(m_left, m_callerAsleep);
    }
}

void CThreadTeam::RunErased(JobEntry entry, void* context) {
    m_entry = entry;
    m_context = context;
    for (std::exception_ptr& failure : m_failures)
        failure = nullptr;
    if (m_nThreads > 1) {
        m_job += 1;
        m_left.store(0, std::memory_order_relaxed);
        m_door.store(static_cast<uint64_t>(m_job) << 32, std::memory_order_release);
        m_generation.store(m_job, std::memory_order_seq_cst);
        WakeSleepers(m_generation, m_workersAsleep);
    }
    RunJob(0);
    if (m_nThreads > 1) {
        // Closed, no thread joins any more; wait for those that did.
        const uint64_t door = m_door.fetch_or(DOOR_CLOSED, std::memory_order_acq_rel);
        const uint32_t joined = static_cast<uint32_t>(door & DOOR_JOINED);
        for (uint32_t left = m_left.load(std::memory_order_acquire); left != joined;
             left = m_left.load(std::memory_order_acquire))
            WaitWhile(m_left, left, m_callerAsleep);
    }
    for (const std::exception_ptr& failure : m_failures)
        if (failure)
            std::rethrow_exception(failure);
}
