// The transport step: an explicit finite-volume step of advection and
// dispersion of the mobile components over one global step, from the state at
// the start of the step (m_state). The change of every mobile entry is
// accumulated into m_transportDelta so that every face sees the same starting
// state; all other entries stay 0. The local reaction integration applies the
// change as a constant rate over the step.
//
// With one thread on a grid of fewer than TRANSPORT_GATHER_MIN_NODES nodes the
// step runs as loops over the row faces, the column faces and the sinks.
// Otherwise every node gathers the terms of its own four faces
// and its sink in that same order, each face's F computed by the same
// expression on both sides, so the two ways agree to the last bit.
//
// The flux F across a face from a to b, per unit face area, is
//   (c(b) - c(a)) * ((q/2 - theta_f * D / d) - q^2 * dt / 2 / (theta_f * d))
//   - cross term + q * c(upstream)
// that is central advection with a Lax-Wendroff correction, Fickian
// dispersion with node a's coefficient and the face's mean porosity, the cross
// dispersion from a central difference across a's neighbours on the other
// axis, and upstream advection. Nodes with a negative water source also lose
// solute in proportion to their concentration.
#include "flow/transport.h"

#include "flow/implicit_transport.h"
#include "flow/injection.h"
#include "flow/transport_faces.h"

#include "model/extension.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "run/thread_team.h"

namespace {

// The flux F across face f of mobile component m (state entry k). Both ways of
// running the step compute every F by this one expression.
inline double Flux(const double* state, const CFace& f, int m, int k, double thetaA, double thetaF,
                   double dt) {
    const double q = f.q;
    const double diag = f.coef[3 * m + f.diagCoef];
    const double drc = f.coef[3 * m + 2];
    const double ca = state[f.a + k];
    const double cb = state[f.b + k];
    double flux = (cb - ca) * ((q * 0.5 - thetaF * diag / f.d) - q * dt * q * 0.5 / (thetaF * f.d));
    if (f.cross)
        flux = flux - (state[f.crossHigh + k] - state[f.crossLow + k]) * thetaA * drc / f.crossD;
    const double upstream = q >= 0.0 ? ca : cb;
    return flux + q * upstream;
}

// Adds the transport across one face to the changes of its two nodes.
void TransportAcrossFace(const CSimulation& s, const CFace& f, double dt) {
    const double* state = s.m_state;
    double* delta = s.m_transportDelta;
    const double thetaA = state[f.a + SLOT_POROSITY];
    const double thetaB = state[f.b + SLOT_POROSITY];
    const double thetaF = (thetaA + thetaB) * 0.5;
    const int firstMobile = s.m_nComp - s.m_nMobile;

    for (int m = 0; m < s.m_nMobile; ++m) {
        const int k = firstMobile + m;
        const double flux = Flux(state, f, m, k, thetaA, thetaF, dt);
        delta[f.a + k] -= flux * dt / f.wa / thetaA;
        delta[f.b + k] += flux * dt / f.wb / thetaB;
    }
}

// F of every mobile component across face f, as the face loops compute it.
void FaceFluxes(const CSimulation& s, const CFace& f, double dt, double* flux) {
    const double* state = s.m_state;
    const double thetaA = state[f.a + SLOT_POROSITY];
    const double thetaB = state[f.b + SLOT_POROSITY];
    const double thetaF = (thetaA + thetaB) * 0.5;
    const int firstMobile = s.m_nComp - s.m_nMobile;
    for (int m = 0; m < s.m_nMobile; ++m)
        flux[m] = Flux(state, f, m, firstMobile + m, thetaA, thetaF, dt);
}

// The changes of the nodes of rows begin..end-1. Every node adds the terms of
// its faces in the order in which the face loops reach them (the row face
// above, the row face below, the column face to the left, the one to the
// right), then its sink. Each F is computed once and kept for the node on the
// face's other side: the row faces below a row for the next row, the column
// face to a node's right for the next node. The first row of the range
// computes the row faces above it afresh.
// scratch: (m_nCols + 2) x m_nMobile doubles of the calling thread.
void GatherRows(const CSimulation& s, int begin, int end, double dt, double* scratch) {
    const int nComp = s.m_nComp;
    const int nMobile = s.m_nMobile;
    const int nCols = s.m_nCols;
    const int firstMobile = nComp - nMobile;
    double* rowFlux = scratch;                   // per column: F across the row face below
    double* colFlux = scratch + nCols * nMobile; // F across the last column face
    double* freshAbove = colFlux + nMobile;      // F across a range's first row faces
    const double* rowWidth = s.m_rowWidth.get();
    const double* colWidth = s.m_colWidth.get();
    for (int i = begin; i < end; ++i) {
        for (int j = 0; j < nCols; ++j) {
            const int a = (i * nCols + j) * nComp;
            double* delta = s.m_transportDelta + a;
            const double theta = s.m_state[a + SLOT_POROSITY];
            double* below = rowFlux + j * nMobile;
            for (int k = 0; k < nComp; ++k)
                delta[k] = 0.0;
            if (i > 0) {
                const double* above = below;
                if (i == begin) {
                    FaceFluxes(s, RowFace(s, i - 1, j), dt, freshAbove);
                    above = freshAbove;
                }
                const double w = rowWidth[i];
                for (int m = 0; m < nMobile; ++m)
                    delta[firstMobile + m] += above[m] * dt / w / theta;
            }
            if (i < s.m_nRows - 1) {
                FaceFluxes(s, RowFace(s, i, j), dt, below);
                const double w = rowWidth[i];
                for (int m = 0; m < nMobile; ++m)
                    delta[firstMobile + m] -= below[m] * dt / w / theta;
            }
            const double w = colWidth[j];
            if (j > 0)
                for (int m = 0; m < nMobile; ++m)
                    delta[firstMobile + m] += colFlux[m] * dt / w / theta;
            if (j < nCols - 1) {
                FaceFluxes(s, ColumnFace(s, i, j), dt, colFlux);
                for (int m = 0; m < nMobile; ++m)
                    delta[firstMobile + m] -= colFlux[m] * dt / w / theta;
            }
            const double source = s.m_state[a + SLOT_SOURCE];
            if (source < 0.0)
                for (int k = firstMobile; k < nComp; ++k)
                    delta[k] += s.m_state[a + k] * source * dt;
        }
    }
}

} // namespace

void TransportStep(CSimulation& s) {
    if (IsImplicit(s))
        TransportStepImplicit(s);
    else if (s.m_ext.m_scheme != ETransportScheme::SPEC)
        TransportStepUpstream(s);
    else if (s.m_nThreads == 1 && s.m_nNodes < TRANSPORT_GATHER_MIN_NODES)
        TransportStepFaceLoops(s);
    else
        TransportStepGather(s);
    AddInjection(s);
}

void TransportStepFaceLoops(CSimulation& s) {
    const double dt = s.m_globalStep;
    const int nComp = s.m_nComp;
    for (int t = 0; t < s.m_nValues; ++t)
        s.m_transportDelta[t] = 0.0;
    if (s.m_nMobile <= 0)
        return;

    for (int i = 0; i < s.m_nRows - 1; ++i)
        for (int j = 0; j < s.m_nCols; ++j)
            TransportAcrossFace(s, RowFace(s, i, j), dt);
    for (int j = 0; j < s.m_nCols - 1; ++j)
        for (int i = 0; i < s.m_nRows; ++i)
            TransportAcrossFace(s, ColumnFace(s, i, j), dt);

    // Sinks take solute out with the water; sources bring none in.
    const int firstMobile = nComp - s.m_nMobile;
    for (int n = 0; n < s.m_nNodes; ++n) {
        const int a = n * nComp;
        const double source = s.m_state[a + SLOT_SOURCE];
        if (source < 0.0)
            for (int k = firstMobile; k < nComp; ++k)
                s.m_transportDelta[a + k] += s.m_state[a + k] * source * dt;
    }
}

// Every node gathers its own change, so the threads write disjoint values,
// and sums the same terms in the same order as the face loops: the bits are
// theirs. The threads take ranges of rows.
void TransportStepGather(CSimulation& s) {
    const double dt = s.m_globalStep;
    CThreadTeam& team = s.Team();
    if (s.m_nMobile <= 0) {
        team.ForBlocks(s.m_nValues, [&](int begin, int end) {
            for (int t = begin; t < end; ++t)
                s.m_transportDelta[t] = 0.0;
        });
        return;
    }
    // (m_nCols + 2) x m_nMobile fits int (it is below the checked count of
    // coefficients); the whole scratch, that times the threads, need not.
    const size_t perThread = ToSize((s.m_nCols + 2) * s.m_nMobile);
    const size_t scratchSize = perThread * ToSize(team.Size());
    if (s.m_transportScratch.size() != scratchSize)
        s.m_transportScratch.assign(scratchSize, 0.0); // before the time loop
    team.ForRanges(s.m_nRows, team.BlockSize(s.m_nRows), [&](int begin, int end, int thread) {
        GatherRows(s, begin, end, dt, s.m_transportScratch.data() + perThread * ToSize(thread));
    });
}

void TransportStepRows(CSimulation& s, int rowBegin, int rowEnd) {
    const double dt = s.m_globalStep;
    if (s.m_nMobile <= 0) {
        const int first = rowBegin * s.m_nCols * s.m_nComp;
        const int last = rowEnd * s.m_nCols * s.m_nComp;
        for (int t = first; t < last; ++t)
            s.m_transportDelta[t] = 0.0;
        return;
    }
    const size_t perThread = ToSize((s.m_nCols + 2) * s.m_nMobile);
    double* scratch = s.m_transportScratch.data();
    if (s.m_nThreads == 1) {
        GatherRows(s, rowBegin, rowEnd, dt, scratch);
        return;
    }
    CThreadTeam& team = s.Team();
    const int rows = rowEnd - rowBegin;
    team.ForRanges(rows, team.BlockSize(rows), [&](int begin, int end, int thread) {
        GatherRows(s, rowBegin + begin, rowBegin + end, dt, scratch + perThread * ToSize(thread));
    });
}

int CountReverseFaces(const CSimulation& s) {
    const double* state = s.m_stateNew.get();
    int count = 0;
    for (int n = 0; n < s.m_nNodes; ++n) {
        const double* node = state + n * s.m_nComp;
        count += (node[SLOT_FLUXROW] < 0.0) + (node[SLOT_FLUXCOL] < 0.0);
    }
    return count;
}

std::string ReverseFlowWarning(const CSimulation& s) {
    if (s.m_ext.m_scheme != ETransportScheme::SPEC || IsImplicit(s) || s.m_nMobile == 0)
        return std::string();
    const int count = CountReverseFaces(s);
    if (count == 0)
        return std::string();
    return std::to_string(count) + (count == 1 ? " face carries" : " faces carry") +
           " water towards the lower row or column index; the default transport scheme "
           "takes the half difference there with the signed flux, q (3 c(b) - c(a)) / 2, "
           "which adds numerical dispersion and can make the solute oscillate; "
           "[transport] scheme = \"symmetric\" or \"tvd\" in the extension file "
           "treats both directions alike (docs/transport.md)";
}
