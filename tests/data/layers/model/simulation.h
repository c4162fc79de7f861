// A model whose record count, and one field of its clock, two floors write:
// the check of the floors must name both, and not the clock's other field.
#pragma once

struct CClock {
    double m_time = 0.0;
    int m_steps = 0;
};

class CSimulation {
public:
    int m_recordCount = 0;
    double m_endTime = 0.0;
    CClock m_clock;
};
