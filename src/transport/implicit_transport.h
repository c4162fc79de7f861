// The implicit transport step ([transport] time = "implicit"): backward Euler
// over each global step, one sparse linear system per mobile component
// (transport/implicit_transport.cpp says what is in the matrix and what is
// deferred to the right-hand side).
#pragma once

#include "model/limits.h"

#include <memory>
#include <vector>

class CImplicitTransport;
class CSimulation;

// The implicit step's systems (one per mobile component) and the reactions'
// rate each step carries in its right-hand side, learnt from the steps taken:
// a step that does not know it yet (the first) is taken more than once, each
// pass from the same start. Owned by the implicit form of the transport
// (transport/transport_schemes.cpp), or by a test.
class CImplicitSolver {
public:
    CImplicitSolver();
    ~CImplicitSolver();
    CImplicitSolver(const CImplicitSolver&) = delete;
    CImplicitSolver& operator=(const CImplicitSolver&) = delete;

    // Before the time loop, with the flow field computed (m_stateNew) and the
    // global step set: the matrix, its preconditioner and the work vectors of
    // every mobile component. maxIterations bounds each solve.
    void Prepare(CSimulation& s, int maxIterations = TRANSPORT_IMPLICIT_MAX_ITERATIONS);
    // Lets them go (a process that does not solve them).
    void Release();

    // One implicit transport step into m_transportDelta (the injection is
    // added after it, as after the explicit step); prepares the systems if
    // they are not. A solve that fails is a ComputeException naming the
    // component and the step's start time.
    void Step(CSimulation& s);

    // Whether the step, taken passes times so far, is to be taken again first.
    bool NeedsAnotherPass(int passes) const;
    // Keep and put back what a pass changes besides the new state: the change
    // over the previous step (the local integration's predictor) and the
    // nodes' step control.
    void SaveStepStart(const CSimulation& s);
    void RestoreStepStart(CSimulation& s);
    // After the reactions of a step: the rate they changed each mobile entry
    // at (the step's change less what the transport and injection applied)
    // becomes the next step's; true when it moved no entry by more than
    // TRANSPORT_IMPLICIT_RATE_TOLERANCE of its largest value over the step
    // (and when there are no systems).
    bool NoteReactionRate(const CSimulation& s);

    // The learnt rate and what the steps know of it, and each system's last
    // solution and its step's start (the next step's first guess), for a
    // checkpoint (nothing where there are no systems); TakeCarried puts them
    // back after Prepare, false when they do not fit the systems.
    std::vector<double> Carried() const;
    bool TakeCarried(const std::vector<double>& carried);

private:
    std::unique_ptr<CImplicitTransport> m_transport;
};

// That start of the nodes first..end-1, kept in arrays sized once (the
// whole grid for SaveStepStart; a rank of a run over several processes keeps
// its own nodes').
class CStepStart {
public:
    void Size(const CSimulation& s, int first, int end);
    void Save(const CSimulation& s);
    void Restore(CSimulation& s) const;

private:
    int m_first = 0;
    int m_end = 0;
    std::vector<double> m_change;
    std::vector<double> m_fraction;
    std::vector<int> m_hold;
};

// The step of an implicit run that gives none (a step of 0): the smaller of
// TRANSPORT_IMPLICIT_COURANT times the shortest time water takes through a
// cell's pore volume and the duration over TRANSPORT_IMPLICIT_MIN_STEPS.
// limiting: the node whose cell sets it (-1: the duration does).
double ImplicitStep(const CSimulation& s, double duration, int* limiting = nullptr);
// The same into m_globalStep (and reported to the run control).
void ComputeImplicitStep(CSimulation& s, double duration, int* limiting = nullptr);
