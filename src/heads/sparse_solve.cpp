#include "heads/sparse_solve.h"

#include "model/exceptions.h"

#include <Eigen/OrderingMethods>
#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>
#include <Eigen/SparseLU>

#include <string>

namespace {

using CMatrix = Eigen::SparseMatrix<double, Eigen::ColMajor, int>;
using CVector = Eigen::VectorXd;

// The matrix in Eigen's column-compressed form (the transpose of a's rows,
// transposed back).
CMatrix ToEigen(const CSparseRows& a) {
    const Eigen::Map<const Eigen::SparseMatrix<double, Eigen::RowMajor, int>> rows(
        a.m_n, a.m_n, static_cast<Eigen::Index>(a.m_value.size()), a.m_rowStart.data(),
        a.m_column.data(), a.m_value.data());
    return CMatrix(rows);
}

// The entry (row, column) of a, or nothing.
bool FindEntry(const CSparseRows& a, int row, int column, double& value) {
    const int* rowStart = a.m_rowStart.data();
    const int* columns = a.m_column.data();
    const double* values = a.m_value.data();
    for (int e = rowStart[row]; e < rowStart[row + 1]; ++e) {
        if (columns[e] == column) {
            value = values[e];
            return true;
        }
    }
    return false;
}

[[noreturn]] void ThrowSingular(const char* what, const char* method) {
    throw ComputeException(std::string(what) + " have no unique solution: the sparse " + method +
                           " factorization met a zero pivot");
}

template <typename Solver>
std::vector<double> Solve(Solver& solver, const CMatrix& matrix, const std::vector<double>& rhs,
                          const char* what, const char* method) {
    solver.compute(matrix);
    if (solver.info() != Eigen::Success)
        ThrowSingular(what, method);
    const Eigen::Map<const CVector> b(rhs.data(), static_cast<Eigen::Index>(rhs.size()));
    const CVector x = solver.solve(b);
    if (solver.info() != Eigen::Success)
        ThrowSingular(what, method);
    return std::vector<double>(x.data(), x.data() + x.size());
}

} // namespace

bool IsSymmetric(const CSparseRows& a) {
    const int* rowStart = a.m_rowStart.data();
    const int* column = a.m_column.data();
    const double* value = a.m_value.data();
    for (int r = 0; r < a.m_n; ++r) {
        for (int e = rowStart[r]; e < rowStart[r + 1]; ++e) {
            const int c = column[e];
            double mirror = 0.0;
            if (c != r && !(FindEntry(a, c, r, mirror) && mirror == value[e]))
                return false;
        }
    }
    return true;
}

std::vector<double> SolveSparseSystem(const CSparseRows& a, const std::vector<double>& rhs,
                                      const char* what) {
    if (a.m_n == 0)
        return {};
    const CMatrix matrix = ToEigen(a);
    if (IsSymmetric(a)) {
        Eigen::SimplicialLDLT<CMatrix, Eigen::Lower, Eigen::AMDOrdering<int>> solver;
        return Solve(solver, matrix, rhs, what, "LDL^T");
    }
    Eigen::SparseLU<CMatrix, Eigen::COLAMDOrdering<int>> solver;
    return Solve(solver, matrix, rhs, what, "LU");
}
