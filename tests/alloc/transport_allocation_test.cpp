// The transport steps allocate nothing once their work is made: every
// scheme, explicit and implicit, including the implicit step's trial passes.
// The executable counts the process's mallocs itself (glibc's allocator
// underneath), so it is built without the sanitizers, which own malloc.
#include "model/extension.h"
#include "model/index.h"
#include "support/engine.h"
#include "transport/implicit_transport.h"
#include "transport/transport.h"
#include "transport/transport_schemes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
}

namespace {
std::atomic<long> g_allocations{0};
} // namespace

extern "C" {
void* malloc(size_t size) noexcept {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) noexcept {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) noexcept {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}
}

using namespace kova_test;

namespace {

struct CStepCase {
    const char* name;
    ETransportScheme scheme;
    bool implicit;
};

class TransportSteps : public ::testing::TestWithParam<CStepCase> {};

// 12 x 12 nodes, heads falling along both axes (a cross term), two mobile
// components, one injected node and one sink.
TEST_P(TransportSteps, AllocateNothingOnceTheirWorkIsMade) {
    CEngine engine;
    CTestModel model;
    model.Grid(12, 12);
    model.Mobile(2.0, 0.5, 0.01).Mobile(1.0, 0.1, 0.0);
    model.defaults = {0, 0, 0.3, 1, 1, 0, 0, 0.5, 0.25};
    for (int i = 0; i < 12; ++i)
        for (int j = 0; j < 12; ++j)
            if (i == 0 || j == 0 || i == 11 || j == 11)
                model.Set(i, j, SLOT_HEAD, 20.0 - 0.5 * i - 0.7 * j).Fixed(i, j);
    model.Set(4, 5, 7, 3.0);
    model.Set(6, 6, SLOT_SOURCE, -0.01);
    engine.Read(model);
    engine.Heads();
    engine.Flow();
    CSimulation& sim = engine.sim;
    sim.m_ext.m_scheme = GetParam().scheme;
    sim.m_ext.m_time = GetParam().implicit ? ETransportTime::IMPLICIT : ETransportTime::EXPLICIT;
    int limiting = -1;
    sim.m_clock.m_globalStep =
        (GetParam().implicit ? 20.0 : 0.5) * TvdStableStep(sim, 1e6, &limiting);
    for (int t = 0; t < sim.m_nValues; ++t)
        sim.m_state[t] = sim.m_stateNew.get()[t];
    const CTransportChoice choice(sim);
    PrepareUpstreamWork(sim);
    sim.Transport().Prepare(sim);
    sim.Transport().Step(sim);

    const long before = g_allocations.load();
    for (int step = 0; step < 4; ++step) {
        if (GetParam().implicit)
            sim.Transport().StartTrial(sim);
        sim.Transport().Step(sim);
        if (GetParam().implicit) {
            sim.Transport().NoteReactionRate(sim);
            sim.Transport().EndTrial(sim);
            sim.Transport().Step(sim);
        }
        for (int t = 0; t < sim.m_nValues; ++t)
            sim.m_state[t] += sim.m_transportDelta[t];
    }
    EXPECT_EQ(g_allocations.load() - before, 0);
    // A changed step makes the implicit systems and their factors anew, in
    // the arrays they were first made in.
    const long long setups = sim.m_times.m_implicit.m_setups;
    sim.m_clock.m_globalStep *= 2.0;
    sim.Transport().Step(sim);
    EXPECT_EQ(g_allocations.load() - before, 0);
    if (GetParam().implicit) {
        EXPECT_EQ(sim.m_times.m_implicit.m_setups, setups + 2);
    }
    // The counter counts: preparing the implicit work anew allocates it.
    if (GetParam().implicit) {
        sim.Transport().Prepare(sim);
        EXPECT_GT(g_allocations.load() - before, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Schemes, TransportSteps,
    ::testing::Values(CStepCase{"default", ETransportScheme::DEFAULT, false},
                      CStepCase{"symmetric", ETransportScheme::SYMMETRIC, false},
                      CStepCase{"tvd", ETransportScheme::TVD, false},
                      CStepCase{"default_implicit", ETransportScheme::DEFAULT, true},
                      CStepCase{"symmetric_implicit", ETransportScheme::SYMMETRIC, true},
                      CStepCase{"tvd_implicit", ETransportScheme::TVD, true}),
    [](const ::testing::TestParamInfo<CStepCase>& param) { return std::string(param.param.name); });

} // namespace
