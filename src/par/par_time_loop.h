// The time loop of a run over MPI: the one-process loop (sim/time_loop.h)
// with the grid split into slabs (par/slab.h). Per global step every rank
// computes the transport of its rows and the reactions of its nodes, and
// the halo (the state its rows' faces read beyond its own nodes) comes from
// the ranks that own it, in non-blocking messages that travel while the
// nodes away from the slab's edges react. The reduced-node count, the
// smallest local step and the first failure are reductions; the records,
// the budget and the wells are written as a one-process run writes them.
#pragma once

#include <cstdint>

class CParComm;
class CParOutput;
class CRunCheckpoint;
class CSimulation;
struct CReactions;

// What the halo exchange moves per global step, over all ranks.
struct CHaloTraffic {
    int64_t m_bytes = 0;
    int m_messages = 0;
};

// stateFromRoot: the ranks other than 0 hold only the nodes they read
// (CSimulation::m_holdOnRead); rank 0 computes the flow field and the
// global step and sends each its part.
// checkpoint: rank 0's (borrowed; null elsewhere, and with the distributed
// heads, which keep none); continues: the run goes on from it (every rank).
void ParTimeLoop(CSimulation& s, CReactions& rx, CParOutput& output, const CParComm& comm,
                 CHaloTraffic& traffic, bool stateFromRoot, CRunCheckpoint* checkpoint,
                 bool continues);
