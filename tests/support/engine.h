// The engine as the tests drive it: model files built field by field or from
// numbers, a model read into a simulation, the run's stages on it, and
// stand-in reactions. Every call of a run stage goes through CEngine (and
// RunInProcess), so that a change of those calls is made in engine.cpp alone.
#pragma once

#include "io/output_files.h"
#include "model/exceptions.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "run/run_control.h"
#include "rxn/reactions.h"
#include "rxn/rxn.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kova_test {

// The model file in its fields, for tests that change one field at a time.
// It starts as the two-node example: one row of two nodes, heads 10 and 0
// held fixed, one mobile component, no reactions, one empty set.
struct CModelFields {
    std::string header = "1 2 0 1 0 1";
    std::string times = "0 10 1 0.1 1e-6";
    std::string rowCoords = "0";
    std::string colCoords = "0 10";
    std::string transport = "1 0.1 0";
    std::string defaults = "0 0 0.3 1 1 0 0 0";
    std::string overrides = "2  0 0 0 10  0 0 7 1";
    std::string fixedHeads = "2  0 0  0 1";
    std::string reactions = "";
    std::string defaultSet = "0";
    std::string setOverrides = "0";
    std::string sets = "0 0";

    std::string Text() const; // one field a line
};

// A model file from numbers: a grid, its times and transport parameters, a
// default state vector with overrides and fixed-head nodes, no reactions and
// one empty reaction set. Numbers are written exact to the last bit.
struct CTestModel {
    struct Override {
        int i, j, k;
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
    std::vector<double> rowCoord;                 // default 0, 1, 2, ...
    std::vector<double> colCoord;                 // default 0, 1, 2, ...
    std::vector<std::array<double, 3>> transport; // per mobile: alphaL, alphaT, diffusion
    std::vector<double> defaults; // default: head 0, source 0, porosity 0.3, k `conductivity`,
                                  // the rest 0
    std::vector<Override> overrides;
    std::vector<std::array<int, 2>> fixedHeads;

    int NComp() const { return 7 + nImmobile + nMobile; }
    std::string Text() const;

    // Setters that chain, for models written in one expression.
    CTestModel& Grid(int r, int c, std::vector<double> rowC = {}, std::vector<double> colC = {}) {
        rows = r, cols = c, rowCoord = std::move(rowC), colCoord = std::move(colC);
        return *this;
    }
    CTestModel& Mobile(double alphaL, double alphaT, double diffusion) {
        transport.push_back({alphaL, alphaT, diffusion});
        nMobile = static_cast<int>(transport.size());
        return *this;
    }
    CTestModel& Set(int i, int j, int k, double v) {
        overrides.push_back({i, j, k, v});
        return *this;
    }
    CTestModel& Fixed(int i, int j) {
        fixedHeads.push_back({i, j});
        return *this;
    }
};

// One transport step, and the stable step over the grid, in the form the
// model's settings choose now.
void StepTransport(CSimulation& sim);
double StableStepOf(CSimulation& sim, double duration, int* limiting);

// A simulation with its run control; the worker's reports go to sink.
class CEngine {
public:
    explicit CEngine(const std::string& base = "m");

    // Reads model text as a run reads its file; a failure passes to the caller.
    void Read(const std::string& text);
    void Read(std::istream& in); // the stream prepared as the reader prepares it
    void Read(const CTestModel& model) { Read(model.Text()); }
    void Heads();                     // initial heads
    void Flow();                      // fluxes and transport coefficients
    void Transport();                 // one transport step from sim.m_state
    void StableStep(double duration); // the stable global step
    void Open(const std::string& base);
    void Record(); // one output record of sim.m_stateNew at sim.m_clock.m_currentTime
    void Close(const std::string& base);
    void Loop();    // the time loop
    void Abandon(); // the output files closed as after a failure
    // What a run does after the heads: open the files, the loop, close.
    void Finish(const std::string& base);
    void Run(); // the whole run sequence, as the binary's worker runs it

    // Entry k of node (i, j) of the model's state.
    double& At(int i, int j, int k) {
        return sim.m_stateNew.get()[(i * sim.m_nCols + j) * sim.m_nComp + k];
    }

    CRunControl control;
    CRecordingSink sink;
    CSimulation sim;
    CReactions rx;                        // the model's reactions, read with it
    std::unique_ptr<COutputFiles> output; // between Open and the end of the engine
};

// How f ended: "" when it returned, else the class of its failure and the
// detail: "input: ...", "bad file: ...", "compute: ...", "time: ...",
// "not supported: ..." or "general: ...".
std::string Outcome(const std::function<void()>& f);

// How reading text as a run reads its file ended, as Outcome tells.
std::string ReadOutcome(const std::string& text);

// How a run of a model file in-process ended.
struct CInProcessRun {
    std::string error;                // the run's error text; empty when it did not fail
    std::string status;               // the last status line
    std::vector<std::string> texts;   // the failure reports shown
    std::vector<std::string> details; // and their details
};

// Runs base.kvi through RunSimulation, as the binary's worker does.
CInProcessRun RunInProcess(const std::string& base);

// A reaction whose rate and equilibrium the test gives: a stand-in for the
// local integration and the time loop. Without a function it answers as the
// bare reaction does (not supported).
class CStandInRxn : public CRxn {
public:
    using Rate = std::function<void(const double* conc, double* delta, double h)>;
    using Equi = std::function<void(double* conc)>;
    CStandInRxn(int nComp, CSimulation* sim, Rate rate, Equi equi = nullptr);
    double CompRate(const double* conc, const double* base, double* delta, double h) override;
    void CompEqui(double* conc) override;

private:
    Rate m_rate;
    Equi m_equi;
};

// Appends a stand-in rate to the kinetic list of the model's reaction set 0.
void AddStandInRate(CEngine& e, CStandInRxn::Rate rate);

} // namespace kova_test
