// A team of threads for the loops of a global step. A job is a loop over
// items in ranges that the threads claim, each first from its own share of
// them (ForRanges); the calling thread takes part as thread 0.
//
// A thread joins a job only while it is open. The caller closes it once all
// ranges are claimed and done by itself or by the threads that joined, and
// waits for those alone: a thread that has not woken up by then (a busy
// machine) is not waited for, so a job never takes much longer than the
// caller needs for it alone. A waiting thread spins briefly, then sleeps on a
// futex. Starting and finishing a job allocate nothing and take no lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <vector>

// Bytes of a cache line: what threads write often gets a line of its own.
constexpr int TEAM_LINE = 64;

// A thread the system would not start (its limit of threads or of memory
// for their stacks): the threads already started are stopped again.
class CTeamStartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class CThreadTeam {
public:
    // Starts nThreads - 1 threads (none for 1); throws CTeamStartError.
    explicit CThreadTeam(int nThreads);
    ~CThreadTeam() { Stop(); } // stops and joins the threads
    CThreadTeam(const CThreadTeam&) = delete;
    CThreadTeam& operator=(const CThreadTeam&) = delete;

    int Size() const { return m_nThreads; }

    // body(begin, end, thread) for the ranges [begin, end) of at most chunk
    // items that cover 0..count-1, each range on the thread that claims it.
    // Thread t first takes the ranges of its own share, the t-th of Size()
    // runs of ranges, from the front; then the others' remaining ranges from
    // the back. So a thread takes the same items job after job and their
    // values stay in its caches; one that is late or slow has its ranges
    // taken by the others. An exception that escapes body ends its thread's
    // part of the job and is rethrown here after the job (that of the lowest
    // thread); ranges may then be left undone.
    template <typename Body> void ForRanges(int count, int chunk, Body&& body) {
        if (count <= 0)
            return;
        if (chunk < 1)
            chunk = 1;
        ForShares(
            count, chunk, [&](int t) { return ShareStart(count, chunk, t, m_nThreads); }, body);
    }

    // The first item of share t (t = 0..threads) when count items in ranges of
    // chunk are split among threads: whole ranges, as evenly as they go.
    static int ShareStart(int count, int chunk, int t, int threads) {
        const int64_t ranges = (int64_t(count) + chunk - 1) / chunk;
        const int64_t first = chunk * (ranges * t / (threads > 1 ? threads : 1));
        return first < count ? static_cast<int>(first) : count;
    }

    // As ForRanges, but share t holds the items from first(t) on, to
    // first(t + 1) (first(0) is taken as 0, first(Size()) as count), in
    // ranges of chunk items from its start. Jobs over values of the same
    // nodes, split alike, give each thread the same nodes.
    template <typename First, typename Body>
    void ForShares(int count, int chunk, First&& first, Body&& body) {
        if (count <= 0)
            return;
        if (chunk < 1)
            chunk = 1;
        int begin = 0;
        for (int t = 0; t < m_nThreads; ++t) {
            int end = t + 1 < m_nThreads ? first(t + 1) : count;
            end = end < begin ? begin : end > count ? count : end;
            OpenShare(t, begin, end, chunk);
            begin = end;
        }
        auto job = [&](int thread) {
            int rangeBegin = 0;
            int rangeEnd = 0;
            while (ClaimRange(thread, rangeBegin, rangeEnd))
                body(rangeBegin, rangeEnd, thread);
        };
        RunErased(
            [](void* context, int thread) { (*static_cast<decltype(job)*>(context))(thread); },
            &job);
    }

    // body(begin, end) over count items in ranges of a size that balances
    // the threads.
    template <typename Body> void ForBlocks(int count, Body&& body) {
        ForRanges(count, BlockSize(count), [&](int begin, int end, int) { body(begin, end); });
    }

    // body(item, thread) for count items claimed chunk by chunk.
    template <typename Body> void ForChunks(int count, int chunk, Body&& body) {
        ForRanges(count, chunk, [&](int begin, int end, int thread) {
            for (int item = begin; item < end; ++item)
                body(item, thread);
        });
    }

    // The range size of ForBlocks: about eight ranges per thread.
    int BlockSize(int count) const;

private:
    void Stop();
    using JobEntry = void (*)(void* context, int thread);

    void RunErased(JobEntry entry, void* context);
    void OpenShare(int thread, int first, int end, int chunk);
    bool ClaimRange(int thread, int& begin, int& end);
    void WorkerLoop(int thread);
    void RunJob(int thread);
    bool Join(uint32_t job);

    int m_nThreads;
    JobEntry m_entry = nullptr;
    void* m_context = nullptr;
    uint32_t m_job = 0;                                       // the caller's count of jobs
    alignas(TEAM_LINE) std::atomic<uint32_t> m_generation{0}; // the job on offer (a futex word)
    alignas(TEAM_LINE) std::atomic<uint64_t> m_door{0}; // job << 32 | closed bit | threads joined
    alignas(TEAM_LINE) std::atomic<uint32_t> m_left{0}; // joined threads done (a futex word)
    alignas(TEAM_LINE) std::atomic<uint32_t> m_workersAsleep{0}; // threads asleep on m_generation
    alignas(TEAM_LINE) std::atomic<uint32_t> m_callerAsleep{0};  // the caller asleep on m_left
    std::atomic<bool> m_stop{false};
    // A thread's share of the current job: items first..end-1 in ranges of
    // chunk; word: the next of its ranges from the front in the low 32 bits,
    // the number of its ranges not taken from the back in the high ones.
    struct alignas(TEAM_LINE) CShare {
        std::atomic<uint64_t> word{0};
        int first = 0;
        int end = 0;
        int chunk = 1;
    };
    std::unique_ptr<CShare[]> m_shares;         // one per thread
    std::vector<std::exception_ptr> m_failures; // per thread, of the current job
    std::vector<std::thread> m_threads;
};
