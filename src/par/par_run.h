// The run sequence (sim/run.h) over MPI: every rank reads the model; rank 0
// solves the heads (or the ranks solve them together), then the time loop
// runs in slabs (par/par_time_loop.h). Rank 0
// runs the front end (display, keys, signals, messages, exit code); the
// other ranks run the same sequence silently.
#pragma once

class CRunControl;

// What kova-compute-mpi adds to kova-compute's options.
struct CParSettings {
    // --heads distributed: the heads solved over the ranks (par/par_heads.h),
    // within 1e-10 relative of the default heads, not bit for bit.
    bool m_distributedHeads = false;
};

// Entry of a rank's worker: as SimulationThread (sim/run.h), over
// MPI_COMM_WORLD. On rank 0 a thread of the front end, elsewhere the main
// thread.
void ParSimulationThread(CRunControl* runControl, const CParSettings& settings);
