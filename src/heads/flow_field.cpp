#include "heads/flow_field.h"

#include "model/limits.h"
#include "model/node_view.h"
#include "model/simulation.h"

#include <cmath>

double DispersionDiagonal(double alphaL, double alphaT, double qa, double qb, double theta) {
    const double v = std::sqrt(qa * qa + qb * qb);
    if (v == 0.0)
        return 0.0;
    return (alphaL * qa * qa + alphaT * qb * qb) / (v * theta);
}

double DispersionCross(double alphaL, double alphaT, double qa, double qb, double theta) {
    const double v = std::sqrt(qa * qa + qb * qb);
    if (v == 0.0)
        return 0.0;
    return (alphaL - alphaT) * qa * qb / (v * theta);
}

// Harmonic mean of the two conductivities times the head gradient; a face
// next to a node of zero conductivity carries nothing. Per unit face area.
double FaceFlux(const CSimulation& sim, int a, int b, double d, int slot) {
    const double* state = sim.m_stateNew.get();
    const double ka = state[a + slot];
    const double kb = state[b + slot];
    if (ka == 0.0 || kb == 0.0)
        return 0.0;
    const double ha = NodeAt(state, a).Head();
    const double hb = NodeAt(state, b).Head();
    return (2.0 * kb * ka / (kb + ka)) * (ha - hb) / d;
}

void ComputeFlowField(CSimulation& sim) {
    ComputeFlowFieldOfRows(sim, 0, sim.m_nRows);
}

void ComputeFlowFieldOfRows(CSimulation& sim, int rowBegin, int rowEnd) {
    double* state = sim.m_stateNew.get();
    const double* rowCoord = sim.m_grid.m_rowCoord.get();
    const double* colCoord = sim.m_grid.m_colCoord.get();
    const int nComp = sim.m_nComp;

    for (int i = rowBegin; i < rowEnd - 1; ++i) {
        const double d = rowCoord[i + 1] - rowCoord[i];
        for (int j = 0; j < sim.m_nCols; ++j) {
            const int a = (i * sim.m_nCols + j) * nComp;
            const int b = ((i + 1) * sim.m_nCols + j) * nComp;
            state[a + SLOT_FLUXROW] = FaceFlux(sim, a, b, d, SLOT_KROW);
        }
    }
    for (int j = 0; j < sim.m_nCols - 1; ++j) {
        const double d = colCoord[j + 1] - colCoord[j];
        for (int i = rowBegin; i < rowEnd; ++i) {
            const int a = (i * sim.m_nCols + j) * nComp;
            const int b = (i * sim.m_nCols + j + 1) * nComp;
            state[a + SLOT_FLUXCOL] = FaceFlux(sim, a, b, d, SLOT_KCOL);
        }
    }

    // A node's velocity is taken from the fluxes across its own faces towards
    // the higher indices. On the first column Drr ignores the column flux and
    // on the first row Dcc ignores the row flux, whatever the grid's size.
    const double* dispersivityL = sim.m_dispersivityL.get();
    const double* dispersivityT = sim.m_dispersivityT.get();
    const double* diffusion = sim.m_diffusion.get();
    for (int i = rowBegin; i < rowEnd; ++i) {
        for (int j = 0; j < sim.m_nCols; ++j) {
            const int n = i * sim.m_nCols + j;
            const CNodeView node(state + n * nComp);
            const double theta = node.Porosity();
            const double qr = node.FluxRow();
            const double qc = node.FluxCol();
            for (int s = 0; s < sim.m_nMobile; ++s) {
                const double aL = dispersivityL[s];
                const double aT = dispersivityT[s];
                const double dm = diffusion[s];
                double* coef = sim.m_dispCoef.get() + 3 * (n * sim.m_nMobile + s);
                if (j == 0)
                    coef[0] = DispersionDiagonal(aL, aT, qr, 0.0, theta) + dm;
                else if (sim.m_nRows == 1)
                    coef[0] = 0.0;
                else
                    coef[0] = DispersionDiagonal(aL, aT, qr, qc, theta) + dm;
                if (i == 0)
                    coef[1] = DispersionDiagonal(aL, aT, qc, 0.0, theta) + dm;
                else if (sim.m_nCols == 1)
                    coef[1] = 0.0;
                else
                    coef[1] = DispersionDiagonal(aL, aT, qc, qr, theta) + dm;
                coef[2] = DispersionCross(aL, aT, qr, qc, theta);
            }
        }
    }
}
