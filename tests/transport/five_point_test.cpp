// The five-point matrices of the implicit step and their factor by lines:
// the product against a general sparse one, the factor exact where the lines
// do not couple (whichever way they run), its refusal of a zero pivot, and
// BiCGSTAB with it against a direct solve on upstream advection-dispersion
// matrices from Courant 0.5 to 50, along the rows and along the columns.
#include "transport/five_point.h"
#include "transport/krylov_solve.h"

#include <Eigen/SparseLU>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// A matrix whose node n has coefficients that differ from node to node.
CFivePointMatrix Varied(int rows, int cols) {
    CFivePointMatrix a;
    a.Resize(rows, cols);
    for (int n = 0; n < rows * cols; ++n) {
        const int i = n / cols;
        const int j = n % cols;
        double* r = a.Row(n);
        r[STENCIL_SELF] = 5.0 + 0.1 * (n % 7);
        r[STENCIL_LEFT] = j > 0 ? -1.0 - 0.01 * (n % 5) : 0.0;
        r[STENCIL_RIGHT] = j < cols - 1 ? -0.5 - 0.02 * (n % 3) : 0.0;
        r[STENCIL_UP] = i > 0 ? -0.7 + 0.03 * (n % 4) : 0.0;
        r[STENCIL_DOWN] = i < rows - 1 ? -0.9 : 0.0;
    }
    return a;
}

CRowMatrix Sparse(const CFivePointMatrix& a) {
    std::vector<Eigen::Triplet<double, int>> entries;
    const int cols = a.Cols();
    const int offsets[STENCIL_SIZE] = {-cols, -1, 0, 1, cols};
    for (int n = 0; n < a.Nodes(); ++n)
        for (int e = 0; e < STENCIL_SIZE; ++e)
            if (a.Row(n)[e] != 0.0)
                entries.emplace_back(n, n + offsets[e], a.Row(n)[e]);
    CRowMatrix m(a.Nodes(), a.Nodes());
    m.setFromTriplets(entries.begin(), entries.end());
    return m;
}

Eigen::VectorXd Wavy(int size) {
    Eigen::VectorXd b(size);
    for (int k = 0; k < size; ++k)
        b[k] = 1.0 + std::sin(0.37 * k);
    return b;
}

TEST(FivePoint, MultipliesAsTheSparseMatrix) {
    const int shapes[][2] = {{1, 1}, {1, 6}, {6, 1}, {2, 2}, {4, 7}, {9, 3}};
    for (const auto& shape : shapes) {
        const CFivePointMatrix a = Varied(shape[0], shape[1]);
        const Eigen::VectorXd x = Wavy(a.Nodes());
        Eigen::VectorXd y(a.Nodes());
        a.Multiply(x, y);
        const Eigen::VectorXd expected = Sparse(a) * x;
        for (int n = 0; n < a.Nodes(); ++n)
            EXPECT_NEAR(y[n], expected[n], 1e-14 * std::fabs(expected[n]))
                << shape[0] << " x " << shape[1] << ", node " << n;
    }
}

// With no coupling across the lines the factor is the matrix: one
// application solves the system, lines along the rows or the columns,
// whichever couple; odd and even line lengths (the solve meets in the middle).
TEST(FivePoint, TheLineFactorSolvesUncoupledLinesExactly) {
    const struct {
        int rows, cols;
        bool alongRows;
    } cases[] = {{3, 8, true},  {3, 7, true},  {1, 1, true}, {1, 2, true},
                 {8, 3, false}, {7, 4, false}, {5, 1, false}};
    for (const auto& c : cases) {
        CFivePointMatrix a = Varied(c.rows, c.cols);
        for (int n = 0; n < a.Nodes(); ++n) {
            double* r = a.Row(n);
            if (c.alongRows)
                r[STENCIL_UP] = r[STENCIL_DOWN] = 0.0;
            else
                r[STENCIL_LEFT] = r[STENCIL_RIGHT] = 0.0;
        }
        CFivePointLineIlu factor;
        ASSERT_TRUE(factor.Compute(a));
        const Eigen::VectorXd b = Wavy(a.Nodes());
        Eigen::VectorXd x(a.Nodes()), work(a.Nodes()), ax(a.Nodes());
        factor.Apply(b, work, x);
        a.Multiply(x, ax);
        EXPECT_LT((ax - b).norm(), 1e-14 * b.norm()) << c.rows << " x " << c.cols;
    }
}

TEST(FivePoint, TheLineFactorRefusesAZeroPivot) {
    CFivePointMatrix a = Varied(3, 4);
    // The first line's block [[1, -1], ...]: its second pivot is 1 - 1 * 1 = 0.
    a.Row(0)[STENCIL_SELF] = 1.0;
    a.Row(0)[STENCIL_RIGHT] = -1.0;
    a.Row(1)[STENCIL_LEFT] = -1.0;
    a.Row(1)[STENCIL_SELF] = 1.0;
    a.Row(1)[STENCIL_RIGHT] = 0.0;
    CFivePointLineIlu factor;
    EXPECT_FALSE(factor.Compute(a));
}

// Upstream advection along the rows (or the columns) at Courant number c,
// dispersion D = 1 along and 0.1 across, on an n x n grid 1 apart with unit
// porosity: the implicit step's matrix, an M-matrix.
CFivePointMatrix Plume(int n, double courant, bool alongRows) {
    CFivePointMatrix a;
    a.Resize(n, n);
    const double along = courant;        // dt D / dx^2 with D = v dx: the Courant number
    const double across = 0.1 * courant; // alphaT = alphaL / 10
    for (int node = 0; node < n * n; ++node) {
        const int i = node / n;
        const int j = node % n;
        double* r = a.Row(node);
        const int p = alongRows ? j : i; // along the flow
        const int q = alongRows ? i : j;
        double self = 1.0;
        auto couple = [&](bool exists, int slot, double coef) {
            if (!exists)
                return;
            r[slot] = -coef;
            self += coef;
        };
        couple(p > 0, alongRows ? STENCIL_LEFT : STENCIL_UP, courant + along);
        couple(p < n - 1, alongRows ? STENCIL_RIGHT : STENCIL_DOWN, along);
        couple(q > 0, alongRows ? STENCIL_UP : STENCIL_LEFT, across);
        couple(q < n - 1, alongRows ? STENCIL_DOWN : STENCIL_RIGHT, across);
        r[STENCIL_SELF] = self + (p == n - 1 ? courant : 0.0); // the outflow
    }
    return a;
}

// BiCGSTAB with the line factor reaches the direct solve's answer, and in
// few iterations at large Courant numbers too: the factor holds the coupling
// along the flow, which grows with the step, and takes its lines along the
// flow whichever way it runs (lines along the rows alone take 3, 7 and 15
// iterations with the flow along the columns; the diagonal of the previous
// block's inverse in place of the coupling's row sums, 2, 5 and 11).
TEST(FivePoint, TheLineFactorKeepsItsIterationsFewAtLargeCourantNumbers) {
    const struct {
        double courant;
        int iterations; // at most
    } cases[] = {{0.5, 2}, {5.0, 4}, {50.0, 7}};
    for (bool alongRows : {true, false})
        for (const auto& c : cases) {
            const double courant = c.courant;
            const CFivePointMatrix a = Plume(30, courant, alongRows);
            CFivePointLineIlu factor;
            ASSERT_TRUE(factor.Compute(a));
            const Eigen::VectorXd b = Wavy(a.Nodes());
            Eigen::VectorXd x = Eigen::VectorXd::Zero(a.Nodes());
            CKrylovWork work;
            work.Resize(a.Nodes());
            const CKrylovResult result = SolveBicgstab(a, factor, b, x, work, 1e-13, 100);
            ASSERT_EQ(result.m_info, Eigen::Success) << courant;
            EXPECT_LE(result.m_iterations, c.iterations)
                << "Courant " << courant << ", rows " << alongRows;
            const CRowMatrix sparse = Sparse(a);
            Eigen::SparseMatrix<double> column = sparse;
            Eigen::SparseLU<Eigen::SparseMatrix<double>> lu(column);
            const Eigen::VectorXd exact = lu.solve(b);
            EXPECT_LT((x - exact).cwiseAbs().maxCoeff(), 1e-11 * exact.cwiseAbs().maxCoeff())
                << "Courant " << courant << ", rows " << alongRows;
        }
}

} // namespace
