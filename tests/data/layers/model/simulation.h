// A model whose record count two floors write: the check of the floors must
// name it.
#pragma once

class CSimulation {
public:
    int m_recordCount = 0;
    double m_endTime = 0.0;
};
