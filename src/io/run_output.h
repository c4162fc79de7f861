// What a run writes besides its own state: one implementation per output file
// (or pair of files). The run sequence opens each before the time loop and
// finishes it after; the time loop calls WriteRecord at every record time. A
// new output file is one class here and one call in the time loop.
#pragma once

#include <vector>

class CSimulation;

class CRunOutput {
public:
    virtual ~CRunOutput() = default;
    // Before the first record; a failure leaves nothing of this output open.
    virtual void Open() = 0;
    // The model's state (m_stateNew) at m_currentTime, as one record.
    virtual void WriteRecord(CSimulation& s) = 0;
    // After every global step, before a record that follows it.
    virtual void AfterStep(const CSimulation&) {}
    // After the last record of a run that did not fail.
    virtual void Finish(const CSimulation& s) = 0;
};

// The outputs of a run as one: each call goes to every output in turn.
class CRunOutputList : public CRunOutput {
public:
    // Borrowed: the output lives as long as the list; not freed here.
    void Add(CRunOutput& output) { m_outputs.push_back(&output); }
    void Open() override {
        for (CRunOutput* o : m_outputs)
            o->Open();
    }
    void WriteRecord(CSimulation& s) override {
        for (CRunOutput* o : m_outputs)
            o->WriteRecord(s);
    }
    void AfterStep(const CSimulation& s) override {
        for (CRunOutput* o : m_outputs)
            o->AfterStep(s);
    }
    void Finish(const CSimulation& s) override {
        for (CRunOutput* o : m_outputs)
            o->Finish(s);
    }

private:
    std::vector<CRunOutput*> m_outputs;
};
