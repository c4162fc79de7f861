// The time loop over MPI (par/par_time_loop.h).
#include "par/par_time_loop.h"

#include "heads/flow_field.h"
#include "model/exact_sum.h"
#include "model/exceptions.h"
#include "model/extension.h"
#include "model/index.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "par/par_comm.h"
#include "par/par_output.h"
#include "par/slab.h"
#include "run/first_failure.h"
#include "run/message_sink.h"
#include "run/run_progress.h"
#include "run/thread_team.h"
#include "sim/mass_accounting.h"
#include "sim/model_warnings.h"
#include "sim/run_checkpoint.h"
#include "sim/time_loop.h"
#include "transport/implicit_transport.h"
#include "transport/injection.h"
#include "transport/transport.h"
#include "transport/transport_schemes.h"

#include <mpi.h>

#include <algorithm>
#include <exception>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

constexpr int HALO_TAG = 1;
constexpr int TRANSPORT_TAG = 2; // the implicit step's transport change, from rank 0

// The budget's sums travel as their bytes: the same exact sum on every rank.
static_assert(std::is_trivially_copyable<CExactSum>::value, "exact sums are sent as bytes");

// Everything the loop uses, made before its first step: the loop allocates
// nothing.
struct CParPlan {
    CSlab m_slab;
    std::vector<CSlab> m_slabs;
    bool m_wholeGrid = false; // a transport step that rank 0 solves for the whole grid (implicit)
    std::vector<CHaloPart> m_receives;
    std::vector<CHaloPart> m_sends;
    std::vector<MPI_Request> m_requests;
    // Chunk starts: the chunks other ranks read from first, then the rest.
    std::vector<int> m_edgeChunks;
    std::vector<int> m_innerChunks;
    // The budget: this rank's interval sums of the terms, then its storage
    // sums of every state entry at a record, and rank 0's copies of all.
    std::vector<CExactSum> m_sumsOut;
    std::vector<CExactSum> m_sumsIn;
    // The wells: the nodes of this rank's wells (none on rank 0, which has
    // its own), their values, and on rank 0 what every rank sends.
    std::vector<int> m_wellNodes;
    std::vector<double> m_wellOut;
    std::vector<int> m_wellNodesIn;
    std::vector<double> m_wellIn;
    std::vector<int> m_wellCounts;
    std::vector<int> m_wellStarts;
    // The implicit step: rank 0's sends of the transport change, and on the
    // other ranks their nodes' start, kept through a trial pass.
    std::vector<MPI_Request> m_transportSends;
    CStepStart m_trialStart;
};

int OwnerOf(const CParPlan& p, int node) {
    for (size_t r = 0; r < p.m_slabs.size(); ++r)
        if (p.m_slabs[r].m_first <= node && node < p.m_slabs[r].m_end)
            return static_cast<int>(r);
    return 0;
}

void PlanChunks(CParPlan& p) {
    const CSlab& slab = p.m_slab;
    for (int begin = slab.m_first; begin < slab.m_end; begin += RXN_NODE_CHUNK) {
        const int end = std::min(slab.m_end, begin + RXN_NODE_CHUNK);
        bool edge = false;
        for (const CHaloPart& send : p.m_sends)
            edge = edge || (send.m_first < end && begin < send.m_end);
        (edge ? p.m_edgeChunks : p.m_innerChunks).push_back(begin);
    }
}

void PlanBudget(const CSimulation& s, const CParComm& comm, CParPlan& p) {
    if (!s.m_budget)
        return;
    const size_t sums = ToSize(s.m_budget->m_nTerms) + ToSize(s.m_nComp);
    p.m_sumsOut.assign(sums, CExactSum());
    if (comm.IsRoot())
        p.m_sumsIn.assign(sums * ToSize(comm.Size()), CExactSum());
}

// Rank 0 writes the wells' row after every step from the values of the
// ranks that own them.
void PlanWells(const CSimulation& s, const CParComm& comm, CParPlan& p) {
    if (s.m_ext.m_observe.empty())
        return;
    p.m_wellCounts.assign(ToSize(comm.Size()), 0);
    for (int r = 1; r < comm.Size(); ++r) {
        p.m_wellStarts.push_back(static_cast<int>(p.m_wellNodesIn.size()) * s.m_nComp);
        for (const CObservationWell& well : s.m_ext.m_observe) {
            const int node = well.m_row * s.m_nCols + well.m_col;
            if (OwnerOf(p, node) != r)
                continue;
            p.m_wellNodesIn.push_back(node);
            p.m_wellCounts[ToSize(r)] += s.m_nComp;
            if (r == comm.Rank())
                p.m_wellNodes.push_back(node);
        }
    }
    p.m_wellStarts.insert(p.m_wellStarts.begin(), 0);
    p.m_wellOut.assign(p.m_wellNodes.size() * ToSize(s.m_nComp), 0.0);
    if (comm.IsRoot())
        p.m_wellIn.assign(p.m_wellNodesIn.size() * ToSize(s.m_nComp), 0.0);
}

void PlanSlabs(const CSimulation& s, const CParComm& comm, CParPlan& p) {
    p.m_wholeGrid = s.Transport().IsImplicit();
    const int halo = s.Transport().HaloRows();
    for (int r = 0; r < comm.Size(); ++r)
        p.m_slabs.push_back(SlabOf(r, comm.Size(), s.m_nRows, s.m_nCols, p.m_wholeGrid, halo));
    p.m_slab = p.m_slabs[ToSize(comm.Rank())];
}

// Rank 0, which holds every node, sends every other rank the nodes it reads
// (its rows and their halo): the state the heads and the flow field left,
// the first step's start (what the band elimination left there, which the
// first step's predictor reads) and the dispersion coefficients; and every
// rank gets the global step.
void SendHeldState(CSimulation& s, const CParComm& comm, const CParPlan& p) {
    MPI_Bcast(&s.m_clock.m_globalStep, 1, MPI_DOUBLE, 0, comm.Comm());
    const int nComp = s.m_nComp;
    const int coefs = 3 * s.m_nMobile;
    auto parts = [&](int rank, auto&& transfer) {
        const CSlab& slab = p.m_slabs[ToSize(rank)];
        const int nodes = slab.m_needEnd - slab.m_needFirst;
        transfer(s.m_stateNew.get() + slab.m_needFirst * nComp, nodes * nComp);
        transfer(s.m_state + slab.m_needFirst * nComp, nodes * nComp);
        if (coefs > 0)
            transfer(s.m_dispCoef.get() + slab.m_needFirst * coefs, nodes * coefs);
    };
    if (!comm.IsRoot()) {
        parts(comm.Rank(), [&](double* values, int count) {
            MPI_Request request;
            MPI_Irecv(values, count, MPI_DOUBLE, 0, HALO_TAG, comm.Comm(), &request);
            comm.Wait(request);
        });
        s.HoldNodes(p.m_slab.m_needFirst, p.m_slab.m_needEnd);
        return;
    }
    for (int r = 1; r < comm.Size(); ++r)
        parts(r, [&](double* values, int count) {
            MPI_Request request;
            MPI_Isend(values, count, MPI_DOUBLE, r, HALO_TAG, comm.Comm(), &request);
            comm.Wait(request);
        });
}

// Rank 0 keeps its trial passes' start in the implicit transport's arrays
// (every node); the other ranks keep their own nodes'.
void PlanImplicit(const CSimulation& s, const CParComm& comm, CParPlan& p) {
    if (!p.m_wholeGrid)
        return;
    if (comm.IsRoot()) {
        p.m_transportSends.assign(ToSize(comm.Size()), MPI_REQUEST_NULL);
        return;
    }
    p.m_trialStart.Size(s, p.m_slab.m_first, p.m_slab.m_end);
}

// Rank 0 gets every node's state from the ranks that own them.
void GatherOnRoot(CSimulation& s, const CParComm& comm, const CParPlan& p) {
    std::vector<int> counts;
    std::vector<int> starts;
    for (const CSlab& slab : p.m_slabs) {
        counts.push_back((slab.m_end - slab.m_first) * s.m_nComp);
        starts.push_back(slab.m_first * s.m_nComp);
    }
    double* own = s.m_stateNew.get() + p.m_slab.m_first * s.m_nComp;
    MPI_Gatherv(comm.IsRoot() ? MPI_IN_PLACE : own, counts[ToSize(comm.Rank())], MPI_DOUBLE,
                s.m_stateNew.get(), counts.data(), starts.data(), MPI_DOUBLE, 0, comm.Comm());
    if (comm.IsRoot())
        s.HoldNodes(0, s.m_nNodes);
}

// The warning of faces against the index order, from the count over every
// rank's own nodes, on rank 0.
void WarnOfReverseFlowOnRoot(const CSimulation& s, const CParComm& comm, const CSlab& own) {
    if (!s.Transport().WarnsOfReverseFlow(s))
        return;
    double largest = LargestFlux(s, own.m_first, own.m_end);
    MPI_Allreduce(MPI_IN_PLACE, &largest, 1, MPI_DOUBLE, MPI_MAX, comm.Comm());
    int mine = CountReverseFaces(s, own.m_first, own.m_end, ReverseFaceThreshold(largest));
    int count = 0;
    MPI_Reduce(&mine, &count, 1, MPI_INT, MPI_SUM, 0, comm.Comm());
    const std::string line = comm.IsRoot() ? ReverseFlowWarning(count) : std::string();
    if (line.empty())
        return;
    if (CMessageSink* sink = s.m_progress->GetMessageSink())
        sink->WriteWarning(line.c_str());
}

// The stable step over every rank's own rows: the smallest, and of its
// nodes the first, as one pass over the grid finds them.
void ReduceStableStep(CSimulation& s, const CParComm& comm, const CSlab& own) {
    const double duration = s.m_settings.m_endTime - s.m_settings.m_startTime;
    struct {
        double step;
        int node;
    } mine{0.0, -1}, smallest{0.0, -1};
    mine.step = s.Transport().StableStep(s, duration, &mine.node, own.m_rowBegin, own.m_rowEnd);
    MPI_Allreduce(&mine, &smallest, 1, MPI_DOUBLE_INT, MPI_MINLOC, comm.Comm());
    if (!(s.m_clock.m_globalStep > 0.0)) {
        SetStableStep(s, duration, smallest.step, smallest.node);
        if (comm.IsRoot() && s.Holds(smallest.node))
            WarnOfManySteps(s, smallest.node);
    } else if (comm.IsRoot())
        WarnAboveStableStep(s, smallest.step, smallest.node);
}

// The water balance of the budget, summed on rank 0 over every rank's own
// nodes.
void ReduceWaterBalance(CSimulation& s, const CParComm& comm, const CSlab& own) {
    if (!s.m_budget)
        return;
    const CWaterBudget w = WaterBalanceOf(s, own.m_first, own.m_end);
    double mine[4] = {w.m_fixedHeadIn, w.m_fixedHeadOut, w.m_sources, w.m_sinks};
    double all[4] = {0.0, 0.0, 0.0, 0.0};
    MPI_Reduce(mine, all, 4, MPI_DOUBLE, MPI_SUM, 0, comm.Comm());
    CWaterBudget& water = s.m_budget->m_water;
    water.m_fixedHeadIn = all[0];
    water.m_fixedHeadOut = all[1];
    water.m_sources = all[2];
    water.m_sinks = all[3];
    water.m_discrepancy = all[0] + all[1] + all[2] + all[3];
}

// With the distributed heads every rank holds its rows and SLAB_HELD_ROWS
// beyond them: it computes the flow field of those rows itself, and the
// global step, the warnings and the budget's water balance are reduced over
// the ranks' own nodes. The implicit step, which rank 0 solves for the whole
// grid, first gathers every node's state on rank 0 and goes on as with the
// default heads.
void PrepareHeldRows(CSimulation& s, const CParComm& comm, CParPlan& p) {
    if (p.m_wholeGrid) {
        GatherOnRoot(s, comm, p);
        comm.Agreed([&] {
            if (comm.IsRoot())
                PrepareFlowAndStep(s);
        });
        SendHeldState(s, comm, p);
        return;
    }
    CStopwatch watch;
    ComputeFlowFieldOfRows(s, s.m_heldFirst / s.m_nCols, s.m_heldEnd / s.m_nCols);
    s.m_times.m_flowField += watch.Lap();
    WarnOfReverseFlowOnRoot(s, comm, p.m_slab);
    comm.Agreed([&] { ReduceStableStep(s, comm, p.m_slab); });
}

void PlanLoop(CSimulation& s, const CParComm& comm, CParPlan& p) {
    HaloParts(comm.Rank(), p.m_slabs, p.m_receives, p.m_sends);
    p.m_requests.assign(p.m_receives.size() + p.m_sends.size(), MPI_REQUEST_NULL);
    PlanChunks(p);
    // The row gather's scratch, per thread.
    if (!p.m_wholeGrid)
        SizeGatherScratch(s);
    PlanBudget(s, comm, p);
    PlanWells(s, comm, p);
    PlanImplicit(s, comm, p);
}

// The halo arrives in m_stateNew, which nothing reads there during the
// step: the transport has read m_state, the reactions read their own nodes.
void PostReceives(CSimulation& s, CParPlan& p, const CParComm& comm) {
    for (size_t i = 0; i < p.m_receives.size(); ++i) {
        const CHaloPart& part = p.m_receives[i];
        MPI_Irecv(s.m_stateNew.get() + part.m_first * s.m_nComp,
                  (part.m_end - part.m_first) * s.m_nComp, MPI_DOUBLE, part.m_rank, HALO_TAG,
                  comm.Comm(), &p.m_requests[i]);
    }
}

// The nodes sent are final for this step: nothing changes them before the
// next step starts, after every message has completed.
void PostSends(CSimulation& s, CParPlan& p, const CParComm& comm) {
    const size_t offset = p.m_receives.size();
    for (size_t i = 0; i < p.m_sends.size(); ++i) {
        const CHaloPart& part = p.m_sends[i];
        MPI_Isend(s.m_stateNew.get() + part.m_first * s.m_nComp,
                  (part.m_end - part.m_first) * s.m_nComp, MPI_DOUBLE, part.m_rank, HALO_TAG,
                  comm.Comm(), &p.m_requests[offset + i]);
    }
}

void WaitForHalo(CParPlan& p, const CParComm& comm) {
    for (MPI_Request& request : p.m_requests)
        comm.Wait(request);
}

// The chunks starting at starts, each up to the slab's end; a failure is
// kept with its chunk, the lowest one's thrown after the step as in a
// one-process run (chunks above it need not run).
void IntegrateChunks(CSimulation& s, CReactions& rx, const std::vector<int>& starts, int slabEnd,
                     CFirstFailure& failure, bool account = true) {
    auto run = [&](int i, int thread) {
        const int begin = starts[ToSize(i)];
        if (failure.Skips(begin))
            return;
        try {
            IntegrateChunk(s, rx, begin, std::min(slabEnd, begin + RXN_NODE_CHUNK), thread,
                           account);
        } catch (...) {
            failure.Record(begin, std::current_exception());
        }
    };
    const int count = static_cast<int>(starts.size());
    if (s.m_nThreads == 1) {
        for (int i = 0; i < count; ++i)
            run(i, 0);
        return;
    }
    s.Team().ForChunks(count, 1, run);
}

std::exception_ptr Caught(const CFirstFailure& failure) {
    try {
        failure.Rethrow();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

// Rank 0's copy of the wells' values, from their owners.
void GatherWells(CSimulation& s, CParPlan& p, const CParComm& comm) {
    const int nComp = s.m_nComp;
    for (size_t w = 0; w < p.m_wellNodes.size(); ++w)
        std::copy_n(s.m_stateNew.get() + p.m_wellNodes[w] * nComp, nComp,
                    p.m_wellOut.begin() + static_cast<long>(w) * nComp);
    MPI_Gatherv(p.m_wellOut.data(), static_cast<int>(p.m_wellOut.size()), MPI_DOUBLE,
                p.m_wellIn.data(), p.m_wellCounts.data(), p.m_wellStarts.data(), MPI_DOUBLE, 0,
                comm.Comm());
    if (!comm.IsRoot())
        return;
    for (size_t w = 0; w < p.m_wellNodesIn.size(); ++w)
        std::copy_n(p.m_wellIn.begin() + static_cast<long>(w) * nComp, nComp,
                    s.m_stateNew.get() + p.m_wellNodesIn[w] * nComp);
}

// Rank 0's answer, on every rank.
bool RootSays(bool answer, const CParComm& comm) {
    int value = answer ? 1 : 0;
    MPI_Bcast(&value, 1, MPI_INT, 0, comm.Comm());
    return value != 0;
}

// Rank 0 holds every node's state at the step's start and solves the
// implicit step's transport over the whole grid, as a one-process run does;
// every other rank gets the transport change of its own nodes.
void SolveTransportOnRoot(CSimulation& s, CParPlan& p, const CParComm& comm) {
    comm.Agreed([&] {
        if (comm.IsRoot())
            s.Transport().Step(s);
    });
    const int nComp = s.m_nComp;
    auto change = [&](const CSlab& slab) { return s.m_transportDelta + slab.m_first * nComp; };
    auto count = [&](const CSlab& slab) { return (slab.m_end - slab.m_first) * nComp; };
    if (!comm.IsRoot()) {
        MPI_Request request;
        MPI_Irecv(change(p.m_slab), count(p.m_slab), MPI_DOUBLE, 0, TRANSPORT_TAG, comm.Comm(),
                  &request);
        comm.Wait(request);
        return;
    }
    for (int r = 1; r < comm.Size(); ++r) {
        const CSlab& slab = p.m_slabs[ToSize(r)];
        MPI_Isend(change(slab), count(slab), MPI_DOUBLE, r, TRANSPORT_TAG, comm.Comm(),
                  &p.m_transportSends[ToSize(r)]);
    }
    for (MPI_Request& request : p.m_transportSends)
        comm.Wait(request);
}

// A trial pass starts and ends with what SaveStepStart and RestoreStepStart
// keep, on rank 0 for every node, on the others for their own.
void SaveTrialStart(CSimulation& s, CParPlan& p, const CParComm& comm) {
    if (comm.IsRoot())
        s.Transport().StartTrial(s);
    else
        p.m_trialStart.Save(s);
}

void RestoreTrialStart(CSimulation& s, CParPlan& p, const CParComm& comm) {
    if (comm.IsRoot())
        s.Transport().EndTrial(s);
    else
        p.m_trialStart.Restore(s);
}

// The reactions of the slab's chunks, the nodes other ranks read sent as
// soon as they are final (the halo, or with the implicit step every node to
// rank 0), the rest reacting while the messages travel; then the halo of
// the next step received and a failure on any rank agreed.
void ReactAndExchange(CSimulation& s, CReactions& rx, CParPlan& p, const CParComm& comm,
                      bool account) {
    PostReceives(s, p, comm);
    CFirstFailure failure;
    IntegrateChunks(s, rx, p.m_edgeChunks, p.m_slab.m_end, failure, account);
    PostSends(s, p, comm);
    IntegrateChunks(s, rx, p.m_innerChunks, p.m_slab.m_end, failure, account);
    WaitForHalo(p, comm);
    comm.Agree(Caught(failure));
}

// A rank's interval sums so far, each term's over its threads, into the
// message to rank 0 (m_sumsOut); its own start again from zero.
void TakeRankSums(CMassBudget& b, CParPlan& p) {
    const int terms = b.m_nTerms;
    for (int t = 0; t < terms; ++t) {
        CExactSum& out = p.m_sumsOut[ToSize(t)];
        out.Clear();
        for (int thread = 0; thread < b.m_nThreads; ++thread) {
            CExactSum& part = b.m_sums[ToSize(thread * terms + t)];
            out.Add(part);
            part.Clear();
        }
    }
}

// The interval's sums of every rank and the storage of every rank's nodes
// added, exactly, into rank 0's: rank 0 then closes the interval as a
// one-process run does, with the same bits (the slabs are whole chunks).
void GatherBudget(CSimulation& s, CParPlan& p, const CParComm& comm) {
    CMassBudget& b = *s.m_budget;
    const int terms = b.m_nTerms;
    const int sums = terms + s.m_nComp;
    AddStorage(s, p.m_slab.m_first, p.m_slab.m_end);
    if (!comm.IsRoot()) {
        TakeRankSums(b, p);
        for (int k = 0; k < s.m_nComp; ++k) {
            p.m_sumsOut[ToSize(terms + k)] = b.m_storageSums[ToSize(k)];
            b.m_storageSums[ToSize(k)].Clear();
        }
    }
    const int bytes = sums * static_cast<int>(sizeof(CExactSum));
    MPI_Gather(p.m_sumsOut.data(), bytes, MPI_BYTE, p.m_sumsIn.data(), bytes, MPI_BYTE, 0,
               comm.Comm());
    if (!comm.IsRoot())
        return;
    for (int r = 1; r < comm.Size(); ++r) {
        const CExactSum* in = p.m_sumsIn.data() + r * sums;
        for (int t = 0; t < terms; ++t)
            b.m_sums[ToSize(t)].Add(in[t]);
        for (int k = 0; k < s.m_nComp; ++k)
            b.m_storageSums[ToSize(k)].Add(in[terms + k]);
    }
    RecordBudgetFromStorageSums(s);
}

// The values of every rank's own nodes (perNode a node) into rank 0's
// arrays, which hold every node.
template <typename T>
void GatherOwn(T* values, int perNode, MPI_Datatype type, const CParComm& comm, const CParPlan& p) {
    std::vector<int> counts;
    std::vector<int> starts;
    for (const CSlab& slab : p.m_slabs) {
        counts.push_back((slab.m_end - slab.m_first) * perNode);
        starts.push_back(slab.m_first * perNode);
    }
    T* own = values + p.m_slab.m_first * perNode;
    MPI_Gatherv(comm.IsRoot() ? MPI_IN_PLACE : own, counts[ToSize(comm.Rank())], type, values,
                counts.data(), starts.data(), type, 0, comm.Comm());
}

// Before a checkpoint, rank 0 holds what a one-process run holds: every
// node's state, the last step's start, local step and hold from its owner,
// and the interval's budget sums of every rank, moved into its own: sums
// are exact, so the record that follows closes the interval with the same
// bits. Nothing of another rank's node that rank 0 holds is read by rank 0's
// own steps but its halo, which its owner has sent it unchanged.
void GatherCheckpoint(CSimulation& s, CParPlan& p, const CParComm& comm) {
    GatherOwn(s.m_stateNew.get(), s.m_nComp, MPI_DOUBLE, comm, p);
    GatherOwn(s.m_state, s.m_nComp, MPI_DOUBLE, comm, p);
    GatherOwn(s.m_localFraction.get(), 1, MPI_DOUBLE, comm, p);
    GatherOwn(s.m_localHold.get(), 1, MPI_INT, comm, p);
    if (!s.m_budget)
        return;
    CMassBudget& b = *s.m_budget;
    const int terms = b.m_nTerms;
    const int sums = terms + s.m_nComp;
    if (!comm.IsRoot())
        TakeRankSums(b, p);
    const int bytes = sums * static_cast<int>(sizeof(CExactSum));
    MPI_Gather(p.m_sumsOut.data(), bytes, MPI_BYTE, p.m_sumsIn.data(), bytes, MPI_BYTE, 0,
               comm.Comm());
    if (comm.IsRoot())
        for (int r = 1; r < comm.Size(); ++r)
            for (int t = 0; t < terms; ++t)
                b.m_sums[ToSize(t)].Add(p.m_sumsIn[ToSize(r * sums + t)]);
}

// A run that goes on: rank 0 has taken the checkpoint back; every rank gets
// the clock, and every other rank the state, last step's start, local steps
// and holds of the nodes it reads.
void SendResumedState(CSimulation& s, const CParComm& comm, const CParPlan& p) {
    CRunClock clock = s.m_clock;
    double times[4] = {clock.m_globalStep, clock.m_currentTime, clock.m_rxnBaseTime,
                       clock.m_nextRecord};
    MPI_Bcast(times, 4, MPI_DOUBLE, 0, comm.Comm());
    MPI_Bcast(&clock.m_recordCount, 1, MPI_INT, 0, comm.Comm());
    clock.m_outputTimes.resize(ToSize(clock.m_recordCount));
    MPI_Bcast(clock.m_outputTimes.data(), clock.m_recordCount, MPI_DOUBLE, 0, comm.Comm());
    if (!comm.IsRoot()) {
        clock.m_globalStep = times[0];
        clock.m_currentTime = times[1];
        clock.m_rxnBaseTime = times[2];
        clock.m_nextRecord = times[3];
        s.m_clock.TakeBack(std::move(clock));
    }
    const int nComp = s.m_nComp;
    auto parts = [&](int rank, auto&& transfer) {
        const CSlab& slab = p.m_slabs[ToSize(rank)];
        const int nodes = slab.m_needEnd - slab.m_needFirst;
        transfer(s.m_stateNew.get() + slab.m_needFirst * nComp, nodes * nComp, MPI_DOUBLE);
        transfer(s.m_state + slab.m_needFirst * nComp, nodes * nComp, MPI_DOUBLE);
        transfer(s.m_localFraction.get() + slab.m_needFirst, nodes, MPI_DOUBLE);
        transfer(s.m_localHold.get() + slab.m_needFirst, nodes, MPI_INT);
    };
    if (!comm.IsRoot()) {
        parts(comm.Rank(), [&](void* values, int count, MPI_Datatype type) {
            MPI_Request request;
            MPI_Irecv(values, count, type, 0, HALO_TAG, comm.Comm(), &request);
            comm.Wait(request);
        });
        return;
    }
    for (int r = 1; r < comm.Size(); ++r)
        parts(r, [&](void* values, int count, MPI_Datatype type) {
            MPI_Request request;
            MPI_Isend(values, count, type, r, HALO_TAG, comm.Comm(), &request);
            comm.Wait(request);
        });
}

void CountTraffic(const CSimulation& s, const CParPlan& p, const CParComm& comm,
                  CHaloTraffic& traffic) {
    int64_t bytes = 0;
    for (const CHaloPart& part : p.m_receives)
        bytes += int64_t(part.m_end - part.m_first) * s.m_nComp * int64_t(sizeof(double));
    int messages = static_cast<int>(p.m_receives.size());
    // and the implicit step's transport change of the rank's nodes, from rank 0
    if (p.m_wholeGrid && !comm.IsRoot()) {
        bytes += int64_t(p.m_slab.m_end - p.m_slab.m_first) * s.m_nComp * int64_t(sizeof(double));
        messages += 1;
    }
    MPI_Allreduce(&bytes, &traffic.m_bytes, 1, MPI_INT64_T, MPI_SUM, comm.Comm());
    MPI_Allreduce(&messages, &traffic.m_messages, 1, MPI_INT, MPI_SUM, comm.Comm());
}

// The ranks' slabs: every rank integrates and records its own nodes and
// reads its halo; the implicit step's transport is solved on rank 0 for the
// whole grid. Every collective below is reached by every rank in the same
// order.
class CParDomain final : public CLoopDomain {
public:
    CParDomain(CParOutput& output, const CParComm& comm, CHaloTraffic& traffic, bool stateFromRoot,
               CRunCheckpoint* checkpoint, bool continues)
        : m_output(output), m_comm(comm), m_traffic(traffic), m_stateFromRoot(stateFromRoot),
          m_checkpoint(checkpoint), m_continues(continues) {}

    void Prepare(CSimulation& s, CReactions& rx) override;
    CNodeRange OwnNodes() const override { return {m_plan.m_slab.m_first, m_plan.m_slab.m_end}; }
    CNodeRange ReadNodes() const override {
        return {m_plan.m_slab.m_needFirst, m_plan.m_slab.m_needEnd};
    }

    bool Continue(CRunProgress* control) const override { return m_comm.Continue(control); }
    double LargestOf(double mine) const override {
        double largest = mine;
        MPI_Allreduce(&mine, &largest, 1, MPI_DOUBLE, MPI_MAX, m_comm.Comm());
        return largest;
    }
    CLocalSteps Combined(const CLocalSteps& mine) const override {
        CLocalSteps all;
        MPI_Allreduce(&mine.m_reduced, &all.m_reduced, 1, MPI_INT, MPI_SUM, m_comm.Comm());
        MPI_Allreduce(&mine.m_smallest, &all.m_smallest, 1, MPI_DOUBLE, MPI_MIN, m_comm.Comm());
        return all;
    }
    bool Agreed(bool answer) const override { return RootSays(answer, m_comm); }

    // Only the implicit step takes trial passes: rank 0 decides for all.
    bool NeedsTrialPass(const CSimulation& s, int passes) const override {
        return m_plan.m_wholeGrid &&
               RootSays(m_comm.IsRoot() && s.Transport().NeedsTrialPass(passes), m_comm);
    }
    void StartTrial(CSimulation& s) override { SaveTrialStart(s, m_plan, m_comm); }
    void EndTrial(CSimulation& s) override { RestoreTrialStart(s, m_plan, m_comm); }

    // The slab's rows from the state at the start of the step (the halo
    // having arrived in the step before), or the implicit step on rank 0.
    void Transport(CSimulation& s) override {
        if (m_plan.m_wholeGrid) {
            SolveTransportOnRoot(s, m_plan, m_comm);
            return;
        }
        s.Transport().StepRows(s, m_plan.m_slab.m_rowBegin, m_plan.m_slab.m_rowEnd);
        AddInjection(s);
    }
    void React(CSimulation& s, CReactions& rx, bool account) override {
        ReactAndExchange(s, rx, m_plan, m_comm, account);
    }
    // Rank 0 alone holds every node's change: the others sent theirs.
    bool NoteReactionRate(CSimulation& s) override {
        return m_comm.IsRoot() && s.Transport().NoteReactionRate(s);
    }
    void AfterStep(CSimulation& s) override {
        if (m_plan.m_wellCounts.empty())
            return;
        GatherWells(s, m_plan, m_comm);
        m_output.m_rootTables.AfterStep(s);
    }

    // Each failure agreed before the next part, so a failed record leaves
    // what a one-process run leaves.
    void CheckRecord(const CSimulation& s, double bound) override {
        m_comm.Agreed([&] { CheckRecordState(s, OwnNodes(), bound); });
    }
    void WriteRecord(CSimulation& s) override {
        if (s.m_budget)
            GatherBudget(s, m_plan, m_comm);
        m_comm.Agreed([&] { m_output.m_records.Write(s, m_plan.m_slab); });
        m_comm.Agreed([&] { m_output.m_rootTables.WriteRecord(s); });
    }

    // Rank 0 writes the checkpoint a one-process run writes, from every
    // rank's nodes and sums, and takes it back for every rank; with the
    // distributed heads (no rank holds every node) there is none.
    bool Resume(CSimulation& s) override {
        if (!m_continues)
            return false;
        m_comm.Agreed([&] {
            if (m_checkpoint)
                m_checkpoint->Restore(s, m_output.m_rootFiles);
        });
        SendResumedState(s, m_comm, m_plan);
        return true;
    }
    void Checkpoint(CSimulation& s, bool cancel, bool last) override {
        if (!m_stateFromRoot || !CheckpointDue(s, cancel, last))
            return;
        GatherCheckpoint(s, m_plan, m_comm);
        m_comm.Agreed([&] {
            if (m_checkpoint)
                m_checkpoint->BeforeRecord(s, m_output.m_rootFiles, cancel, last);
        });
    }

private:
    CParOutput& m_output;    // borrowed from the run; not closed here
    const CParComm& m_comm;  // borrowed from the run
    CHaloTraffic& m_traffic; // the run's; filled by Prepare
    const bool m_stateFromRoot;
    CRunCheckpoint* m_checkpoint; // rank 0's, borrowed from the run; null elsewhere
    const bool m_continues;
    CParPlan m_plan;
};

void CParDomain::Prepare(CSimulation& s, CReactions& rx) {
    if (m_comm.IsRoot())
        WarnOfModel(s, rx);
    PlanSlabs(s, m_comm, m_plan);
    if (m_stateFromRoot) {
        m_comm.Agreed([&] {
            if (m_comm.IsRoot())
                PrepareFlowAndStep(s);
        });
        SendHeldState(s, m_comm, m_plan);
    } else {
        PrepareHeldRows(s, m_comm, m_plan);
    }
    m_comm.Agreed([&] {
        PrepareStepWork(s, rx);
        PlanLoop(s, m_comm, m_plan);
    });
    if (!m_stateFromRoot && !m_plan.m_wholeGrid)
        ReduceWaterBalance(s, m_comm, m_plan.m_slab);
    CountTraffic(s, m_plan, m_comm, m_traffic);
}

} // namespace

void ParTimeLoop(CSimulation& s, CReactions& rx, CParOutput& output, const CParComm& comm,
                 CHaloTraffic& traffic, bool stateFromRoot, CRunCheckpoint* checkpoint,
                 bool continues) {
    CParDomain domain(output, comm, traffic, stateFromRoot, checkpoint, continues);
    TimeLoop(s, rx, domain);
}
