#include "io/records.h"
#include "model/simulation.h"

void StartRun(CSimulation& s) {
    // s.m_endTime = 1.0; a comment writes nothing
    if (s.m_endTime == 0.0)
        s.m_recordCount = 0;
    s.m_clock.m_time += 1.0;
    ++s.m_clock.m_steps;
}
