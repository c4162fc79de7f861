#include "model/simulation.h"

void NoteRecord(CSimulation& s) {
    s.m_recordCount += 1;
}
