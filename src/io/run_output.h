// What a run writes besides its own state: one implementation per output file
// (or pair of files). The run sequence opens each before the time loop and
// finishes it after; the time loop calls WriteRecord at every record time. A
// new output file is one class here and one call in the time loop.
#pragma once

class CSimulation;

class CRunOutput {
public:
    virtual ~CRunOutput() = default;
    // Before the first record; a failure leaves nothing of this output open.
    virtual void Open() = 0;
    // The model's state (m_stateNew) at m_currentTime, as one record.
    virtual void WriteRecord(CSimulation& s) = 0;
    // After the last record of a run that did not fail.
    virtual void Finish(const CSimulation& s) = 0;
};
