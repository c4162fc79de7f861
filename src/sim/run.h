// The worker: one simulation from reading the model to closing its output.
#pragma once

#include <functional>

class CRunControl;
class CSimulation;

// Caption of the worker's failure reports.
constexpr const char* RUN_ERROR_CAPTION = "KOVA Compute Error";

// Entry of the worker thread: runs the model named by the run control's file
// name, then marks the worker finished.
void SimulationThread(CRunControl* runControl);

// Runs the stages and reports a failure by its class: a message through the run
// control's message sink (caption RUN_ERROR_CAPTION, the class's text, the
// detail) and the class's error text stored with SetError. Nothing escapes.
void RunReportingFailures(CRunControl* runControl, const std::function<void()>& stages);

// The run sequence of one model, named by the run control's file name: load,
// heads, output files and time loop, each after asking CheckContinue; then
// "Done." and the storage freed. Failures are reported by class as above.
// The model reports its progress to runControl (its m_progress).
void RunSimulation(CSimulation& s, CRunControl& runControl);

// The threads a run takes of the offered ones when --threads did not say:
// no more than give each THREADS_MIN_NODES_EACH nodes, and at least one.
int DefaultThreads(int offered, int nodes);
