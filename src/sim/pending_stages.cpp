// Stages of the run that are not built yet: a run stops after reading.
#include "sim/exceptions.h"
#include "sim/simulation.h"

void CSimulation::InitHeads() {
    throw NotSupportedException("initial heads not built yet");
}
void CSimulation::OpenOutput(const char*) {}
void CSimulation::TimeLoop() {}
void CSimulation::CloseOutput(const char*) {}
