// Injected water: the mass that the [[inject]] tables' water brings in at the
// nodes whose source is positive (model/extension.h keeps the tables and the
// injected nodes).
#pragma once

class CSimulation;

// Adds c_in x source x dt of every injected entry to the transport change of
// every injected node whose source at the start of the step is positive, in
// one pass over the injected nodes in ascending order: the last part of the
// transport step, the same for every number of threads.
void AddInjection(CSimulation& s);

// The source of a fixed-head node comes from the heads: once they are
// computed, every injected fixed-head node must have a positive one. An
// InputException names the first node that has not, its key and line and the
// source computed.
void CheckInjectedHeldNodes(const CSimulation& s);
