// Warnings about a model that reads but will not do what its author may
// expect: said before a run's first step and by --check alike.
#pragma once

#include <string>
#include <vector>

class CSimulation;
struct CReactions;

// An end time before the start time: the run writes one record and ends.
std::string EndBeforeStartWarning(const CSimulation& s);
// A reaction that changes a node's water source or conductivity: the heads
// and the flow field are computed once, at the start, and do not follow it.
// Names the first such reaction and the first of the nodes held that use it.
std::string SteadyFlowWarning(const CSimulation& s, const CReactions& rx);
// A fixed-head node whose k_row is 0 while its k_col lets water reach it: the
// head sweeps leave such a node alone, so its source keeps the model file's
// value instead of the exchange its held head makes. Counts the nodes held
// and names the first.
std::string HeldSourceWarning(const CSimulation& s);
// Every warning above that applies, in that order.
std::vector<std::string> ModelWarnings(const CSimulation& s, const CReactions& rx);
// Writes them to the run control's message sink (if it has one).
void WarnOfModel(const CSimulation& s, const CReactions& rx);
