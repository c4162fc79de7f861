#include "flow/flow_field.h"

#include "sim/limits.h"
#include "sim/simulation.h"

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
double CSimulation::FaceFlux(int a, int b, double d, int slot) const {
    const double ka = m_stateNew[a + slot];
    const double kb = m_stateNew[b + slot];
    if (ka == 0.0 || kb == 0.0)
        return 0.0;
    const double ha = m_stateNew[a + SLOT_HEAD];
    const double hb = m_stateNew[b + SLOT_HEAD];
    return (2.0 * kb * ka / (kb + ka)) * (ha - hb) / d;
}

void CSimulation::ComputeFlowField() {
    double* state = m_stateNew.get();
    const int nComp = m_nComp;

    for (int i = 0; i < m_nRows - 1; ++i) {
        const double d = m_rowCoord[i + 1] - m_rowCoord[i];
        for (int j = 0; j < m_nCols; ++j) {
            const int a = (i * m_nCols + j) * nComp;
            const int b = ((i + 1) * m_nCols + j) * nComp;
            state[a + SLOT_FLUXROW] = FaceFlux(a, b, d, SLOT_KROW);
        }
    }
    for (int j = 0; j < m_nCols - 1; ++j) {
        const double d = m_colCoord[j + 1] - m_colCoord[j];
        for (int i = 0; i < m_nRows; ++i) {
            const int a = (i * m_nCols + j) * nComp;
            const int b = (i * m_nCols + j + 1) * nComp;
            state[a + SLOT_FLUXCOL] = FaceFlux(a, b, d, SLOT_KCOL);
        }
    }

    // A node's velocity is taken from the fluxes across its own faces towards
    // the higher indices. On the first column Drr ignores the column flux and
    // on the first row Dcc ignores the row flux, whatever the grid's size.
    for (int i = 0; i < m_nRows; ++i) {
        for (int j = 0; j < m_nCols; ++j) {
            const int n = i * m_nCols + j;
            const double* node = state + static_cast<size_t>(n) * nComp;
            const double theta = node[SLOT_POROSITY];
            const double qr = node[SLOT_FLUXROW];
            const double qc = node[SLOT_FLUXCOL];
            for (int s = 0; s < m_nMobile; ++s) {
                const double aL = m_dispersivityL[s];
                const double aT = m_dispersivityT[s];
                const double dm = m_diffusion[s];
                double* coef = m_dispCoef.get() + 3 * (static_cast<size_t>(n) * m_nMobile + s);
                if (j == 0)
                    coef[0] = DispersionDiagonal(aL, aT, qr, 0.0, theta) + dm;
                else if (m_nRows == 1)
                    coef[0] = 0.0;
                else
                    coef[0] = DispersionDiagonal(aL, aT, qr, qc, theta) + dm;
                if (i == 0)
                    coef[1] = DispersionDiagonal(aL, aT, qc, 0.0, theta) + dm;
                else if (m_nCols == 1)
                    coef[1] = 0.0;
                else
                    coef[1] = DispersionDiagonal(aL, aT, qc, qr, theta) + dm;
                coef[2] = DispersionCross(aL, aT, qr, qc, theta);
            }
        }
    }
}
