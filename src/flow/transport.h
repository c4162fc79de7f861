// The transport step of the mobile components over one global step and the
// stable global step of that explicit scheme (flow/transport.cpp and
// flow/stable_step.cpp say how each is computed).
#pragma once

class CSimulation;

// One transport step into m_transportDelta: the face loops with one thread,
// else the per-node gather; both give the same bits.
void TransportStep(CSimulation& s);
void TransportStepFaceLoops(CSimulation& s);
void TransportStepGather(CSimulation& s);

// The largest global step the transport step is stable with over a run of the
// given duration, into m_globalStep (and reported to the run control); a
// duration is the step when no node limits it.
void ComputeStableStep(CSimulation& s, double duration);

// The same step without setting it: the smallest candidate over the grid, at
// most duration; *limiting is the node that gives it (-1: none does).
double StableStep(const CSimulation& s, double duration, int* limiting);
