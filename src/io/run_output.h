// What a run writes besides its own state: one implementation per output file
// (or pair of files). The run sequence opens each before the time loop and
// finishes it after; the time loop calls WriteRecord at every record time. A
// new table beside the records is its class and its registration in
// CRunTables (io/run_tables.h), which the run on one process and rank 0 of a
// run over several both take.
//
// Opening has two halves, so that a run that cannot open one of its files
// leaves every result of an earlier run as it was: OpenFiles opens without
// changing anything, and only once every output is open does Start empty
// the files and begin them.
#pragma once

#include "io/safe_file.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class CSimulation;

// Where an output stood at a checkpoint: the length of its file and the
// values its writer carries from record to record.
struct COutputMark {
    std::string m_file;
    uint64_t m_length = 0;
    std::vector<double> m_carried;
};

// The marks of a run's outputs, in the order the outputs were added; a run
// that goes on takes them back in the same order.
class COutputMarks {
public:
    void Add(COutputMark mark) { m_marks.push_back(std::move(mark)); }
    const std::vector<COutputMark>& All() const { return m_marks; }
    std::vector<COutputMark>& All() { return m_marks; }
    // The next mark, which must be the file's (InputException: the run that
    // goes on writes other files than the run that was checkpointed).
    const COutputMark& Take(const std::string& file);
    // Every mark was taken (InputException otherwise).
    void CheckAllTaken() const;

private:
    std::vector<COutputMark> m_marks;
    size_t m_next = 0;
};

class CRunOutput {
public:
    virtual ~CRunOutput() = default;
    // Opens the output's files without changing any that exists; a failure
    // leaves nothing of this output open.
    virtual void OpenFiles() = 0;
    // Empties the files opened and writes what comes before the first record.
    virtual void Start() = 0;
    // Instead of Start, when another output could not be opened: closes the
    // files unchanged and removes those that OpenFiles created.
    virtual void Discard() = 0;
    // Before the first record: OpenFiles, then Start.
    void Open() {
        OpenFiles();
        Start();
    }
    // The model's state (m_stateNew) at m_currentTime, as one record.
    virtual void WriteRecord(CSimulation& s) = 0;
    // After every global step, before a record that follows it.
    virtual void AfterStep(const CSimulation&) {}
    // After the last record of a run that did not fail.
    virtual void Finish(const CSimulation& s) = 0;

    // At a checkpoint, between records: where the output stands, everything
    // it wrote handed to the system first.
    virtual void Mark(COutputMarks& marks) = 0;
    // Instead of Start, for a run that goes on from a checkpoint: the files
    // cut back to the marks Mark made, the writer's values taken back.
    virtual void Resume(COutputMarks& marks, const CSimulation& s) = 0;
};

// An output that is one text table: its file opened, emptied and discarded
// as CRunOutput says; the table's own class writes its rows.
class CTableOutput : public CRunOutput {
public:
    explicit CTableOutput(std::string name) : m_file(std::move(name)) {}
    void OpenFiles() override { m_file.OpenFile(); }
    void Start() override { m_file.Start(); }
    void Discard() override { m_file.Discard(); }
    void Mark(COutputMarks& marks) override {
        marks.Add({m_file.Name(), m_file.Length(), Carried()});
    }
    void Resume(COutputMarks& marks, const CSimulation& s) override {
        const COutputMark& mark = marks.Take(m_file.Name());
        m_file.CutTo(mark.m_length);
        TakeCarried(mark.m_carried, s);
    }

protected:
    // What the table's writer carries from record to record, as numbers.
    virtual std::vector<double> Carried() const { return {}; }
    // Takes them back (InputException when they do not fit this run).
    virtual void TakeCarried(const std::vector<double>& carried, const CSimulation& s) = 0;

    CTextResultFile m_file;
};

// The outputs of a run as one: each call goes to every output in turn.
class CRunOutputList : public CRunOutput {
public:
    // Borrowed: the output lives as long as the list; not freed here.
    void Add(CRunOutput& output) { m_outputs.push_back(&output); }
    void OpenFiles() override {
        std::size_t opened = 0;
        try {
            for (; opened < m_outputs.size(); ++opened)
                m_outputs[opened]->OpenFiles();
        } catch (...) {
            while (opened > 0)
                m_outputs[--opened]->Discard();
            throw;
        }
    }
    void Start() override {
        for (CRunOutput* o : m_outputs)
            o->Start();
    }
    void Discard() override {
        for (CRunOutput* o : m_outputs)
            o->Discard();
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
    void Mark(COutputMarks& marks) override {
        for (CRunOutput* o : m_outputs)
            o->Mark(marks);
    }
    // Each output opened and resumed; every file is opened before any is cut.
    void Resume(COutputMarks& marks, const CSimulation& s) override {
        OpenFiles();
        for (CRunOutput* o : m_outputs)
            o->Resume(marks, s);
        marks.CheckAllTaken();
    }

private:
    std::vector<CRunOutput*> m_outputs;
};
