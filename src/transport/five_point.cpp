#include "transport/five_point.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>

void CFivePointMatrix::Resize(int nRows, int nCols) {
    m_nRows = nRows;
    m_nCols = nCols;
    m_coef.assign(STENCIL_SIZE * static_cast<size_t>(nRows) * static_cast<size_t>(nCols), 0.0);
}

void CFivePointMatrix::SetZero() {
    std::fill(m_coef.begin(), m_coef.end(), 0.0);
}

bool CFivePointMatrix::operator==(const CFivePointMatrix& other) const {
    return m_nRows == other.m_nRows && m_nCols == other.m_nCols && m_coef == other.m_coef;
}

namespace {

size_t ToIndex(int n) {
    return static_cast<size_t>(n);
}

// One row of the grid: the sums along the row, then the rows above and below
// where there are any (their coefficients are 0 at the grid's edge, but the
// values beyond it do not exist).
void MultiplyRow(const double* c, const double* x, double* y, int nCols, const double* up,
                 const double* down) {
    if (nCols == 1) {
        y[0] = c[STENCIL_SELF] * x[0];
    } else {
        y[0] = c[STENCIL_SELF] * x[0] + c[STENCIL_RIGHT] * x[1];
        for (int j = 1; j < nCols - 1; ++j) {
            const double* r = c + STENCIL_SIZE * j;
            y[j] =
                r[STENCIL_LEFT] * x[j - 1] + r[STENCIL_SELF] * x[j] + r[STENCIL_RIGHT] * x[j + 1];
        }
        const double* r = c + STENCIL_SIZE * (nCols - 1);
        y[nCols - 1] = r[STENCIL_LEFT] * x[nCols - 2] + r[STENCIL_SELF] * x[nCols - 1];
    }
    if (up)
        for (int j = 0; j < nCols; ++j)
            y[j] += c[STENCIL_SIZE * j + STENCIL_UP] * up[j];
    if (down)
        for (int j = 0; j < nCols; ++j)
            y[j] += c[STENCIL_SIZE * j + STENCIL_DOWN] * down[j];
}

} // namespace

void CFivePointMatrix::Multiply(const Eigen::VectorXd& x, Eigen::VectorXd& y) const {
    const double* in = x.data();
    double* out = y.data();
    for (int i = 0; i < m_nRows; ++i) {
        const int n = i * m_nCols;
        MultiplyRow(Row(n), in + n, out + n, m_nCols, i > 0 ? in + n - m_nCols : nullptr,
                    i < m_nRows - 1 ? in + n + m_nCols : nullptr);
    }
}

namespace {

// The lines of the grid and their neighbours: along the rows (each grid row a
// line, its nodes 1 apart) or along the columns.
struct CLines {
    int count, length, along, across; // lines, nodes a line, strides
    int before, after, above, below;  // the stencil's slots along and across
};

CLines LinesOf(const CFivePointMatrix& a, bool alongRows) {
    if (alongRows)
        return {a.Rows(),     a.Cols(),      1,          a.Cols(),
                STENCIL_LEFT, STENCIL_RIGHT, STENCIL_UP, STENCIL_DOWN};
    return {a.Cols(), a.Rows(), a.Cols(), 1, STENCIL_UP, STENCIL_DOWN, STENCIL_LEFT, STENCIL_RIGHT};
}

} // namespace

bool CFivePointLineIlu::Compute(const CFivePointMatrix& a) {
    // The lines follow the stronger coupling, so that what the factor drops
    // between lines is the weaker.
    double rows = 0.0;
    double cols = 0.0;
    for (int n = 0; n < a.Nodes(); ++n) {
        const double* r = a.Row(n);
        rows += std::fabs(r[STENCIL_LEFT]) + std::fabs(r[STENCIL_RIGHT]);
        cols += std::fabs(r[STENCIL_UP]) + std::fabs(r[STENCIL_DOWN]);
    }
    m_alongRows = rows >= cols;
    const CLines l = LinesOf(a, m_alongRows);
    m_lines = l.count;
    m_length = l.length;
    m_along = l.along;
    m_across = l.across;
    const size_t size = static_cast<size_t>(a.Nodes());
    for (std::vector<double>* v :
         {&m_before, &m_inversePivot, &m_after, &m_above, &m_below, &m_diagonal, &m_rowSum})
        v->assign(size, 0.0);
    std::vector<double>& diagonal = m_diagonal; // the blocks' diagonals, then their inverses'
    for (int line = 0; line < l.count; ++line) {
        const int first = line * l.across;
        for (int p = 0; p < l.length; ++p) {
            const int n = first + p * l.along;
            const double* r = a.Row(n);
            m_before[ToIndex(n)] = p > 0 ? r[l.before] : 0.0;
            m_above[ToIndex(n)] = line > 0 ? r[l.above] : 0.0;
            m_below[ToIndex(n)] = line < l.count - 1 ? r[l.below] : 0.0;
            // The line's diagonal less the previous line's coupling, each
            // row's whole sum of it (the coupling is L B^-1 U, B the previous
            // block; its row sums are L times B^-1 U's column of couplings).
            double d = r[STENCIL_SELF];
            if (line > 0)
                d -= r[l.above] * m_rowSum[ToIndex(n - l.across)];
            diagonal[ToIndex(n)] = d;
        }
        // The backward pivots (kept in m_after for now), then the forward
        // ones, and the diagonal of the block's inverse from both (its
        // reciprocal is the pivot of the middle node).
        for (int p = l.length - 1; p >= 0; --p) {
            const int n = first + p * l.along;
            double e = diagonal[ToIndex(n)];
            if (p < l.length - 1)
                e -= a.Row(n)[l.after] * a.Row(n + l.along)[l.before] /
                     m_after[ToIndex(n + l.along)];
            m_after[ToIndex(n)] = e;
        }
        double previous = 0.0;
        for (int p = 0; p < l.length; ++p) {
            const int n = first + p * l.along;
            const double own = diagonal[ToIndex(n)];
            double d = own;
            if (p > 0)
                d -= a.Row(n)[l.before] * a.Row(n - l.along)[l.after] * previous;
            if (d == 0.0 || !std::isfinite(d))
                return false;
            diagonal[ToIndex(n)] = 1.0 / (d + m_after[ToIndex(n)] - own);
            previous = 1.0 / d;
            m_inversePivot[ToIndex(n)] = previous;
        }
        // The line is solved from both ends towards its middle node mid:
        // forward pivots before it, backward ones after it, and at mid the
        // reciprocal of the inverse's diagonal. Each node keeps its pivot
        // inverted and its neighbours' coefficients over its pivot, so that
        // each step of the solve waits on one product and one difference.
        const int mid = l.length / 2;
        for (int p = 0; p < l.length; ++p) {
            const int n = first + p * l.along;
            double inverse = m_inversePivot[ToIndex(n)];
            if (p > mid) {
                const double backwardPivot = m_after[ToIndex(n)];
                if (backwardPivot == 0.0 || !std::isfinite(backwardPivot))
                    return false;
                inverse = 1.0 / backwardPivot;
            } else if (p == mid) {
                inverse = diagonal[ToIndex(n)];
            }
            m_inversePivot[ToIndex(n)] = inverse;
            m_after[ToIndex(n)] = p < l.length - 1 ? a.Row(n)[l.after] * inverse : 0.0;
            m_before[ToIndex(n)] *= inverse;
        }
        // B^-1 times the line's couplings to the next, for the next line.
        if (line < l.count - 1) {
            for (int p = 0; p < l.length; ++p) {
                const int n = first + p * l.along;
                m_rowSum[ToIndex(n)] = a.Row(n)[l.below];
            }
            if (l.along == 1)
                SolveLine<true>(first, m_rowSum.data(), m_rowSum.data());
            else
                SolveLine<false>(first, m_rowSum.data(), m_rowSum.data());
        }
    }
    return true;
}

template <bool unitStride>
void CFivePointLineIlu::SolveLine(int first, const double* r, double* y) const {
    const int along = unitStride ? 1 : m_along;
    const double* before = m_before.data() + first;
    const double* inverse = m_inversePivot.data() + first;
    const double* after = m_after.data() + first;
    r += first;
    y += first;
    // Elimination from both ends towards the middle, side by side: the
    // first half's steps wait on the one before, the second's on the one
    // after, and each fills the other's wait.
    const int mid = m_length / 2;
    const int last = (m_length - 1) * along;
    double g = 0.0; // from the first node
    double h = 0.0; // from the last
    int p = 0;
    for (; p < m_length - 1 - mid; ++p) {
        const int q = p * along;
        const int o = last - q;
        g = r[q] * inverse[q] - before[q] * g;
        h = r[o] * inverse[o] - after[o] * h;
        y[q] = g;
        y[o] = h;
    }
    for (; p < mid; ++p) {
        const int q = p * along;
        g = r[q] * inverse[q] - before[q] * g;
        y[q] = g;
    }
    const int m = mid * along;
    const double ym = r[m] * inverse[m] - before[m] * g - after[m] * h;
    y[m] = ym;
    // Substitution outwards from the middle, both halves side by side.
    g = ym;
    h = ym;
    p = 1;
    for (; p <= m_length - 1 - mid; ++p) {
        const int q = m - p * along;
        const int o = m + p * along;
        g = y[q] - after[q] * g;
        h = y[o] - before[o] * h;
        y[q] = g;
        y[o] = h;
    }
    for (; p <= mid; ++p) {
        const int q = m - p * along;
        g = y[q] - after[q] * g;
        y[q] = g;
    }
}

template <bool unitStride>
void CFivePointLineIlu::Sweep(const double* b, double* w, double* y) const {
    const int along = unitStride ? 1 : m_along;
    // (D + L) y = b, line by line: the line before is the one just solved.
    for (int line = 0; line < m_lines; ++line) {
        const int first = line * m_across;
        const double* above = m_above.data();
        for (int p = 0, n = first; p < m_length; ++p, n += along)
            w[n] = b[n] - (line > 0 ? above[n] * y[n - m_across] : 0.0);
        SolveLine<unitStride>(first, w, y);
    }
    // (I + D^-1 U) x = y, from the last line back.
    for (int line = m_lines - 2; line >= 0; --line) {
        const int first = line * m_across;
        const double* below = m_below.data();
        for (int p = 0, n = first; p < m_length; ++p, n += along)
            w[n] = below[n] * y[n + m_across];
        SolveLine<unitStride>(first, w, w);
        for (int p = 0, n = first; p < m_length; ++p, n += along)
            y[n] -= w[n];
    }
}

void CFivePointLineIlu::Apply(const Eigen::VectorXd& b, Eigen::VectorXd& work,
                              Eigen::VectorXd& x) const {
    if (m_along == 1)
        Sweep<true>(b.data(), work.data(), x.data());
    else
        Sweep<false>(b.data(), work.data(), x.data());
}
