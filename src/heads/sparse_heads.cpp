#include "heads/sparse_heads.h"

#include "heads/amg_solve.h"
#include "heads/head_terms.h"
#include "heads/sparse_solve.h"
#include "model/exceptions.h"
#include "model/limits.h"
#include "model/node_view.h"
#include "model/simulation.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

// The equations left after the fixed rows are taken out: row r belongs to the
// computed-head node whose m_unknownOf is r.
struct CHeadEquations {
    CSparseRows m_matrix;
    std::vector<double> m_rhs;
    std::vector<int> m_unknownOf; // per node: its unknown, or -1 for a fixed row
};

// The row of node n as the band assembly builds it: conductances towards the
// neighbours, the diagonal -T (1 when T is 0), the right-hand side -Q (0 when
// T is 0); then the fixed neighbours' terms move to the right-hand side.
void AppendRow(const CSimulation& s, int n, CHeadEquations& eq) {
    const int i = n / s.m_nCols;
    const int j = n % s.m_nCols;
    std::pair<int, double> entries[5];
    int count = 0;
    double total = 0.0;
    ForEachConductance(s, i, j, [&](int b, double g) {
        entries[count++] = {b, g};
        total += g;
    });
    const double* node = s.m_stateNew.get() + n * s.m_nComp;
    const int* unknownOf = eq.m_unknownOf.data();
    double rhs = total == 0.0 ? 0.0 : -VolumeSource(s, i, j, CNodeView(node));
    for (int e = 0; e < count; ++e) {
        const auto [b, g] = entries[e];
        if (g != 0.0 && unknownOf[b] < 0)
            rhs -= g * FixedValue(s, b);
    }
    entries[count++] = {n, total == 0.0 ? 1.0 : -total};

    // Node order is column order; the neighbours came as n - m_nCols,
    // n + m_nCols, n - 1, n + 1 and the diagonal last.
    for (int e = 1; e < count; ++e)
        for (int f = e; f > 0 && entries[f].first < entries[f - 1].first; --f)
            std::swap(entries[f], entries[f - 1]);
    CSparseRows& a = eq.m_matrix;
    for (int e = 0; e < count; ++e) {
        const auto [b, g] = entries[e];
        if (b != n && (g == 0.0 || unknownOf[b] < 0))
            continue;
        a.m_column.push_back(unknownOf[b]);
        a.m_value.push_back(g);
    }
    a.m_rowStart.push_back(static_cast<int>(a.m_column.size()));
    eq.m_rhs.push_back(rhs);
}

CHeadEquations AssembleHeadEquations(const CSimulation& s) {
    CHeadEquations eq;
    eq.m_unknownOf.assign(ToSize(s.m_nNodes), -1);
    int* unknownOf = eq.m_unknownOf.data();
    int nUnknowns = 0;
    for (int n = 0; n < s.m_nNodes; ++n)
        if (!HasFixedRow(s, n))
            unknownOf[n] = nUnknowns++;

    CSparseRows& a = eq.m_matrix;
    a.m_n = nUnknowns;
    const size_t rows = ToSize(nUnknowns);
    a.m_rowStart.reserve(rows + 1);
    a.m_column.reserve(rows * 5);
    a.m_value.reserve(rows * 5);
    eq.m_rhs.reserve(rows);
    a.m_rowStart.push_back(0);
    for (int n = 0; n < s.m_nNodes; ++n)
        if (unknownOf[n] >= 0)
            AppendRow(s, n, eq);
    return eq;
}

// The equations with their signs turned (diagonal T, neighbours -g,
// right-hand side Q): symmetric positive definite, as conjugate gradients
// need.
void TurnSigns(CHeadEquations& eq) {
    for (double& v : eq.m_matrix.m_value)
        v = -v;
    for (double& v : eq.m_rhs)
        v = -v;
}

// Conjugate gradients with AMG from heads of 0 (the solution then depends on
// the equations alone) to HEAD_AMG_RESIDUAL; then, while one Jacobi pass
// would still change the heads by more than HEAD_AMG_SWEEP_SHARE x opzero,
// further rounds to a smaller residual, so that the sweeps after it stop
// after two or three. A solve that stops above its residual leaves the last
// word to the sweeps; --timings and their failure say where it stopped.
std::vector<double> SolveByAmg(CSimulation& s, CHeadEquations& eq) {
    TurnSigns(eq);
    CAmgSolver solver(eq.m_matrix);
    eq.m_matrix = CSparseRows(); // hypre holds its own copy
    std::vector<double> x(eq.m_rhs.size(), 0.0);
    const double target = HEAD_AMG_SWEEP_SHARE * s.m_settings.m_opzero;
    double residual = HEAD_AMG_RESIDUAL;
    int iterations = 0;
    CAmgResult last;
    for (int round = 1; round <= HEAD_AMG_MAX_ROUNDS && iterations < HEAD_AMG_MAX_ITERATIONS;
         ++round) {
        last = solver.Solve(eq.m_rhs, x, residual, HEAD_AMG_MAX_ITERATIONS - iterations);
        iterations += last.m_iterations;
        if (!(last.m_residual <= residual) || residual <= HEAD_AMG_MIN_RESIDUAL)
            break;
        const double change = solver.CorrectionSum(eq.m_rhs, x);
        if (!(change > target))
            break;
        residual = std::max(HEAD_AMG_MIN_RESIDUAL,
                            last.m_residual * std::max(HEAD_AMG_TIGHTEN, target / change));
    }
    s.m_times.m_headIterations = iterations;
    s.m_times.m_headResidual = last.m_residual;
    return x;
}

} // namespace

void SolveHeadsSparse(CSimulation& s) {
    CHeadEquations eq = AssembleHeadEquations(s);
    std::vector<double> solution;
    if (s.m_headSolve == EHeadSolve::AMG && !eq.m_rhs.empty() && IsSymmetric(eq.m_matrix)) {
        solution = SolveByAmg(s, eq);
    } else {
        // Conjugate gradients need symmetric equations: any others (negative
        // or not-a-number conductivities) are factored by the sparse LU.
        s.m_headSolve = EHeadSolve::SPARSE;
        solution = SolveSparseSystem(eq.m_matrix, eq.m_rhs, "the head equations");
    }
    const double* x = solution.data();
    const int* unknownOf = eq.m_unknownOf.data();
    const unsigned char* nodeType = s.m_grid.m_nodeType.get();
    double* state = s.m_stateNew.get();
    for (int n = 0; n < s.m_nNodes; ++n) {
        if (nodeType[n] != NODE_NORMAL)
            continue;
        const int unknown = unknownOf[n];
        state[n * s.m_nComp + SLOT_HEAD] = unknown >= 0 ? x[unknown] : 0.0;
    }
}

bool HasFixedRow(const CSimulation& s, int n) {
    if (s.m_grid.m_nodeType.get()[n] == NODE_HEAD)
        return true;
    bool coupled = false;
    ForEachConductance(s, n / s.m_nCols, n % s.m_nCols,
                       [&](int, double g) { coupled = coupled || g != 0.0; });
    return !coupled;
}

double FixedValue(const CSimulation& s, int n) {
    if (s.m_grid.m_nodeType.get()[n] == NODE_HEAD)
        return NodeOf(s.m_stateNew.get(), s.m_nComp, n).Head();
    return 0.0;
}
