// The time loop (sim/time_loop.h).
#include "sim/time_loop.h"

#include "heads/flow_field.h"
#include "io/run_output.h"
#include "model/exceptions.h"
#include "model/extension.h"
#include "model/limits.h"
#include "model/node_view.h"
#include "model/number_text.h"
#include "model/record_clock.h"
#include "model/simulation.h"
#include "run/first_failure.h"
#include "run/message_sink.h"
#include "run/run_progress.h"
#include "run/thread_team.h"
#include "rxn/reactions.h"
#include "rxn/rxn_set.h"
#include "sim/mass_accounting.h"
#include "sim/model_warnings.h"
#include "sim/run_checkpoint.h"
#include "transport/implicit_transport.h"
#include "transport/transport.h"
#include "transport/transport_schemes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <new>
#include <string>

namespace {

// Every value on its own, in one pass. The old state need not be kept (in
// m_transportDelta, say): the transport step overwrites all of that array.
void StartValues(double* state, double* stateNew, int first, int end) {
    for (int t = first; t < end; ++t) {
        const double old = state[t];
        state[t] = stateNew[t];
        stateNew[t] = state[t] - old;
    }
}

} // namespace

// m_state becomes the state at the start of the step and m_stateNew the change
// over the previous step, the predictor of the local integration. In the first
// step m_state still holds what the initial heads left in m_work.
void StartGlobalStep(CSimulation& s, int first, int end) {
    double* state = s.m_state;
    double* stateNew = s.m_stateNew.get();
    if (s.m_nThreads == 1) {
        StartValues(state, stateNew, first, end);
        return;
    }
    // Each thread the values of its own nodes, in one range: the work is
    // even, and a range taken by another thread would move its values over.
    const int count = end - first;
    const auto share = [&](int t) { return s.NodeShareStart(t) * s.m_nComp - first; };
    s.Team().ForShares(count, count, share, [&](int begin, int stop, int) {
        StartValues(state, stateNew, first + begin, first + stop);
    });
}

namespace {

bool LeftMobileNegative(const double* state, int firstMobile, int nComp) {
    for (int i = firstMobile; i < nComp; ++i)
        if (state[i] < 0.0)
            return true;
    return false;
}

bool NegativeAfterTransport(const double* start, const double* transport, int firstMobile,
                            int nComp) {
    for (int i = firstMobile; i < nComp; ++i)
        if (start[i] + transport[i] < 0.0)
            return true;
    return false;
}

// split: a node the reactions left with a negative mobile value is taken
// again with the transport change applied before the reactions. A long
// implicit step hands the reactions a change far larger than one explicit
// step's; taken as a constant rate it keeps draining a node after fast
// reactions (decay with rate x step well above 1) have used up what it
// held, and the node ends below zero, which no sound answer does. Where the
// transport alone leaves the node at zero or above, the reactions then act
// on what is there. The node's step control starts again as it was.
void IntegrateNode(CSimulation& s, const CReactions& rx, int n, CRxnWork& work, bool split) {
    const int nComp = s.m_nComp;
    const int offset = n * nComp;
    const CRxnSet& set = *rx.m_sets[s.m_nodeRxnSet.get()[n]];
    const double* start = s.m_state + offset;
    double* state = s.m_stateNew.get() + offset;
    const double* transport = s.m_transportDelta + offset;
    double* fraction = s.m_localFraction.get() + n;
    int* hold = s.m_localHold.get() + n;
    const double fractionBefore = *fraction;
    const int holdBefore = *hold;
    work.m_node = n;
    set.Integrate(start, state, transport, s.m_clock.m_globalStep, fraction, hold, work);
    const int firstMobile = nComp - s.m_nMobile;
    if (!split || !LeftMobileNegative(state, firstMobile, nComp) ||
        NegativeAfterTransport(start, transport, firstMobile, nComp))
        return;
    // The reactions' change of the first integration predicts the second's.
    for (int i = 0; i < nComp; ++i)
        state[i] -= start[i] + (i < firstMobile ? 0.0 : transport[i]);
    *fraction = fractionBefore;
    *hold = holdBefore;
    set.IntegrateAfterTransport(start, state, transport, s.m_clock.m_globalStep, fraction, hold,
                                work);
    // The transport change went in whole, whatever the local steps covered.
    work.m_elapsed = s.m_clock.m_globalStep;
}

// A node's failure names the reaction record that failed (if a reaction
// did), the node and the global step. Only on that path: the loops pay
// nothing for it.
void NameFailure(const CSimulation& s, const CReactions& rx, Exception& e, int n,
                 const CRxnWork& work) {
    if (const int r = work.m_rxn ? rx.IndexOf(work.m_rxn) : -1; r >= 0)
        e.AddWhere("in reaction record " + std::to_string(r));
    e.AddWhere("at node (" + std::to_string(n / s.m_nCols) + ", " + std::to_string(n % s.m_nCols) +
               ") in the global step from time " + ExactText(s.m_clock.m_currentTime));
}

} // namespace

namespace {

// The nodes begin..end-1; BUDGET: their amounts and changes go into sums
// (null otherwise); POROSITY: a reaction may change a porosity. A function
// of its own for each, so that each loop keeps its values in registers.
template <bool BUDGET, bool POROSITY>
__attribute__((noinline)) void IntegrateChunkNodes(CSimulation& s, const CReactions& rx, int begin,
                                                   int end, CRxnWork& work, CBudgetChunk* sums,
                                                   bool split) {
    double* column = BUDGET ? sums->Column(begin) : nullptr;
    const int step = column ? 1 : 0; // a null column stays null
    for (int n = begin; n < end; ++n) {
        if (s.m_nThreads == 1)
            s.m_currentNode = n;
        if (BUDGET) {
            work.m_ledgerPass = column;
            column += step;
        }
        try {
            IntegrateNode(s, rx, n, work, split);
        } catch (Exception& e) {
            NameFailure(s, rx, e, n, work);
            throw;
        }
        if (BUDGET)
            sums->EndNode(n, work.m_elapsed);
        if (POROSITY)
            sums->EndNodePorosity(n);
    }
}

} // namespace

void IntegrateChunk(CSimulation& s, CReactions& rx, int begin, int end, int thread, bool account) {
    CRxnWork& work = rx.m_works[ToSize(thread)];
    const bool split = s.Transport().IsImplicit();
    if (!account || s.m_budget == nullptr) {
        work.m_ledgerPass = nullptr; // a pass that is not accounted keeps no amounts
        IntegrateChunkNodes<false, false>(s, rx, begin, end, work, nullptr, split);
        return;
    }
    CBudgetChunk sums;
    sums.Open(s, rx, thread, begin, end);
    if (sums.m_porosity)
        IntegrateChunkNodes<true, true>(s, rx, begin, end, work, &sums, split);
    else
        IntegrateChunkNodes<true, false>(s, rx, begin, end, work, &sums, split);
    sums.SumNodes();
    sums.AddReactions();
    sums.AddTransport();
    EndNodeChunk(s, thread);
}

namespace {

// Every node on its own: the nodes share nothing but read-only data, so the
// threads give the serial loop's bits. A failure ends the step as in the
// serial loop: the one of the lowest node is thrown. account: the changes go
// into the budget.
void IntegrateNodes(CSimulation& s, CReactions& rx, bool account = true) {
    if (s.m_nThreads == 1) {
        for (int begin = 0; begin < s.m_nNodes; begin += RXN_NODE_CHUNK)
            IntegrateChunk(s, rx, begin, std::min(s.m_nNodes, begin + RXN_NODE_CHUNK), 0, account);
        return;
    }
    CFirstFailure failure;
    const auto share = [&](int t) { return s.NodeShareStart(t); };
    s.Team().ForShares(s.m_nNodes, RXN_NODE_CHUNK, share, [&](int begin, int end, int thread) {
        if (failure.Skips(begin))
            return;
        try {
            IntegrateChunk(s, rx, begin, end, thread, account);
        } catch (...) {
            failure.Record(begin, std::current_exception());
        }
    });
    failure.Rethrow();
}

} // namespace

void CheckStateIsFinite(const CSimulation& s, int first, int end) {
    const double* state = s.m_stateNew.get();
    for (int t = first; t < end; ++t) {
        if (std::isfinite(state[t]))
            continue;
        const int n = t / s.m_nComp;
        throw ComputeException("entry " + std::to_string(t % s.m_nComp) + " of node (" +
                               std::to_string(n / s.m_nCols) + ", " +
                               std::to_string(n % s.m_nCols) + ") is " + ExactText(state[t]) +
                               " at time " + ExactText(s.m_clock.m_currentTime) +
                               ", not a finite number: the record is not written");
    }
}

double StateRangeBound(const CSimulation& s, int firstNode, int endNode) {
    double largest = 1.0;
    const double* state = s.m_stateNew.get();
    for (int n = firstNode; n < endNode; ++n) {
        const double* node = state + static_cast<size_t>(n) * static_cast<size_t>(s.m_nComp);
        for (int k = SLOT_COUNT; k < s.m_nComp; ++k)
            largest = std::max(largest, std::fabs(node[k]));
    }
    for (const CInjectTable& table : s.m_ext.m_inject.m_tables)
        for (double c : table.m_concentration)
            largest = std::max(largest, std::fabs(c));
    return STATE_RANGE_FACTOR * largest;
}

namespace {

// What the failure of an unstable transport says of its step.
std::string StepText(const CSimulation& s) {
    if (s.Transport().IsImplicit())
        return "the implicit transport's global step " + ExactText(s.m_clock.m_globalStep);
    int limiting = -1;
    const int rowBegin = s.m_heldFirst / s.m_nCols;
    const int rowEnd = (s.m_heldEnd + s.m_nCols - 1) / s.m_nCols;
    const double stable = s.Transport().StableStep(
        s, s.m_settings.m_endTime - s.m_settings.m_startTime, &limiting, rowBegin, rowEnd);
    std::string text = "the global step " + ExactText(s.m_clock.m_globalStep) +
                       " against the stable step " + ExactText(stable);
    if (limiting >= 0)
        text += " of node (" + std::to_string(limiting / s.m_nCols) + ", " +
                std::to_string(limiting % s.m_nCols) + ")";
    return text;
}

} // namespace

void CheckStateInRange(const CSimulation& s, int first, int end, double bound) {
    const double* state = s.m_stateNew.get();
    const int firstMobile = s.m_nComp - s.m_nMobile;
    for (int t = first; t < end; ++t) {
        const int k = t % s.m_nComp;
        if (k < firstMobile || std::fabs(state[t]) <= bound)
            continue;
        const int n = t / s.m_nComp;
        throw ComputeException(
            EntryName(s.m_ext, s.m_nComp, s.m_nMobile, k) + " (entry " + std::to_string(k) +
            ") of node (" + std::to_string(n / s.m_nCols) + ", " + std::to_string(n % s.m_nCols) +
            ") is " + ExactText(state[t]) + " at time " + ExactText(s.m_clock.m_currentTime) +
            ", beyond " + ExactText(bound) +
            ", a million times the largest initial or injected value: the transport has grown "
            "without bound with " +
            StepText(s) + "; the record is not written");
    }
}

namespace {

// A global step given by the model above the step the transport is stable
// with may make the transport oscillate and grow: said once, not refused.
void WarnAboveStableStep(const CSimulation& s) {
    int limiting = -1;
    const double stable = s.Transport().StableStep(
        s, s.m_settings.m_endTime - s.m_settings.m_startTime, &limiting, 0, s.m_nRows);
    WarnAboveStableStep(s, stable, limiting);
}

} // namespace

void WarnAboveStableStep(const CSimulation& s, double stable, int limiting) {
    if (!(s.m_clock.m_globalStep > stable) || limiting < 0)
        return;
    if (CMessageSink* sink = s.m_progress->GetMessageSink()) {
        const std::string line =
            "the global step " + ExactText(s.m_clock.m_globalStep) +
            " of the model is larger than the stable step " + ExactText(stable) + " (node (" +
            std::to_string(limiting / s.m_nCols) + ", " + std::to_string(limiting % s.m_nCols) +
            ")); the transport may oscillate";
        sink->WriteWarning(line.c_str());
    }
}

namespace {

void WarnOfReverseFlow(const CSimulation& s) {
    const std::string line = ReverseFlowWarning(s);
    if (line.empty())
        return;
    if (CMessageSink* sink = s.m_progress->GetMessageSink())
        sink->WriteWarning(line.c_str());
}

// One work per thread and the threads themselves, made here once for the
// whole loop.
void PrepareWork(CSimulation& s, CReactions& rx) {
    if (s.m_nThreads < 1)
        s.m_nThreads = 1;
    if (s.m_nThreads > THREADS_MAX)
        s.m_nThreads = THREADS_MAX;
    // The row gather runs the default scheme's transport.
    if (s.m_nThreads > 1)
        s.Team();
    const size_t scratch = GatherScratchSize(s) * ToSize(s.m_nThreads);
    const double faceBytes = UpstreamWorkBytes(s);
    try {
        SizeGatherScratch(s);
        PrepareUpstreamWork(s);
        s.Transport().Prepare(s);
        rx.m_works.clear();
        rx.m_works.resize(ToSize(s.m_nThreads));
        for (CRxnWork& work : rx.m_works)
            work.Allocate(s.m_nComp);
    } catch (const std::bad_alloc&) {
        const double bytes =
            faceBytes + 8.0 * (static_cast<double>(scratch) +
                               5.0 * s.m_nComp * static_cast<double>(s.m_nThreads));
        throw ComputeException(OutOfMemory("the transport and reaction work of " +
                                               std::to_string(s.m_nThreads) + " threads",
                                           bytes));
    }
}

} // namespace

void WarnOfManySteps(const CSimulation& s, int limiting) {
    const double steps =
        (s.m_settings.m_endTime - s.m_settings.m_startTime) / s.m_clock.m_globalStep;
    if (!(steps > STEP_COUNT_WARN) || limiting < 0)
        return;
    CMessageSink* sink = s.m_progress->GetMessageSink();
    if (!sink)
        return;
    const CNodeView node(s.m_stateNew.get() + static_cast<size_t>(limiting) * ToSize(s.m_nComp));
    char count[32];
    std::snprintf(count, sizeof count, "%.3g", steps);
    const std::string line =
        "the global step " + ExactText(s.m_clock.m_globalStep) + ", set by node (" +
        std::to_string(limiting / s.m_nCols) + ", " + std::to_string(limiting % s.m_nCols) +
        ") of porosity " + ExactText(node.Porosity()) + ", takes " + count +
        " global steps to reach the end time " + ExactText(s.m_settings.m_endTime) +
        ": the run may not end in any reasonable time";
    sink->WriteWarning(line.c_str());
}

void PrepareFlowAndStep(CSimulation& s) {
    CStopwatch watch;
    ComputeFlowField(s);
    s.m_times.m_flowField += watch.Lap();
    WarnOfReverseFlow(s);
    const double duration = s.m_settings.m_endTime - s.m_settings.m_startTime;
    int limiting = -1; // the node that sets a step the run computes
    if (s.Transport().IsImplicit()) {
        if (!(s.m_clock.m_globalStep > 0.0)) {
            ComputeImplicitStep(s, duration, &limiting);
            WarnOfManySteps(s, limiting);
        }
    } else if (!(s.m_clock.m_globalStep > 0.0)) {
        const double step = s.Transport().StableStep(s, duration, &limiting, 0, s.m_nRows);
        SetStableStep(s, duration, step, limiting);
        WarnOfManySteps(s, limiting);
    } else {
        WarnAboveStableStep(s);
    }
}

void PrepareStepWork(CSimulation& s, CReactions& rx) {
    PrepareWork(s, rx);
    PrepareBudget(s, rx);
}

void PrepareTimeLoop(CSimulation& s, CReactions& rx) {
    PrepareFlowAndStep(s);
    PrepareStepWork(s, rx);
}

void CheckStepAdvances(const CSimulation& s) {
    const double next = s.m_clock.m_currentTime + s.m_clock.m_globalStep;
    if (!(next > s.m_clock.m_currentTime))
        throw ComputeException("the global step " + ExactText(s.m_clock.m_globalStep) +
                               " no longer advances the clock at time " +
                               ExactText(s.m_clock.m_currentTime));
    // Times beyond the largest double cannot be recorded.
    if (!std::isfinite(next))
        throw ComputeException("the model time overflows: time " +
                               ExactText(s.m_clock.m_currentTime) + " plus the global step " +
                               ExactText(s.m_clock.m_globalStep));
}

CLocalSteps CountLocalSteps(CSimulation& s, int first, int end) {
    CLocalSteps steps;
    const double* fractions = s.m_localFraction.get();
    if (s.m_nThreads == 1) {
        for (int n = first; n < end; ++n) {
            const double fraction = fractions[n];
            if (fraction < 1.0)
                steps.m_reduced += 1;
            if (fraction < steps.m_smallest)
                steps.m_smallest = fraction;
        }
        return steps;
    }
    // A count and a minimum, one block per thread: the same in any order.
    CLocalSteps parts[THREADS_MAX];
    CThreadTeam& team = s.Team();
    const int count = end - first;
    team.ForRanges(count, team.BlockSize(count), [&](int begin, int stop, int thread) {
        CLocalSteps& part = parts[thread];
        for (int n = first + begin; n < first + stop; ++n) {
            const double fraction = fractions[n];
            if (fraction < 1.0)
                part.m_reduced += 1;
            if (fraction < part.m_smallest)
                part.m_smallest = fraction;
        }
    });
    for (int thread = 0; thread < team.Size(); ++thread) {
        steps.m_reduced += parts[thread].m_reduced;
        if (parts[thread].m_smallest < steps.m_smallest)
            steps.m_smallest = parts[thread].m_smallest;
    }
    return steps;
}

void CheckRecordState(const CSimulation& s, CNodeRange own, double bound) {
    CheckStateIsFinite(s, own.m_first * s.m_nComp, own.m_end * s.m_nComp);
    CheckStateInRange(s, own.m_first * s.m_nComp, own.m_end * s.m_nComp, bound);
}

namespace {

// An implicit step that does not know the reactions' rate yet (the first)
// is taken without a trace (no budget, no output), each pass from the same
// start, until the rate settles; then the step is taken for good.
void SettleReactionRate(CSimulation& s, CReactions& rx, CLoopDomain& domain, CStopwatch& watch) {
    for (int passes = 0; domain.NeedsTrialPass(s, passes); ++passes) {
        domain.StartTrial(s);
        domain.Transport(s);
        s.m_times.m_transport += watch.Lap();
        domain.React(s, rx, false);
        const bool settled = domain.NoteReactionRate(s);
        domain.EndTrial(s);
        s.m_times.m_reactions += watch.Lap();
        if (domain.Agreed(settled))
            break;
    }
}

// One global step of transport and reactions; landing: it ends on that
// output time (its step shortened to reach it), which the time takes
// exactly, whatever the rounding of the time plus the step.
void GlobalStep(CSimulation& s, CReactions& rx, CLoopDomain& domain,
                const double* landing = nullptr) {
    CheckStepAdvances(s);
    CStopwatch watch;
    const CNodeRange read = domain.ReadNodes();
    StartGlobalStep(s, read.m_first * s.m_nComp, read.m_end * s.m_nComp);
    SettleReactionRate(s, rx, domain, watch);
    domain.Transport(s);
    s.m_times.m_transport += watch.Lap();
    domain.React(s, rx, true);
    domain.NoteReactionRate(s);
    s.m_times.m_reactions += watch.Lap();
    s.m_times.m_globalSteps += 1;
    s.m_clock.m_rxnBaseTime += s.m_clock.m_globalStep;
    s.m_clock.m_currentTime = landing ? *landing : s.m_clock.m_currentTime + s.m_clock.m_globalStep;
    s.m_progress->SetCurrentTime(s.m_clock.m_currentTime);
    domain.AfterStep(s);
    s.m_times.m_output += watch.Lap();
}

// A global step that lands on target when it would reach it: shortened to
// end there; the global step is the model's again after it.
void LandingStep(CSimulation& s, CReactions& rx, CLoopDomain& domain, double target) {
    if (s.m_clock.m_currentTime + s.m_clock.m_globalStep < target) {
        GlobalStep(s, rx, domain);
        return;
    }
    const double ordinary = s.m_clock.ShortenTo(target);
    GlobalStep(s, rx, domain, &target);
    s.m_clock.RestoreStep(ordinary);
}

// The run's record clock from output time k on; next: where a clock that
// does not land on its times stood.
CRecordClock RecordClockOf(const CSimulation& s, int64_t k, double next) {
    const CModelSettings& settings = s.m_settings;
    if (!s.m_ext.m_exactRecords)
        return CRecordClock(next, settings.m_outputInterval);
    const std::vector<double>& times = s.m_ext.m_recordTimes;
    return CRecordClock::Exact(settings.m_startTime, settings.m_outputInterval, settings.m_endTime,
                               times.empty() ? nullptr : &times, k);
}

// A record: the nodes integrated with a reduced local step and the smallest
// local step reported, the state checked, the checkpoint, then the budget
// and the record. cancel: the record of a cancel, before the output time.
void Record(CSimulation& s, CLoopDomain& domain, double bound, bool cancel) {
    const CNodeRange own = domain.OwnNodes();
    const CLocalSteps steps = domain.Combined(CountLocalSteps(s, own.m_first, own.m_end));
    s.m_progress->SetProgress(s.m_clock.m_currentTime, steps.m_smallest * s.m_clock.m_globalStep,
                              steps.m_reduced);
    domain.CheckRecord(s, bound);
    s.m_progress->SetStatus("Writing Output");
    CStopwatch watch;
    domain.Checkpoint(s, cancel, !(s.m_clock.m_currentTime < s.m_settings.m_endTime));
    domain.WriteRecord(s);
    s.m_times.m_output += watch.Lap();
    s.m_progress->SetStatus("Simulating ...");
}

// Every node on one process: the threads share its nodes.
class COneProcess final : public CLoopDomain {
public:
    COneProcess(CRunOutput& output, CRunCheckpoint* checkpoint)
        : m_output(output), m_checkpoint(checkpoint) {}

    void Prepare(CSimulation& s, CReactions& rx) override {
        WarnOfModel(s, rx);
        PrepareTimeLoop(s, rx);
        m_nodes = {0, s.m_nNodes};
    }
    CNodeRange OwnNodes() const override { return m_nodes; }
    CNodeRange ReadNodes() const override { return m_nodes; }

    bool Continue(CRunProgress* control) const override { return control->CheckContinue(); }
    double LargestOf(double mine) const override { return mine; }
    CLocalSteps Combined(const CLocalSteps& mine) const override { return mine; }
    bool Agreed(bool answer) const override { return answer; }

    bool NeedsTrialPass(const CSimulation& s, int passes) const override {
        return s.Transport().NeedsTrialPass(passes);
    }
    void StartTrial(CSimulation& s) override { s.Transport().StartTrial(s); }
    void EndTrial(CSimulation& s) override { s.Transport().EndTrial(s); }

    void Transport(CSimulation& s) override { s.Transport().Step(s); }
    void React(CSimulation& s, CReactions& rx, bool account) override {
        IntegrateNodes(s, rx, account);
    }
    bool NoteReactionRate(CSimulation& s) override { return s.Transport().NoteReactionRate(s); }
    void AfterStep(CSimulation& s) override { m_output.AfterStep(s); }

    void CheckRecord(const CSimulation& s, double bound) override {
        CheckRecordState(s, m_nodes, bound);
    }
    void WriteRecord(CSimulation& s) override {
        if (s.m_budget)
            RecordBudget(s);
        m_output.WriteRecord(s);
    }

    bool Resume(CSimulation& s) override {
        if (!m_checkpoint || !m_checkpoint->Continues())
            return false;
        m_checkpoint->Restore(s, m_output);
        return true;
    }
    void Checkpoint(CSimulation& s, bool cancel, bool last) override {
        if (m_checkpoint)
            m_checkpoint->BeforeRecord(s, m_output, cancel, last);
    }

private:
    CRunOutput& m_output;         // borrowed from the run; not closed here
    CRunCheckpoint* m_checkpoint; // borrowed from the run (null: none kept); not freed here
    CNodeRange m_nodes;
};

} // namespace

void TimeLoop(CSimulation& s, CReactions& rx, CLoopDomain& domain) {
    CRunProgress* control = s.m_progress;
    control->SetStatus("Simulating ...");
    // The reaction clock runs one input step behind the step being integrated.
    s.m_clock.m_rxnBaseTime = s.m_settings.m_startTime - s.m_clock.m_globalStep;
    s.m_clock.m_currentTime = s.m_settings.m_startTime;
    CRecordClock records = RecordClockOf(s, 0, s.m_settings.m_startTime);

    const CTransportChoice transport(s);
    domain.Prepare(s, rx);
    const CNodeRange own = domain.OwnNodes();
    const double bound = domain.LargestOf(StateRangeBound(s, own.m_first, own.m_end));
    // A run that goes on enters the loop where the stopped run was: before
    // the record it was about to write, or stepping on after a cancel.
    // A regular record is one output time: the checkpoint, taken before a
    // record, has counted those before the one due.
    if (domain.Resume(s))
        records = RecordClockOf(s, s.m_clock.m_recordCount, s.m_clock.m_nextRecord);

    for (;;) {
        // Step until the next output time is reached; a cancel still gets a
        // record at the time reached.
        while (records.Pending(s.m_clock.m_currentTime)) {
            if (!domain.Continue(control))
                break;
            if (records.Lands())
                LandingStep(s, rx, domain, records.Next());
            else
                GlobalStep(s, rx, domain);
        }
        s.m_clock.m_nextRecord = records.Next();
        Record(s, domain, bound, records.Pending(s.m_clock.m_currentTime));

        const bool advanced = records.Advance(s.m_clock.m_currentTime);
        if (!(s.m_clock.m_currentTime < s.m_settings.m_endTime && domain.Continue(control)))
            return;
        // An interval too small to move the output time would write records
        // for ever without a step.
        if (!advanced)
            throw ComputeException("the output interval " +
                                   ExactText(s.m_settings.m_outputInterval) +
                                   " no longer advances the output time at time " +
                                   ExactText(s.m_clock.m_currentTime));
    }
}

void TimeLoop(CSimulation& s, CReactions& rx, CRunOutput& output, CRunCheckpoint* checkpoint) {
    COneProcess domain(output, checkpoint);
    TimeLoop(s, rx, domain);
}
