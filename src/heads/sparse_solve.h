// A direct solve of a sparse linear system, for grids whose head equations are
// too large for the band elimination.
//
// A matrix that is symmetric entry for entry (bit for bit) is factored as
// L D L^T after an approximate-minimum-degree ordering; any other matrix by a
// sparse LU with a column ordering (the head equations lose their symmetry
// only with negative or not-a-number conductivities). Both orderings keep the
// fill of a grid's five-point equations small.
#pragma once

#include <vector>

// A square matrix in compressed rows: the entries of row r are
// m_column[m_rowStart[r] .. m_rowStart[r + 1] - 1], columns ascending.
struct CSparseRows {
    int m_n = 0;
    std::vector<int> m_rowStart; // m_n + 1 offsets
    std::vector<int> m_column;
    std::vector<double> m_value;
};

// True when every entry (r, c) equals the entry (c, r), an absent entry
// counting as an absent one.
bool IsSymmetric(const CSparseRows& a);

// Solves a x = rhs. Throws ComputeException (text naming what) when the
// factorization meets a zero pivot, that is when the equations have no
// unique solution.
std::vector<double> SolveSparseSystem(const CSparseRows& a, const std::vector<double>& rhs,
                                      const char* what);
