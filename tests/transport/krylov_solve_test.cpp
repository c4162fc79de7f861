// The allocation-free BiCGSTAB: step for step Eigen's algorithm, so that
// with Eigen's incomplete LU its solution and iteration count are Eigen's to
// the last bit; and its two failures.
#include "transport/krylov_solve.h"

#include <Eigen/IterativeLinearSolvers>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

// Eigen's incomplete LU (threshold, fill-reducing ordering), applied as
// SolveBicgstab applies a factor.
class CIncompleteLu : public Eigen::IncompleteLUT<double, int> {
public:
    void Apply(const Eigen::VectorXd& b, Eigen::VectorXd& work, Eigen::VectorXd& x) const {
        work.noalias() = m_Pinv * b;
        m_lu.triangularView<Eigen::UnitLower>().solveInPlace(work);
        m_lu.triangularView<Eigen::Upper>().solveInPlace(work);
        x.noalias() = m_P * work;
    }
};

// An upstream advection-dispersion matrix on an n x n grid (an M-matrix that
// is not symmetric): diagonal 1 + dt (out + dispersion), off-diagonals the
// inflow and dispersion, varying from node to node.
CRowMatrix GridMatrix(int n, double dt) {
    std::vector<Eigen::Triplet<double, int>> entries;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const int a = i * n + j;
            double diagonal = 1.0;
            const double q = 0.5 + 0.01 * ((a * 7) % 13);
            const double d = 0.2 + 0.01 * ((a * 5) % 11);
            if (j > 0) {
                entries.emplace_back(a, a - 1, -dt * (q + d));
                diagonal += dt * (q + d);
            }
            if (j < n - 1) {
                entries.emplace_back(a, a + 1, -dt * d);
                diagonal += dt * d;
            }
            if (i > 0) {
                entries.emplace_back(a, a - n, -dt * d);
                diagonal += dt * d;
            }
            if (i < n - 1) {
                entries.emplace_back(a, a + n, -dt * d);
                diagonal += dt * d;
            }
            entries.emplace_back(a, a, diagonal);
        }
    CRowMatrix m(n * n, n * n);
    m.setFromTriplets(entries.begin(), entries.end());
    m.makeCompressed();
    return m;
}

struct CSystemCase {
    int n;
    double dt;
    double tolerance;
    bool guess; // start from a guess near the answer, else from 0
};

class KrylovSolve : public ::testing::TestWithParam<CSystemCase> {};

TEST_P(KrylovSolve, GivesEigensBiCgStabToTheLastBit) {
    const CSystemCase& c = GetParam();
    const CRowMatrix a = GridMatrix(c.n, c.dt);
    const Eigen::Index size = a.rows();
    Eigen::VectorXd b(size), start(size);
    for (Eigen::Index k = 0; k < size; ++k) {
        b[k] = 1.0 + std::sin(0.3 * static_cast<double>(k));
        start[k] = c.guess ? 0.9 * b[k] : 0.0;
    }
    Eigen::BiCGSTAB<CRowMatrix, Eigen::IncompleteLUT<double, int>> eigen;
    eigen.preconditioner().setDroptol(1e-4);
    eigen.preconditioner().setFillfactor(2);
    eigen.setTolerance(c.tolerance);
    eigen.compute(a);
    const Eigen::VectorXd expected = eigen.solveWithGuess(b, start);

    CIncompleteLu factor;
    factor.setDroptol(1e-4);
    factor.setFillfactor(2);
    factor.compute(a);
    ASSERT_EQ(factor.info(), Eigen::Success);
    CKrylovWork work;
    work.Resize(size);
    Eigen::VectorXd x = start;
    const CKrylovResult result = SolveBicgstab(a, factor, b, x, work, c.tolerance, 1000);
    EXPECT_EQ(result.m_info, Eigen::Success);
    EXPECT_EQ(result.m_iterations, eigen.iterations());
    EXPECT_GT(result.m_iterations, 1);
    EXPECT_EQ(result.m_error, eigen.error());
    for (Eigen::Index k = 0; k < size; ++k)
        ASSERT_EQ(x[k], expected[k]) << "entry " << k;
    EXPECT_LE((b - a * x).norm(), c.tolerance * b.norm());
}

INSTANTIATE_TEST_SUITE_P(Systems, KrylovSolve,
                         ::testing::Values(CSystemCase{12, 1.0, 1e-13, false},
                                           CSystemCase{20, 50.0, 1e-13, true},
                                           CSystemCase{20, 50.0, 1e-6, false},
                                           CSystemCase{30, 400.0, 1e-10, true}));

TEST(KrylovSolve, SaysWhenItStopsShortOrMeetsNoNumber) {
    const CRowMatrix a = GridMatrix(10, 100.0);
    CIncompleteLu factor;
    factor.setDroptol(1e-1);
    factor.setFillfactor(1);
    factor.compute(a);
    CKrylovWork work;
    work.Resize(a.rows());
    Eigen::VectorXd b = Eigen::VectorXd::LinSpaced(a.rows(), 1.0, 2.0);
    Eigen::VectorXd x = Eigen::VectorXd::Zero(a.rows());
    const CKrylovResult shortOf = SolveBicgstab(a, factor, b, x, work, 1e-15, 1);
    EXPECT_EQ(shortOf.m_info, Eigen::NoConvergence);
    EXPECT_EQ(shortOf.m_iterations, 1);
    EXPECT_GT(shortOf.m_error, 1e-15);
    b[3] = std::numeric_limits<double>::quiet_NaN();
    x.setZero();
    EXPECT_EQ(SolveBicgstab(a, factor, b, x, work, 1e-13, 50).m_info, Eigen::NumericalIssue);
}

} // namespace
