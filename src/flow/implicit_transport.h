// The implicit transport step ([transport] time = "implicit"): backward Euler
// over each global step, one sparse linear system per mobile component
// (flow/implicit_transport.cpp says what is in the matrix and what is
// deferred to the right-hand side).
#pragma once

#include "model/limits.h"

class CSimulation;

// Whether the model takes its transport implicitly.
bool IsImplicit(const CSimulation& s);

// Before the time loop, with the flow field computed (m_stateNew) and the
// global step set: the matrix, its preconditioner and the work vectors of
// every mobile component. maxIterations bounds each solve.
void PrepareImplicitTransport(CSimulation& s,
                              int maxIterations = TRANSPORT_IMPLICIT_MAX_ITERATIONS);

// One implicit transport step into m_transportDelta (the injection is added
// after it, as after the explicit step). A solve that fails is a
// ComputeException naming the component and the step's start time.
void TransportStepImplicit(CSimulation& s);

// The step of an implicit run that gives none (a step of 0): the smaller of
// TRANSPORT_IMPLICIT_COURANT times the shortest time water takes through a
// cell's pore volume and the duration over TRANSPORT_IMPLICIT_MIN_STEPS.
double ImplicitStep(const CSimulation& s, double duration);
// The same into m_globalStep (and reported to the run control).
void ComputeImplicitStep(CSimulation& s, double duration);
