// Builds model files for tests: a grid, its times and transport parameters, a
// default state vector with overrides and fixed-head nodes, no reactions and
// one empty reaction set. Also loads such a model straight into a CSimulation,
// and adds stand-in reactions to it.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

class CRxn;
class CSimulation;

namespace kova_test {

struct CTestModel {
    struct Override {
        int i;
        int j;
        int k;
        double v;
    };

    int rows = 1;
    int cols = 1;
    int nImmobile = 0;
    int nMobile = 0;
    double startTime = 0.0;
    double endTime = 10.0;
    double outputInterval = 1.0;
    double globalStep = 0.1;
    double opzero = 1e-6;
    // Of the default state. Coupled nodes need a fixed head to hold their
    // heads; without one, 0 makes every node a batch reactor.
    double conductivity = 1.0;
    std::vector<double> rowCoord;                 // rows values; default 0, 1, 2, ...
    std::vector<double> colCoord;                 // cols values; default 0, 1, 2, ...
    std::vector<std::array<double, 3>> transport; // per mobile: alphaL, alphaT, diffusion
    std::vector<double> defaults; // 7 + nImmobile + nMobile; default head 0, source 0,
                                  // porosity 0.3, conductivities `conductivity`,
                                  // the rest 0
    std::vector<Override> overrides;
    std::vector<std::array<int, 2>> fixedHeads;

    int NComp() const { return 7 + nImmobile + nMobile; }
    // The model file's numbers, exact to the last bit (%.17g).
    std::string Text() const;
};

// Reads model text into sim as a run does (m_nStateSlots = SLOT_COUNT, then
// ReadInput); a failure passes to the caller.
void LoadModelText(CSimulation& sim, const std::string& text);
void LoadModel(CSimulation& sim, const CTestModel& model);

// The record of a reaction that changes nothing: nComp zero coefficients.
std::string ZeroCoefficients(int nComp);
// Appends rxn to the kinetic list of reaction set 0; sim.m_rxns owns it.
void AddKineticToFirstSet(CSimulation& sim, std::unique_ptr<CRxn> rxn);

} // namespace kova_test
