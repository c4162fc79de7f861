// The transport step: an explicit finite-volume step of advection and
// dispersion of the mobile components over one global step, from the state at
// the start of the step (m_state). The change of every mobile entry is
// accumulated into m_transportDelta so that every face sees the same starting
// state; all other entries stay 0. The local reaction integration applies the
// change as a constant rate over the step.
//
// The flux F across a face from a to b, per unit face area, is
//   (c(b) - c(a)) * ((q/2 - theta_f * D / d) - q^2 * dt / 2 / (theta_f * d))
//   - cross term + q * c(upstream)
// that is central advection with a Lax-Wendroff correction, Fickian
// dispersion with node a's coefficient and the face's mean porosity, the cross
// dispersion from a central difference across a's neighbours on the other
// axis, and upstream advection. Nodes with a negative water source also lose
// solute in proportion to their concentration.
#include "sim/limits.h"
#include "sim/simulation.h"

namespace {

// What differs between a row face and a column face.
struct CFace {
    int a = 0;       // first value of node a (the lower index)
    int b = 0;       // first value of node b
    double d = 0.0;  // distance between a and b
    double q = 0.0;  // Darcy flux from a to b
    double wa = 0.0; // widths of the two cells along the face normal
    double wb = 0.0;
    int diagCoef = 0;             // 0: Drr (row faces), 1: Dcc (column faces)
    bool cross = false;           // node a has neighbours on both sides across the face
    int crossLow = 0;             // first value of a's neighbour below on the other axis
    int crossHigh = 0;            // and above
    double crossD = 0.0;          // distance between those two neighbours
    const double* coef = nullptr; // borrowed: node a's m_dispCoef triples
};

// Adds the transport across one face to the changes of its two nodes.
void TransportAcrossFace(const CSimulation& s, const CFace& f, double dt) {
    const double* state = s.m_state;
    double* delta = s.m_transportDelta;
    const double thetaA = state[f.a + SLOT_POROSITY];
    const double thetaB = state[f.b + SLOT_POROSITY];
    const double thetaF = (thetaA + thetaB) * 0.5;
    const double q = f.q;
    const int firstMobile = s.m_nComp - s.m_nMobile;

    for (int m = 0; m < s.m_nMobile; ++m) {
        const int k = firstMobile + m;
        const double diag = f.coef[3 * m + f.diagCoef];
        const double drc = f.coef[3 * m + 2];
        const double ca = state[f.a + k];
        const double cb = state[f.b + k];
        double flux =
            (cb - ca) * ((q * 0.5 - thetaF * diag / f.d) - q * dt * q * 0.5 / (thetaF * f.d));
        if (f.cross)
            flux =
                flux - (state[f.crossHigh + k] - state[f.crossLow + k]) * thetaA * drc / f.crossD;
        const double upstream = q >= 0.0 ? ca : cb;
        flux = flux + q * upstream;
        delta[f.a + k] -= flux * dt / f.wa / thetaA;
        delta[f.b + k] += flux * dt / f.wb / thetaB;
    }
}

} // namespace

void CSimulation::TransportStep() {
    const double dt = m_globalStep;
    const int nComp = m_nComp;
    for (int t = 0; t < m_nValues; ++t)
        m_transportDelta[t] = 0.0;
    if (m_nMobile <= 0)
        return;

    // Row faces: (i, j) to (i+1, j); the cross term runs along the columns.
    for (int i = 0; i < m_nRows - 1; ++i) {
        for (int j = 0; j < m_nCols; ++j) {
            const int n = i * m_nCols + j;
            CFace f;
            f.a = n * nComp;
            f.b = (n + m_nCols) * nComp;
            f.d = m_rowCoord[i + 1] - m_rowCoord[i];
            f.q = m_state[f.a + SLOT_FLUXROW];
            f.wa = m_rowWidth[i];
            f.wb = m_rowWidth[i + 1];
            f.diagCoef = 0;
            f.cross = 0 < j && j < m_nCols - 1;
            if (f.cross) {
                f.crossLow = (n - 1) * nComp;
                f.crossHigh = (n + 1) * nComp;
                f.crossD = m_colCoord[j + 1] - m_colCoord[j - 1];
            }
            f.coef = m_dispCoef.get() + 3 * static_cast<size_t>(n) * m_nMobile;
            TransportAcrossFace(*this, f, dt);
        }
    }

    // Column faces: (i, j) to (i, j+1); the cross term runs along the rows.
    for (int j = 0; j < m_nCols - 1; ++j) {
        for (int i = 0; i < m_nRows; ++i) {
            const int n = i * m_nCols + j;
            CFace f;
            f.a = n * nComp;
            f.b = (n + 1) * nComp;
            f.d = m_colCoord[j + 1] - m_colCoord[j];
            f.q = m_state[f.a + SLOT_FLUXCOL];
            f.wa = m_colWidth[j];
            f.wb = m_colWidth[j + 1];
            f.diagCoef = 1;
            f.cross = 0 < i && i < m_nRows - 1;
            if (f.cross) {
                f.crossLow = (n - m_nCols) * nComp;
                f.crossHigh = (n + m_nCols) * nComp;
                f.crossD = m_rowCoord[i + 1] - m_rowCoord[i - 1];
            }
            f.coef = m_dispCoef.get() + 3 * static_cast<size_t>(n) * m_nMobile;
            TransportAcrossFace(*this, f, dt);
        }
    }

    // Sinks take solute out with the water; sources bring none in.
    const int firstMobile = nComp - m_nMobile;
    for (int n = 0; n < m_nNodes; ++n) {
        const int a = n * nComp;
        const double source = m_state[a + SLOT_SOURCE];
        if (source < 0.0)
            for (int k = firstMobile; k < nComp; ++k)
                m_transportDelta[a + k] += m_state[a + k] * source * dt;
    }
}
