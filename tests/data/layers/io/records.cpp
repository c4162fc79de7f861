#include "model/simulation.h"

void NoteRecord(CSimulation& s) {
    s.m_recordCount += 1;
    s.m_clock.m_time = 0.0;
}
