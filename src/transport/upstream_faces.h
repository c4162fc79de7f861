// The faces of the grid as the schemes taken from the upstream side see them:
// a face with its neighbours along and across its normal, its upstream node's
// dispersion coefficients, the cross term and the limited slope. Shared by
// the explicit step (transport/upstream_transport.cpp) and the implicit one
// (transport/implicit_transport.cpp), so that both take the same coefficients.
#pragma once

#include "heads/flow_field.h"
#include "transport/transport_faces.h"

#include "model/limits.h"
#include "model/node_view.h"
#include "model/simulation.h"

#include <cmath>

// A face and its neighbourhood along and across its normal.
struct CAxisFace {
    CFace f;
    int step = 0;             // values from a node to its neighbour along the normal
    int tangentSlot = 0;      // the flux slot across the normal
    int tangentStep = 0;      // values from a node to its neighbour across the normal
    bool tangentZero = false; // on the first column (row faces) or row (column faces)
    bool rowFace = true;
    bool beforeA = false; // a has a neighbour on its far side, dBeforeA away
    bool afterB = false;  // b has one on its far side, dAfterB away
    double dBeforeA = 0.0;
    double dAfterB = 0.0;
};

// The face from (i, j) to its neighbour along the rows (rowFace) or the columns.
[[gnu::always_inline]] inline CAxisFace AxisFace(const CSimulation& s, int i, int j, bool rowFace) {
    CAxisFace g;
    g.f = rowFace ? RowFace(s, i, j) : ColumnFace(s, i, j);
    g.rowFace = rowFace;
    g.step = s.m_nComp * (rowFace ? s.m_nCols : 1);
    g.tangentSlot = rowFace ? SLOT_FLUXCOL : SLOT_FLUXROW;
    g.tangentStep = s.m_nComp * (rowFace ? 1 : s.m_nCols);
    g.tangentZero = (rowFace ? j : i) == 0;
    const int along = rowFace ? i : j; // the index along the normal
    const int count = rowFace ? s.m_nRows : s.m_nCols;
    const double* coord = rowFace ? s.m_grid.m_rowCoord.get() : s.m_grid.m_colCoord.get();
    g.beforeA = along > 0;
    if (g.beforeA)
        g.dBeforeA = coord[along] - coord[along - 1];
    g.afterB = along + 2 < count;
    if (g.afterB)
        g.dAfterB = coord[along + 2] - coord[along + 1];
    return g;
}

// The upstream node of a face and its dispersion coefficients for one
// mobile component.
struct CUpstream {
    int node = 0;       // first value of the node
    double diag = 0.0;  // dispersion along the face normal
    double cross = 0.0; // the tensor's cross term
};

// With the water flowing towards b, b's tensor is computed as the flow field
// computes a node's own, with this face's flux along the normal (a's stored
// tensor already has it); the first row or column takes no flux across.
// state: the values the face's flux was read from.
inline CUpstream Upstream(const CSimulation& s, const double* state, const CAxisFace& g, int m) {
    const CFace& f = g.f;
    if (f.q >= 0.0)
        return {f.a, f.coef[3 * m + f.diagCoef], f.coef[3 * m + 2]};
    const CNodeView node(state + f.b);
    const double theta = node.Porosity();
    const double across = node[g.tangentSlot];
    const double aL = s.m_dispersivityL.get()[m];
    const double aT = s.m_dispersivityT.get()[m];
    CUpstream up;
    up.node = f.b;
    up.diag = DispersionDiagonal(aL, aT, f.q, g.tangentZero ? 0.0 : across, theta) +
              s.m_diffusion.get()[m];
    up.cross = g.rowFace ? DispersionCross(aL, aT, f.q, across, theta)
                         : DispersionCross(aL, aT, across, f.q, theta);
    return up;
}

// The cross dispersion across the upstream node's neighbours, per unit face
// area; 0 on the grid's edge rows and columns.
inline double Cross(const double* state, const CAxisFace& g, const CUpstream& up, int k) {
    if (!g.f.cross)
        return 0.0;
    const double* c = state + up.node;
    return (c[g.tangentStep + k] - c[k - g.tangentStep]) * CNodeView(c).Porosity() * up.cross /
           g.f.crossD;
}

// Whether node n's reaction set holds mobile component m at a constant.
inline bool HoldsMobile(const CSimulation& s, int n, int m) {
    const size_t at = ToSize(s.m_nodeRxnSet.get()[n]) * ToSize(s.m_nMobile) + ToSize(m);
    return at < s.m_setHoldsMobile.size() && s.m_setHoldsMobile[at] != 0;
}

// The van Leer slope at the upstream node along the flow: 0 at an extremum.
// Where the node has no neighbour upstream of it, the slope is 0 unless the
// node holds component m (k its entry) at a constant: such a node stands for
// the boundary's value, and the face takes the downstream gradient (the
// Lax-Wendroff face value, phi(1) = 1). Taken first-order, that face added
// |v| dx (1 - C) / 2 of numerical dispersion where the profile is steepest,
// more the shorter the step. The neighbour downstream receives a value
// between the two nodes', within the limiter's bounds, and the held node's
// own change is overwritten. An edge node that is not held keeps 0: the water
// entering it from outside brings no solute, and a slope there would take it
// below 0 where its neighbour's value is higher.
inline double LimitedSlope(const CSimulation& s, const double* state, const CAxisFace& g, int m,
                           int k) {
    const CFace& f = g.f;
    const bool forward = f.q >= 0.0;
    const int u = forward ? f.a : f.b;
    const int down = forward ? f.b : f.a;
    if (!(forward ? g.beforeA : g.afterB))
        return HoldsMobile(s, u / s.m_nComp, m) ? (state[down + k] - state[u + k]) / f.d : 0.0;
    const int far = forward ? f.a - g.step : f.b + g.step;
    const double cu = state[u + k];
    const double gradDown = (state[down + k] - cu) / f.d;
    const double gradUp = (cu - state[far + k]) / (forward ? g.dBeforeA : g.dAfterB);
    if (!(gradDown * gradUp > 0.0))
        return 0.0;
    return 2.0 * gradDown * gradUp / (gradDown + gradUp);
}
