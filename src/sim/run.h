// The worker: one simulation from reading the model to closing its output.
#pragma once

class CRunControl;

// Caption of the worker's failure reports.
constexpr const char* RUN_ERROR_CAPTION = "KOVA Compute Error";

// Entry of the worker thread: runs the model named by the run control's file
// name, then marks the worker finished.
void SimulationThread(CRunControl* runControl);
