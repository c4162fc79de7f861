// The AMG solve of the heads (heads/amg_solve.h) as transient heads will use
// it: the hierarchy set up once per matrix, then one solve per step. Builds
// the head equations of a rows x cols grid (unit spacing, fixed heads 20 and
// 18 on the first and last columns, as bench/make_model.py; conductivities
// uniform or drawn per node and direction from 1e-3 to 1e2, log-uniform, as
// tests/e2e/mpi_models.py --heads), sets the solver up and solves it SOLVES
// times from heads of 0, each time with the sources of a new step (a well
// whose rate changes). Prints one line: nodes, assembly, setup, the solves'
// median time, iterations and residual, and the process's peak memory.
//
//   build/release/bench/kova_amg_bench ROWS COLS [uniform|rough] [SOLVES]
#include "heads/amg_solve.h"
#include "model/index.h"
#include "model/limits.h"
#include "model/phase_times.h"
#include "run/platform.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

// Conductivities of each node along the rows and the columns.
struct CField {
    std::vector<double> m_kRow;
    std::vector<double> m_kCol;
};

CField MakeField(int rows, int cols, bool rough) {
    const size_t n = static_cast<size_t>(rows) * static_cast<size_t>(cols);
    CField f{std::vector<double>(n, 50.0), std::vector<double>(n, 50.0)};
    if (!rough)
        return f;
    std::mt19937_64 random(38);
    std::uniform_real_distribution<double> exponent(-3.0, 2.0);
    for (size_t k = 0; k < n; ++k) {
        f.m_kRow[k] = std::pow(10.0, exponent(random));
        f.m_kCol[k] = std::pow(10.0, exponent(random));
    }
    return f;
}

double Harmonic(double a, double b) {
    return 2.0 * a * b / (a + b);
}

// The unknowns are the nodes of columns 1 .. cols-2; the fixed columns'
// conductances go to the right-hand side (fixed), the rows as the engine's
// assembly turns them: diagonal the total conductance, neighbours -g.
void Assemble(int rows, int cols, const CField& f, CSparseRows& a, std::vector<double>& fixed) {
    const int inner = cols - 2;
    auto node = [&](int i, int j) { return static_cast<size_t>(i) * ToSize(cols) + ToSize(j); };
    auto unknown = [&](int i, int j) { return i * inner + (j - 1); };
    a.m_n = rows * inner;
    a.m_rowStart.assign(1, 0);
    fixed.assign(ToSize(a.m_n), 0.0);
    for (int i = 0; i < rows; ++i) {
        for (int j = 1; j <= inner; ++j) {
            const double k = f.m_kRow[node(i, j)];
            const double c = f.m_kCol[node(i, j)];
            const double up = i > 0 ? Harmonic(k, f.m_kRow[node(i - 1, j)]) : 0.0;
            const double down = i < rows - 1 ? Harmonic(k, f.m_kRow[node(i + 1, j)]) : 0.0;
            const double left = Harmonic(c, f.m_kCol[node(i, j - 1)]);
            const double right = Harmonic(c, f.m_kCol[node(i, j + 1)]);
            auto add = [&](int column, double value) {
                a.m_column.push_back(column);
                a.m_value.push_back(value);
            };
            if (i > 0)
                add(unknown(i - 1, j), -up);
            if (j > 1)
                add(unknown(i, j - 1), -left);
            add(unknown(i, j), up + down + left + right);
            if (j < inner)
                add(unknown(i, j + 1), -right);
            if (i < rows - 1)
                add(unknown(i + 1, j), -down);
            a.m_rowStart.push_back(static_cast<int>(a.m_column.size()));
            double& b = fixed[ToSize(unknown(i, j))];
            if (j == 1)
                b += left * 20.0;
            if (j == inner)
                b += right * 18.0;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ROWS COLS [uniform|rough] [SOLVES]\n", argv[0]);
        return 2;
    }
    if (!HEAD_AMG_BUILT) {
        std::fprintf(stderr, "this build has no AMG solver\n");
        return 2;
    }
    const int rows = std::atoi(argv[1]);
    const int cols = std::atoi(argv[2]);
    const bool rough = argc > 3 && std::strcmp(argv[3], "rough") == 0;
    const int solves = argc > 4 ? std::atoi(argv[4]) : 5;
    if (rows < 1 || cols < 3 || solves < 1) {
        std::fprintf(stderr, "need ROWS >= 1, COLS >= 3, SOLVES >= 1\n");
        return 2;
    }
    // The process's MPI starts with its first solver (0.2 to 0.3 s, once a
    // process): not part of a matrix's setup.
    {
        CSparseRows one;
        one.m_n = 1;
        one.m_rowStart = {0, 1};
        one.m_column = {0};
        one.m_value = {1.0};
        const CAmgSolver start(one);
    }
    CStopwatch watch;
    CSparseRows a;
    std::vector<double> fixed;
    Assemble(rows, cols, MakeField(rows, cols, rough), a, fixed);
    const double assembly = watch.Lap();
    CAmgSolver solver(a);
    const double setup = watch.Lap();
    a = CSparseRows();

    // Step s: a well at the grid's centre pumping s x 0.5 of what the fixed
    // columns let through a node.
    const size_t well = ToSize((rows / 2) * (cols - 2) + (cols - 2) / 2);
    std::vector<double> times;
    int iterations = 0;
    double residual = 0.0;
    for (int s = 0; s < solves; ++s) {
        std::vector<double> b = fixed;
        b[well] -= 0.5 * s;
        std::vector<double> x(b.size(), 0.0);
        watch.Lap();
        const CAmgResult result = solver.Solve(b, x, HEAD_AMG_RESIDUAL, HEAD_AMG_MAX_ITERATIONS);
        times.push_back(watch.Lap());
        iterations = std::max(iterations, result.m_iterations);
        residual = std::max(residual, result.m_residual);
    }
    std::sort(times.begin(), times.end());
    const double peak = static_cast<double>(PeakResidentBytes());
    const double nodes = static_cast<double>(rows) * cols;
    std::printf("%d x %d %s: %.0f nodes, assembly %.3f s, setup %.3f s, solve %.3f s (median of "
                "%d; %.3f to %.3f), iterations <= %d, residual <= %.2g, peak %.0f MiB (%.0f "
                "bytes/node)\n",
                rows, cols, rough ? "rough" : "uniform", nodes, assembly, setup,
                times[times.size() / 2], solves, times.front(), times.back(), iterations, residual,
                peak / 1048576.0, peak / nodes);
    return 0;
}
