// Micro-benchmarks of the two inner loops of a global step: the transport
// step over a grid (the face loops of one thread, the per-node gather on one
// or more threads, with the bytes it must move) and the local integration of
// one node's reactions; and the machine's memory bandwidth (a STREAM triad),
// the bound of the transport step's bytes, and the time a cache line takes
// from one core to another and back (what every hand-over between threads
// costs; on a virtual machine it changes with where the host runs its CPUs).
//
//   build/release/bench/kova_micro_bench [--benchmark_filter=...]
#include "heads/flow_field.h"
#include "heads/heads.h"
#include "io/reader.h"
#include "model/node_array.h"
#include "model/simulation.h"
#include "run/message_sink.h"
#include "run/run_control.h"
#include "rxn/reactions.h"
#include "rxn/rxn_set.h"
#include "rxn/rxn_work.h"
#include "transport/transport.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <pthread.h>
#include <sched.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

enum ENetwork { NETWORK_DECAY, NETWORK_DUAL_MONOD };

std::string Zeros(int count, int at1 = -1, double v1 = 0, int at2 = -1, double v2 = 0, int at3 = -1,
                  double v3 = 0) {
    std::string text;
    for (int k = 0; k < count; ++k) {
        double v = 0.0;
        if (k == at1)
            v = v1;
        if (k == at2)
            v = v2;
        if (k == at3)
            v = v3;
        text += std::to_string(v) + " ";
    }
    return text;
}

// A rows x cols grid 2 m apart between fixed heads 20 m (first column) and
// 18 m (last column), with a plume in its first rows; as bench/make_model.py
// writes it. Decay: 3 mobile components in a chain. Dual Monod: biomass and
// sorbed donor (immobile), donor, oxygen, A, B, AB (mobile).
std::string Model(int rows, int cols, ENetwork network) {
    const int nImmobile = network == NETWORK_DECAY ? 0 : 2;
    const int nMobile = network == NETWORK_DECAY ? 3 : 5;
    const int nComp = 7 + nImmobile + nMobile;
    const int first = 7 + nImmobile;
    std::ostringstream out;
    const int nRxn = network == NETWORK_DECAY ? 3 : 3;
    out << rows << " " << cols << " " << nImmobile << " " << nMobile << " " << nRxn << " 1\n";
    out << "0 10 1 0.125 1e-6\n";
    for (int i = 0; i < rows; ++i)
        out << 2.0 * i << " ";
    out << "\n";
    for (int j = 0; j < cols; ++j)
        out << 2.0 * j << " ";
    out << "\n";
    for (int m = 0; m < nMobile; ++m)
        out << "2 0.2 0.0001\n";
    std::vector<double> defaults(ToSize(nComp), 0.0);
    double* entry = defaults.data();
    entry[2] = 0.3;
    entry[3] = 50.0;
    entry[4] = 50.0;
    if (network == NETWORK_DUAL_MONOD) {
        entry[7] = 0.05;
        entry[first + 1] = 8.0;
        entry[first + 2] = 1.0;
        entry[first + 3] = 1.0;
        entry[first + 4] = 10.0;
    }
    for (double v : defaults)
        out << v << " ";
    out << "\n";
    std::vector<std::string> overrides;
    for (int i = 0; i < rows; ++i) {
        overrides.push_back(std::to_string(i) + " 0 0 20");
        overrides.push_back(std::to_string(i) + " " + std::to_string(cols - 1) + " 0 18");
    }
    for (int i = rows * 2 / 5; i < rows * 3 / 5 + 1; ++i)
        for (int j = cols / 25; j < cols / 10 + 1; ++j)
            overrides.push_back(std::to_string(i) + " " + std::to_string(j) + " " +
                                std::to_string(first) + " 20");
    out << overrides.size() << "\n";
    for (const std::string& o : overrides)
        out << o << "\n";
    out << 2 * rows << "\n";
    for (int i = 0; i < rows; ++i)
        out << i << " 0\n" << i << " " << cols - 1 << "\n";
    if (network == NETWORK_DECAY) {
        for (int m = 0; m < 3; ++m)
            out << "2 " << Zeros(nComp, first + m, -1.0, m < 2 ? first + m + 1 : -1, 1.0) << " 1 "
                << first + m << " 0.05\n";
        out << "0 0 0 3 0 1 2\n";
    } else {
        const int donor = first, oxygen = first + 1, a = first + 2, b = first + 3, ab = first + 4;
        out << "5 " << Zeros(nComp, donor, -1.0, oxygen, -3.1, 7, 0.4) << " 2 1 0.5 7 " << donor
            << " " << oxygen << "\n";
        out << "11 " << Zeros(nComp, donor, -1.0, 8, 1.0) << " 0.5 0.2 " << donor << " 8\n";
        out << "0 " << Zeros(nComp, a, -1.0, b, -1.0, ab, 1.0);
        for (int k = 0; k < nComp; ++k)
            out << (k == ab ? 1 : (k == a || k == b) ? -1 : 0) << " ";
        out << " 10\n";
        out << "0 0 1 2 2 0 1\n";
    }
    return out.str();
}

// Drops the model's diagnostic lines.
class CQuietSink : public CMessageSink {
public:
    void ShowMessage(const char*, const char*, const char*) override {}
    void WriteDiagnostic(const char*) override {}
};

// A model read, its heads and flow field computed, and its first step's
// start state in place.
struct CLoaded {
    CQuietSink sink;
    CRunControl control{"bench"};
    CSimulation sim{&control};
    CReactions rx;
    CLoaded(int rows, int cols, ENetwork network, int threads) {
        control.SetMessageSink(&sink);
        std::istringstream in(Model(rows, cols, network));
        ReadInput(sim, rx, in);
        InitHeads(sim);
        ComputeFlowField(sim);
        const double* stateNew = sim.m_stateNew.get();
        for (int t = 0; t < sim.m_nValues; ++t)
            sim.m_state[t] = stateNew[t];
        sim.m_nThreads = threads;
    }
};

void BM_TransportStep(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    CLoaded model(n, n, NETWORK_DECAY, static_cast<int>(state.range(1)));
    // lanes 0: the face loops; 1, 2, 4, 8: the gather in lanes of that width
    // (4 only where the processor has AVX2, 8 only where it has AVX-512).
    const int lanes = static_cast<int>(state.range(2));
    SetGatherLanes(lanes);
    if (lanes != GatherLanes() && lanes > 0) {
        state.SkipWithError("the processor has no lanes this wide");
        return;
    }
    for (auto _ : state) {
        if (lanes > 0)
            TransportStepGather(model.sim);
        else
            TransportStepFaceLoops(model.sim);
        benchmark::DoNotOptimize(model.sim.m_transportDelta[0]);
    }
    SetGatherLanes(0);
    state.SetItemsProcessed(state.iterations() * model.sim.m_nNodes);
    state.counters["nodes"] = model.sim.m_nNodes;
    // What a step must move at least, per node: its state read (m_nComp
    // doubles), its dispersion coefficients read (3 per mobile component),
    // its transport change written (m_nComp doubles, and as much read by the
    // write-allocate); neighbours' rows come from the caches.
    const double bytes = 8.0 * (3.0 * model.sim.m_nComp + 3.0 * model.sim.m_nMobile);
    state.SetBytesProcessed(
        static_cast<int64_t>(static_cast<double>(state.iterations()) * model.sim.m_nNodes * bytes));
}
BENCHMARK(BM_TransportStep)
    ->ArgNames({"grid", "threads", "lanes"})
    ->Args({10, 1, 0})
    ->Args({10, 1, 8})
    ->Args({100, 1, 0})
    ->Args({100, 1, 4})
    ->Args({100, 1, 8})
    ->Args({100, 2, 8})
    ->Args({400, 1, 0})
    ->Args({400, 1, 1})
    ->Args({400, 1, 2})
    ->Args({400, 1, 4})
    ->Args({400, 1, 8})
    ->Args({400, 2, 4})
    ->Args({400, 2, 8})
    ->Args({1000, 1, 8})
    ->Args({1000, 2, 8})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// The machine's memory bandwidth, as STREAM measures it: the triad
// a = b + s c over arrays far larger than the caches (3 x 256 MiB), on 1 or 2
// threads, each thread its own contiguous half. Bytes counted as STREAM counts
// them: 24 a element (the write-allocate read of a, 8 more, is not counted).
void BM_StreamTriad(benchmark::State& state) {
    const size_t n = size_t(1) << 25;
    const int threads = static_cast<int>(state.range(0));
    // Allocated as the engine allocates its node arrays (on huge pages where
    // the system has them), so that both pay the same for their pages.
    CNodeArray<double> a = ZeroedNodeArray<double>(n, true);
    CNodeArray<double> b = ZeroedNodeArray<double>(n, true);
    CNodeArray<double> c = ZeroedNodeArray<double>(n, true);
    // Every page is written once before the timing, a's too: its first
    // writes would otherwise time the page faults.
    for (size_t i = 0; i < n; ++i) {
        a[i] = 0.0;
        b[i] = 1.0;
        c[i] = 2.0;
    }
    const double scalar = 3.0;
    auto triad = [&](size_t begin, size_t end) {
        double* pa = a.get();
        const double* pb = b.get();
        const double* pc = c.get();
        for (size_t i = begin; i < end; ++i)
            pa[i] = pb[i] + scalar * pc[i];
    };
    for (auto _ : state) {
        if (threads == 1) {
            triad(0, n);
        } else {
            std::vector<std::thread> team;
            for (int t = 0; t < threads; ++t)
                team.emplace_back(triad, n * ToSize(t) / ToSize(threads),
                                  n * ToSize(t + 1) / ToSize(threads));
            for (std::thread& t : team)
                t.join();
        }
        benchmark::DoNotOptimize(a[n / 2]);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 24 *
                            static_cast<int64_t>(n));
}
BENCHMARK(BM_StreamTriad)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// One node of the plume (in the patch, where the reactions act), integrated
// over a global step from the same start again and again.
void BM_RxnSetIntegrate(benchmark::State& state) {
    const ENetwork network = state.range(0) == 0 ? NETWORK_DECAY : NETWORK_DUAL_MONOD;
    CLoaded model(20, 20, network, 1);
    CSimulation& sim = model.sim;
    const int node = 10 * 20 + 1; // inside the patch
    const double* start = sim.m_state + node * sim.m_nComp;
    std::vector<double> transport(ToSize(sim.m_nComp), 0.0);
    std::vector<double> change(ToSize(sim.m_nComp), 0.0);
    std::vector<double> result(ToSize(sim.m_nComp), 0.0);
    CRxnWork work(sim.m_nComp);
    const CRxnSet& set = *model.rx.m_sets[0];
    for (auto _ : state) {
        result = change;
        double fraction = 1.0;
        int hold = 0;
        set.Integrate(start, result.data(), transport.data(), sim.m_clock.m_globalStep, &fraction,
                      &hold, work);
        benchmark::DoNotOptimize(result.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(network == NETWORK_DECAY ? "decay chain"
                                            : "dual Monod + sorption + equilibrium");
}
BENCHMARK(BM_RxnSetIntegrate)->ArgName("network")->Arg(0)->Arg(1);

// Runs the calling thread on CPU cpu; false when the process may not.
bool RunOn(size_t cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

// One cache line from CPU 0 to CPU 1 and back: a counter that the two threads
// raise in turn, per round trip.
void BM_CoreRoundTrip(benchmark::State& state) {
    constexpr int64_t tripsPerIteration = 10000;
    alignas(64) std::atomic<int64_t> turn{0};
    std::atomic<bool> stop{false};
    if (!RunOn(0)) {
        state.SkipWithError("cannot run on CPU 0");
        return;
    }
    std::thread partner([&] {
        RunOn(1);
        int64_t next = 1;
        while (!stop.load(std::memory_order_relaxed)) {
            if (turn.load(std::memory_order_acquire) != next)
                continue;
            turn.store(next + 1, std::memory_order_release);
            next += 2;
        }
    });
    int64_t value = 0;
    for (auto _ : state) {
        for (int64_t trip = 0; trip < tripsPerIteration; ++trip) {
            turn.store(value + 1, std::memory_order_release);
            while (turn.load(std::memory_order_acquire) != value + 2) {
            }
            value += 2;
        }
    }
    stop.store(true, std::memory_order_relaxed);
    partner.join();
    state.SetItemsProcessed(state.iterations() * tripsPerIteration);
    state.counters["ns_per_round_trip"] =
        benchmark::Counter(static_cast<double>(state.iterations() * tripsPerIteration),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CoreRoundTrip)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
