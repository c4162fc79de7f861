// The implicit transport's matrices on the grid's five-point stencil, kept
// as five coefficients a node (row-major order, n = i * nCols + j), and
// their incomplete factor by lines. The stencil is all the implicit step
// puts in its matrix, so the coefficients need no index arrays, and a
// product or a sweep of the factor reads each coefficient once, in order.
//
// The factor holds every coupling along the grid's lines exactly and drops
// only what the lines' coupling to each other would fill in. With a long
// step the coupling along the flow (upstream advection, longitudinal
// dispersion) grows with the step and the transverse one ten times slower
// (alphaT ~ alphaL / 10), so the factor degrades far more slowly as the
// Courant number grows than the factor without fill: on the 300 x 300 plume at
// Courant 24, 3.7 iterations a solve by lines with the coupling's row sums
// (6.4 with the diagonal of B^-1 in their place), 15.3 without fill, 10.7 with
// the dropped fill put on the diagonal (relaxed by 0.9), 2.9 with Eigen's
// threshold LU (fill 10), whose set-up alone took 0.31 s.
#pragma once

#include <Eigen/Core>

#include <vector>

// The coefficients of node n's row: on the node above (n - nCols), to the
// left (n - 1), itself, to the right (n + 1) and below (n + nCols).
enum EStencil { STENCIL_UP, STENCIL_LEFT, STENCIL_SELF, STENCIL_RIGHT, STENCIL_DOWN, STENCIL_SIZE };

class CFivePointMatrix {
public:
    // nRows x nCols nodes, every coefficient 0.
    void Resize(int nRows, int nCols);
    void SetZero();
    int Rows() const { return m_nRows; }
    int Cols() const { return m_nCols; }
    int Nodes() const { return m_nRows * m_nCols; }
    double* Row(int n) { return m_coef.data() + STENCIL_SIZE * static_cast<size_t>(n); }
    const double* Row(int n) const { return m_coef.data() + STENCIL_SIZE * static_cast<size_t>(n); }
    // y = this x.
    void Multiply(const Eigen::VectorXd& x, Eigen::VectorXd& y) const;
    bool operator==(const CFivePointMatrix& other) const;

private:
    int m_nRows = 0;
    int m_nCols = 0;
    std::vector<double> m_coef; // STENCIL_SIZE a node
};

// The incomplete factor by lines: M = (D + L) D^-1 (D + U), where D holds
// a tridiagonal block for each line of the grid (along its rows or its
// columns, whichever couples more strongly) and L and U couple the lines.
// Each block is its line's rows less the previous line's coupling L B^-1 U
// (B the previous block) lumped on the diagonal, each row's whole sum of it,
// so that M and the matrix agree on a constant (the modified form of the
// incomplete factor): a smooth plume's error is what the iteration leaves
// longest. Applying M solves each block exactly. With the step long, the coupling along the flow
// (advection and longitudinal dispersion) is much the stronger, and the block factor holds all of
// it, where the factor without fill drops the longitudinal dispersion's fill.
class CFivePointLineIlu {
public:
    bool Compute(const CFivePointMatrix& a);
    // x = M^-1 b; work: a vector of b's size. Const, so that components
    // with the same matrix share a factor, each with its own work.
    void Apply(const Eigen::VectorXd& b, Eigen::VectorXd& work, Eigen::VectorXd& x) const;

private:
    // y = the block of the line from node first solved for r (y may be r).
    template <bool unitStride> void SolveLine(int first, const double* r, double* y) const;
    template <bool unitStride> void Sweep(const double* b, double* w, double* y) const;

    bool m_alongRows = true;
    int m_lines = 0;  // lines
    int m_length = 0; // nodes a line
    int m_along = 1;  // the stride from a node to the next of its line
    int m_across = 0; // from a node to its neighbour on the next line
    // Per node: the block's coefficient on the node before on the line, its
    // forward pivot inverted, its coefficient on the node after over the
    // pivot, and the coefficients on the lines before and after (0 where
    // there are none).
    std::vector<double> m_before, m_inversePivot, m_after, m_above, m_below;
    // Work of Compute: the diagonal of each block and of its inverse, and
    // the block's inverse times its couplings to the next line.
    std::vector<double> m_diagonal;
    std::vector<double> m_rowSum;
};

inline void Multiply(const CFivePointMatrix& a, const Eigen::VectorXd& x, Eigen::VectorXd& y) {
    a.Multiply(x, y);
}
