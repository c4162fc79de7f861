// What the post-processing tools need from a model file: the grid with its
// node coordinates, the make-up of the state vector and the times.
#pragma once

#include "model/extension.h"

#include <string>
#include <vector>

struct CModelGrid {
    int m_nRows = 0;
    int m_nCols = 0;
    int m_nImmobile = 0;
    int m_nMobile = 0;
    int m_nComp = 0;                // entries per node: the hydraulic slots, immobile, mobile
    int m_nNodes = 0;               // m_nRows x m_nCols; node (i, j) is i x m_nCols + j
    std::vector<double> m_rowCoord; // coordinate of row i (the y axis of the tools)
    std::vector<double> m_colCoord; // coordinate of column j (the x axis)
    double m_startTime = 0.0;
    double m_endTime = 0.0;
    double m_outputInterval = 0.0;
    double m_globalStep = 0.0; // as given in the file; <= 0 asks for the stable step
    CExtension m_ext;          // names, units and wells of BASE.kvx (defaults without it)
};

// Reads BASE.kvi (and BASE.kvx when there is one) with the engine's own reader, so that the tools
// see the model exactly as a run saw it. Throws ResultException naming the file when it is missing
// or does not read.
CModelGrid LoadModelGrid(const std::string& base);
