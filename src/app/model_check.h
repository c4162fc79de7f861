// kova-compute --check BASE: reads BASE.kvi exactly as a run reads it, runs
// nothing, and prints a labelled summary of the model: grid, counts, times,
// initial state, transport parameters, fixed-head nodes, every reaction with
// its named fields and every reaction set with the nodes that use it.
#pragma once

#include <string>

class CSimulation;
struct CReactions;

// Reads and checks the model; prints the summary on stdout and returns
// EXIT_RUN_OK, or reports the failure as a run does (the failure report and
// its detail line, then the error text, on stderr) and returns
// EXIT_RUN_FAILED.
int RunModelCheck(const std::string& base);

// Throws InputException when a reaction set that some node uses lists a
// reaction where it cannot serve (a kinetic type among the equilibrium
// reactions or the other way round): a run would stop at that set's first
// node.
void CheckRxnListings(const CSimulation& sim, const CReactions& rx);

// The summary of a model that has been read; base names it.
std::string ModelSummary(const CSimulation& sim, const CReactions& rx, const std::string& base);
