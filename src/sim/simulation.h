// The model of one run: times, grid, per-node state, transport parameters,
// reactions, reaction sets, per-node local-step control and the output file.
//
// The fields are public: the reader fills them, the flow, reaction and output
// code work on them in place, and the tests inspect them. Arrays are owned
// here and released by FreeArrays (or the destructor).
#pragma once

#include "sim/limits.h"
#include "sim/phase_times.h"
#include "sim/rxn_work.h"

#include <cstdint>
#include <cstdio>
#include <iosfwd>
#include <memory>
#include <vector>

class CRunControl;
class CRxn;
class CRxnSet;
class CThreadTeam;

class CSimulation {
public:
    explicit CSimulation(CRunControl* runControl);
    ~CSimulation();
    CSimulation(const CSimulation&) = delete;
    CSimulation& operator=(const CSimulation&) = delete;

    // Run sequence: read, heads, output and time loop; reports failures.
    void Run();

    // Storage. AllocateArrays returns 0 (and does nothing) after a cancel.
    int AllocateArrays();
    void FreeArrays();

    // Input file.
    void ReadInput(std::istream& in);

    // Initial heads and flow.
    void InitHeads();
    double RelaxNodeHead(int i, int j);
    void ComputeFlowField();
    double FaceFlux(int a, int b, double d, int slot) const;
    // One transport step: the face loops with one thread, else the per-node
    // gather; both give the same bits.
    void TransportStep();
    void TransportStepFaceLoops();
    void TransportStepGather();

    // Output files.
    void OpenOutput(const char* base);
    void WriteOutput();
    void CloseOutput(const char* base);

    // Time loop.
    void TimeLoop();
    void ComputeStableStep(double duration);

    // The reaction clock at the start and at the end of the current local step
    // of the node being integrated on the calling thread (m_rxnBaseTime outside
    // an integration).
    double LocalTime() const;
    double LocalEndTime() const;

    // --- times
    double m_startTime = 0.0;
    double m_outputInterval = 0.0;
    double m_endTime = 0.0;
    double m_rxnBaseTime = 0.0;
    double m_currentTime = 0.0;
    std::vector<double> m_outputTimes; // time of every record written; grows as needed
    double m_globalStep = 0.0;
    double m_opzero = 0.0;

    // --- grid
    std::unique_ptr<double[]> m_rowCoord;
    std::unique_ptr<double[]> m_colCoord;
    std::unique_ptr<double[]> m_rowWidth;
    std::unique_ptr<double[]> m_colWidth;

    // --- state and transport
    std::unique_ptr<double[]> m_dispCoef; // 3 per (node, mobile component)
    std::unique_ptr<double[]> m_work;     // head band matrix, later m_state + m_transportDelta
    double* m_state = nullptr;            // borrowed: first m_nValues doubles of m_work
    double* m_transportDelta = nullptr;   // borrowed: m_work + m_nValues
    std::unique_ptr<double[]> m_stateNew;
    std::unique_ptr<double[]> m_dispersivityL;
    std::unique_ptr<double[]> m_dispersivityT;
    std::unique_ptr<double[]> m_diffusion;
    std::unique_ptr<unsigned char[]> m_nodeRxnSet;
    std::unique_ptr<unsigned char[]> m_nodeType;

    // --- counts
    int m_nRows = 0;
    int m_nCols = 0;
    int m_nStateSlots = 0;
    int m_nImmobile = 0;
    int m_nMobile = 0;
    int m_nComp = 0;
    int m_nNodes = 0;
    int m_nValues = 0;
    int m_nDispCoef = 0;
    int m_nRxn = 0;
    int m_nRxnSets = 0;
    int m_workSize = 0;
    int m_currentNode = 0; // node being integrated; kept by the one-thread path only
    int m_recordCount = 0;

    // The team of m_nThreads threads, started on first use (the time loop
    // starts it before its first step).
    CThreadTeam& Team();

    // --- threads, head solve, timings
    int m_nThreads = 1; // 1: the serial loops, no other thread
    std::unique_ptr<CThreadTeam> m_team;
    std::vector<CRxnWork> m_rxnWork;                  // one per thread, sized before the time loop
    std::vector<double> m_transportScratch;           // face fluxes kept by each thread's gather
    int64_t m_headBandMaxBytes = HEAD_BAND_MAX_BYTES; // larger band matrices go sparse
    EHeadSolve m_headSolve = EHeadSolve::NONE;        // chosen by AllocateArrays
    CPhaseTimes m_times;

    // --- local-step control, per node
    std::unique_ptr<double[]> m_localFraction;
    std::unique_ptr<int[]> m_localHold;

    // --- output, reactions, run control
    std::FILE* m_outFile = nullptr; // owned; closed by CloseOutput or the destructor
    std::vector<std::unique_ptr<CRxnSet>> m_rxnSets;
    std::vector<std::unique_ptr<CRxn>> m_rxns;
    CRunControl* m_runControl = nullptr; // borrowed from the front end

    // Bytes the model's arrays may take; 0: the memory available on this
    // machine when AllocateArrays runs. Tests and the fuzzer set a small budget.
    uint64_t m_memoryLimit = 0;
};
