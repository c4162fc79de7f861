// The worker: one simulation from reading the model to closing its output.
#pragma once

#include <functional>
#include <memory>
#include <string>

class CModelLock;
class CRunControl;
class CSimulation;
struct CReactions;

// Caption of the worker's failure reports.
constexpr const char* RUN_ERROR_CAPTION = "KOVA Compute Error";

// Entry of the worker thread: runs the model named by the run control's file
// name, then marks the worker finished.
void SimulationThread(CRunControl* runControl);

// Runs the stages and reports a failure by its class: a message through the run
// control's message sink (caption RUN_ERROR_CAPTION, the class's text, the
// detail) and the class's error text stored with SetError. Nothing escapes.
void RunReportingFailures(CRunControl* runControl, const std::function<void()>& stages);

// What a run over several processes (par/) does differently in the run
// sequence: whose answer a check for a cancel is, how a stage agrees on a
// failure, which process locks the base, how the heads are solved and which
// files the time loop writes into.
class CRunStages {
public:
    virtual ~CRunStages() = default;

    // Whether the front end may abandon the run (end it at once on a second
    // interrupt) until the output files are opened.
    virtual bool Abandonable() const = 0;
    // The same answer on every process.
    virtual bool Continue(CRunControl& control) const = 0;
    // Runs stage; a failure on any process is thrown on every one.
    virtual void Agreed(const std::function<void()>& stage) const = 0;
    // The process that locks the base.
    virtual bool Leads() const = 0;
    // With the base locked, before the model is read: a run that goes on
    // (--continue) opens its checkpoint and has it checked.
    virtual void OpenCheckpoint(CSimulation& s, const std::string& base, bool continuing) = 0;
    // After the model is read: the threads the run takes.
    virtual void ChooseThreads(CSimulation& s, CRunControl& control) const = 0;
    virtual void SolveHeads(CSimulation& s) = 0;
    // The output files opened, the time loop, the files finished.
    virtual void RunWithFiles(CSimulation& s, CReactions& rx, const std::string& base) = 0;
};

// The run sequence of one model, named by the run control's file name: load,
// heads, output files and time loop, each after asking Continue; then
// "Done." and the storage freed. Failures are reported by class as above.
// The model reports its progress to runControl (its m_progress).
void RunSequence(CSimulation& s, CRunControl& runControl, CRunStages& stages);
// On one process.
void RunSimulation(CSimulation& s, CRunControl& runControl);

// The threads a run takes of the offered ones when --threads did not say:
// no more than give each THREADS_MIN_NODES_EACH nodes, and at least one.
int DefaultThreads(int offered, int nodes);
