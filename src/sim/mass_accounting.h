// The mass budget's bookkeeping in the time loop (the terms are described in
// model/mass_budget.h): the terms made once, the changes of every node added
// after its integration, and an interval closed at every record.
#pragma once

class CSimulation;
struct CRxnWork;

// Makes s.m_budget (when s.m_writeBudget), its terms and the ledgers of the
// reaction works, and the water balance of the steady flow field. After the
// flow field and the works are made.
void PrepareBudget(CSimulation& s);

// Adds node n's changes of the global step just integrated (its transport,
// sinks, reactions and porosity change) to the chunk sums of thread.
void AddNodeChanges(CSimulation& s, int n, const CRxnWork& work, int thread);
// Adds the chunk sums of thread to its interval sums, exactly, and clears them.
void EndNodeChunk(CSimulation& s, int thread);

// At every record: the first sets the storage at the start; each later one
// closes the interval since the previous record (storage at its end, the
// sums of the changes, the discrepancy) for the budget file to write.
void RecordBudget(CSimulation& s);
