#include "par/par_heads.h"

#include "heads/head_terms.h"
#include "heads/heads.h"
#include "heads/hypre_handles.h"
#include "heads/sparse_heads.h"
#include "model/exceptions.h"
#include "model/grid.h"
#include "model/index.h"
#include "model/limits.h"
#include "model/node_view.h"
#include "model/simulation.h"
#include "par/par_comm.h"
#include "par/slab.h"
#include "run/run_progress.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int PAR_HEAD_TAG = 17;    // the heads' halo, apart from the time loop's
constexpr int PAR_HEAD_ENTRIES = 5; // a node's row: 4 neighbours and itself

double* NodeState(CSimulation& s, int n) {
    return s.m_stateNew.get() + n * s.m_nComp;
}

// Row n of the head equations with its sign turned (diagonal T, neighbours
// -g, right-hand side Q): symmetric positive definite, as conjugate
// gradients need. A fixed row is the identity with its value, and the fixed
// neighbours of a computed row move to its right-hand side, so the matrix
// stays symmetric. Returns the right-hand side.
double SetRow(const CSimulation& s, int n, CHypreMatrix& a) {
    HYPRE_BigInt columns[PAR_HEAD_ENTRIES];
    HYPRE_Real values[PAR_HEAD_ENTRIES];
    HYPRE_Int count = 0;
    if (HasFixedRow(s, n)) {
        columns[0] = n;
        values[0] = 1.0;
        a.SetRow(n, 1, columns, values);
        return FixedValue(s, n);
    }
    const int i = n / s.m_nCols;
    const int j = n % s.m_nCols;
    double total = 0.0;
    double rhs = VolumeSource(s, i, j, NodeOf(s.m_stateNew.get(), s.m_nComp, n));
    ForEachConductance(s, i, j, [&](int b, double g) {
        total += g;
        if (g == 0.0)
            return;
        if (HasFixedRow(s, b)) {
            rhs += g * FixedValue(s, b);
        } else {
            columns[count] = b;
            values[count++] = -g;
        }
    });
    columns[count] = n;
    values[count++] = total;
    a.SetRow(n, count, columns, values);
    return rhs;
}

void ConfigureAmg(HYPRE_Solver amg) {
    HYPRE_BoomerAMGSetPrintLevel(amg, 0);
    HYPRE_BoomerAMGSetCoarsenType(amg, 6); // Falgout
    HYPRE_BoomerAMGSetRelaxType(amg, 6);   // symmetric Gauss-Seidel: a symmetric preconditioner
    HYPRE_BoomerAMGSetNumSweeps(amg, 1);
    HYPRE_BoomerAMGSetTol(amg, 0.0); // one V-cycle per application
    HYPRE_BoomerAMGSetMaxIter(amg, 1);
}

void ConfigurePcg(HYPRE_Solver pcg) {
    HYPRE_PCGSetTol(pcg, PAR_HEAD_RESIDUAL);
    HYPRE_PCGSetAbsoluteTol(pcg, 0.0);
    HYPRE_PCGSetMaxIter(pcg, PAR_HEAD_MAX_ITERATIONS);
    HYPRE_PCGSetTwoNorm(pcg, 1); // ||r|| / ||b|| in the Euclidean norm
    HYPRE_PCGSetPrintLevel(pcg, 0);
    HYPRE_PCGSetLogging(pcg, 1);
}

[[noreturn]] void ThrowNotSolved(int iterations, double residual) {
    char detail[200];
    std::snprintf(detail, sizeof detail,
                  "the distributed solve of the head equations stopped at a relative residual of "
                  "%.3g after %d iterations, above %.0e",
                  residual, iterations, PAR_HEAD_RESIDUAL);
    throw ComputeException(detail);
}

// The slab's rows of the equations, their right-hand sides and, as the
// first guess, the initial heads; rows gets the slab's node numbers.
void AssembleSlab(const CSimulation& s, const CSlab& mine, CHypreMatrix& a, CHypreVector& b,
                  CHypreVector& x, std::vector<HYPRE_BigInt>& rows) {
    const size_t count = ToSize(mine.m_end - mine.m_first);
    rows.resize(count);
    std::vector<HYPRE_Real> rhs(count);
    std::vector<HYPRE_Real> guess(count);
    for (int n = mine.m_first; n < mine.m_end; ++n) {
        const size_t k = ToSize(n - mine.m_first);
        rows[k] = n;
        rhs[k] = SetRow(s, n, a);
        guess[k] = NodeOf(s.m_stateNew.get(), s.m_nComp, n).Head();
    }
    b.Set(static_cast<HYPRE_Int>(count), rows.data(), rhs.data());
    x.Set(static_cast<HYPRE_Int>(count), rows.data(), guess.data());
}

// Conjugate gradients with one BoomerAMG V-cycle as the preconditioner;
// throws when the residual stays above PAR_HEAD_RESIDUAL. The residual is a
// global norm: every rank takes the same branch.
void RunPcg(MPI_Comm comm, HYPRE_ParCSRMatrix a, HYPRE_ParVector b, HYPRE_ParVector x,
            CParHeadReport& report) {
    CHyprePcg pcg;
    CHypreAmg amg;
    HYPRE_ParCSRPCGCreate(comm, pcg.Out());
    HYPRE_BoomerAMGCreate(amg.Out());
    ConfigurePcg(pcg.Get());
    ConfigureAmg(amg.Get());
    HYPRE_PCGSetPrecond(pcg.Get(), reinterpret_cast<HYPRE_PtrToSolverFcn>(HYPRE_BoomerAMGSolve),
                        reinterpret_cast<HYPRE_PtrToSolverFcn>(HYPRE_BoomerAMGSetup), amg.Get());
    HYPRE_ParCSRPCGSetup(pcg.Get(), a, b, x);
    HYPRE_ParCSRPCGSolve(pcg.Get(), a, b, x);
    HYPRE_ClearAllErrors(); // the outcome is judged by the residual below
    HYPRE_Int iterations = 0;
    HYPRE_Real residual = 0.0;
    HYPRE_PCGGetNumIterations(pcg.Get(), &iterations);
    HYPRE_PCGGetFinalRelativeResidualNorm(pcg.Get(), &residual);
    report.m_iterations = iterations;
    report.m_residual = residual;
    if (!(residual <= PAR_HEAD_RESIDUAL))
        ThrowNotSolved(iterations, residual);
}

// The heads of the slab's computed nodes from the distributed solve.
void SolveSlab(CSimulation& s, const CParComm& comm, const CSlab& mine, CParHeadReport& report) {
    const CHypreLibrary library;
    const HYPRE_BigInt first = mine.m_first;
    const HYPRE_BigInt last = mine.m_end - 1;
    CHypreMatrix a(comm.Comm(), first, last);
    CHypreVector b(comm.Comm(), first, last);
    CHypreVector x(comm.Comm(), first, last);
    std::vector<HYPRE_BigInt> rows;
    AssembleSlab(s, mine, a, b, x, rows);
    RunPcg(comm.Comm(), a.Assemble(), b.Assemble(), x.Assemble(), report);

    std::vector<HYPRE_Real> heads(rows.size());
    x.Get(static_cast<HYPRE_Int>(rows.size()), rows.data(), heads.data());
    for (int n = mine.m_first; n < mine.m_end; ++n) {
        if (s.m_grid.m_nodeType.get()[n] != NODE_NORMAL)
            continue;
        // An isolated node's head is 0 exactly, as in the direct solves.
        NodeState(s, n)[SLOT_HEAD] = HasFixedRow(s, n) ? 0.0 : heads[ToSize(n - mine.m_first)];
    }
}

// The heads of the nodes beside a slab that other ranks own, sent after
// every sweep (the sweeps read the four neighbours' heads only).
class CHeadHalo {
public:
    CHeadHalo(const CParComm& comm, const std::vector<CSlab>& slabs) : m_comm(comm) {
        HaloParts(comm.Rank(), slabs, m_receives, m_sends);
        for (const CHaloPart& part : m_receives)
            m_in.emplace_back(ToSize(part.m_end - part.m_first));
        for (const CHaloPart& part : m_sends)
            m_out.emplace_back(ToSize(part.m_end - part.m_first));
        m_requests.resize(m_receives.size() + m_sends.size());
    }

    void Exchange(CSimulation& s) {
        size_t r = 0;
        for (size_t k = 0; k < m_receives.size(); ++k)
            MPI_Irecv(m_in[k].data(), static_cast<int>(m_in[k].size()), MPI_DOUBLE,
                      m_receives[k].m_rank, PAR_HEAD_TAG, m_comm.Comm(), &m_requests[r++]);
        for (size_t k = 0; k < m_sends.size(); ++k) {
            for (int n = m_sends[k].m_first; n < m_sends[k].m_end; ++n)
                m_out[k][ToSize(n - m_sends[k].m_first)] = NodeState(s, n)[SLOT_HEAD];
            MPI_Isend(m_out[k].data(), static_cast<int>(m_out[k].size()), MPI_DOUBLE,
                      m_sends[k].m_rank, PAR_HEAD_TAG, m_comm.Comm(), &m_requests[r++]);
        }
        for (MPI_Request& request : m_requests)
            m_comm.Wait(request);
        for (size_t k = 0; k < m_receives.size(); ++k)
            for (int n = m_receives[k].m_first; n < m_receives[k].m_end; ++n)
                NodeState(s, n)[SLOT_HEAD] = m_in[k][ToSize(n - m_receives[k].m_first)];
    }

private:
    const CParComm& m_comm;
    std::vector<CHaloPart> m_receives;
    std::vector<CHaloPart> m_sends;
    std::vector<std::vector<double>> m_in;
    std::vector<std::vector<double>> m_out;
    std::vector<MPI_Request> m_requests;
};

// One Gauss-Seidel sweep over the slab's nodes in node order; the change
// summed over every rank.
double SweepSlab(CSimulation& s, const CParComm& comm, const CSlab& mine) {
    double sum = 0.0;
    comm.Agreed([&] {
        for (int n = mine.m_first; n < mine.m_end; ++n)
            sum += RelaxNodeHead(s, n / s.m_nCols, n % s.m_nCols);
    });
    double total = 0.0;
    MPI_Allreduce(&sum, &total, 1, MPI_DOUBLE, MPI_SUM, comm.Comm());
    return total;
}

// Sweeps until one changes the heads and source rates over all ranks by no
// more than opzero (SweepHeads' rule). False after a cancel.
bool SweepSlabs(CSimulation& s, const CParComm& comm, const std::vector<CSlab>& slabs,
                CParHeadReport& report) {
    const CSlab& mine = slabs[ToSize(comm.Rank())];
    CHeadHalo halo(comm, slabs);
    halo.Exchange(s);
    double sum = 0.0;
    for (int sweep = 1; sweep <= HEAD_MAX_SWEEPS; ++sweep) {
        if (!comm.Continue(s.m_progress))
            return false;
        s.m_progress->SetStatus("Computing Inital Heads ...");
        sum = SweepSlab(s, comm, mine);
        halo.Exchange(s);
        report.m_sweeps = sweep;
        if (!(sum > s.m_settings.m_opzero))
            return true;
    }
    ThrowHeadsUnsettled(s, sum);
}

// Every rank gets the head and source rate of every node it holds beyond
// its own (SLAB_HELD_ROWS a side), from the rank that owns the node.
void ShareHeads(CSimulation& s, const CParComm& comm) {
    std::vector<CSlab> held;
    for (int r = 0; r < comm.Size(); ++r)
        held.push_back(SlabOf(r, comm.Size(), s.m_nRows, s.m_nCols, false, SLAB_HELD_ROWS));
    std::vector<CHaloPart> receives;
    std::vector<CHaloPart> sends;
    HaloParts(comm.Rank(), held, receives, sends);
    std::vector<std::vector<double>> in;
    std::vector<std::vector<double>> out;
    std::vector<MPI_Request> requests;
    for (const CHaloPart& part : receives) {
        in.emplace_back(ToSize(2 * (part.m_end - part.m_first)));
        requests.emplace_back();
        MPI_Irecv(in.back().data(), static_cast<int>(in.back().size()), MPI_DOUBLE, part.m_rank,
                  PAR_HEAD_TAG, comm.Comm(), &requests.back());
    }
    for (const CHaloPart& part : sends) {
        out.emplace_back();
        for (int n = part.m_first; n < part.m_end; ++n) {
            out.back().push_back(NodeState(s, n)[SLOT_HEAD]);
            out.back().push_back(NodeState(s, n)[SLOT_SOURCE]);
        }
        requests.emplace_back();
        MPI_Isend(out.back().data(), static_cast<int>(out.back().size()), MPI_DOUBLE, part.m_rank,
                  PAR_HEAD_TAG, comm.Comm(), &requests.back());
    }
    for (MPI_Request& request : requests)
        comm.Wait(request);
    for (size_t k = 0; k < receives.size(); ++k)
        for (int n = receives[k].m_first; n < receives[k].m_end; ++n) {
            NodeState(s, n)[SLOT_HEAD] = in[k][ToSize(2 * (n - receives[k].m_first))];
            NodeState(s, n)[SLOT_SOURCE] = in[k][ToSize(2 * (n - receives[k].m_first) + 1)];
        }
}

// Rank 0 checks the coupling of every node, which each rank sends for its
// own nodes: the check of the one-process heads, with its message, and 1
// byte per node of the grid on rank 0.
void CheckGroupsOnRoot(const CSimulation& s, const CParComm& comm,
                       const std::vector<CSlab>& slabs) {
    const CSlab& mine = slabs[ToSize(comm.Rank())];
    std::vector<unsigned char> own;
    for (int n = mine.m_first; n < mine.m_end; ++n)
        own.push_back(CouplingBits(s, n));
    std::vector<int> counts;
    std::vector<int> starts;
    for (const CSlab& slab : slabs) {
        counts.push_back(slab.m_end - slab.m_first);
        starts.push_back(slab.m_first);
    }
    std::vector<unsigned char> all(comm.IsRoot() ? ToSize(s.m_nNodes) : 0);
    MPI_Gatherv(own.data(), static_cast<int>(own.size()), MPI_UNSIGNED_CHAR, all.data(),
                counts.data(), starts.data(), MPI_UNSIGNED_CHAR, 0, comm.Comm());
    comm.Agreed([&] {
        if (comm.IsRoot())
            CheckEveryGroupIsHeld(s, all.data());
    });
}

} // namespace

void ParInitHeads(CSimulation& s, const CParComm& comm, CParHeadReport& report) {
    s.m_progress->SetStatus("Initalizing Hydraulic Heads ...");
    SetCellWidths(s);
    for (int n = s.m_heldFirst; n < s.m_heldEnd; ++n) {
        NodeState(s, n)[SLOT_FLUXROW] = 0.0;
        NodeState(s, n)[SLOT_FLUXCOL] = 0.0;
    }
    std::vector<CSlab> slabs;
    for (int r = 0; r < comm.Size(); ++r)
        slabs.push_back(SlabOf(r, comm.Size(), s.m_nRows, s.m_nCols, false));
    // The serial failure on every rank at once, before any rank enters the solve.
    CheckGroupsOnRoot(s, comm, slabs);
    const CSlab& mine = slabs[ToSize(comm.Rank())];
    SolveSlab(s, comm, mine, report);
    if (!SweepSlabs(s, comm, slabs, report))
        return;
    ShareHeads(s, comm);
    // Each rank its own nodes: the lowest failing rank has the first node.
    if (comm.Continue(s.m_progress))
        CheckHeadsAreFinite(s, mine.m_first, mine.m_end);
}
