// The time loop: the flux field and (when the model asks for it) the stable
// global step once, then global steps of transport followed by every node's
// reactions, a record at the start and after each output interval (the
// record clock of model/record_clock.h), progress reports, and an early end
// on cancel, which still gets a record at the time reached. One loop serves
// a run on one process and a run over several (par/): what differs is a
// CLoopDomain.
#pragma once

#include "model/simulation.h"

class CRunCheckpoint;
class CRunOutput;
class CRunProgress;
struct CReactions;

// The nodes of a range integrated with a reduced local step, and the
// smallest local fraction among them (1 when none is reduced).
struct CLocalSteps {
    int m_reduced = 0;
    double m_smallest = 1.0;
};

// What a run on one process and a run over several do differently in the
// time loop: which nodes this process integrates and records, how its
// transport is taken, how the values other processes read travel, what is
// combined over the processes and where the records go. The order of the
// loop (steps, trial passes, records, checks, clocks) is TimeLoop's alone.
class CLoopDomain {
public:
    virtual ~CLoopDomain() = default;

    // Before the first step, with the transport's form chosen: the model's
    // warnings, the flow field and the global step, the work of the threads
    // and the budget's terms.
    virtual void Prepare(CSimulation& s, CReactions& rx) = 0;
    // The nodes whose reactions this process integrates and whose values it
    // checks and records; valid after Prepare.
    virtual CNodeRange OwnNodes() const = 0;
    // The nodes whose values this process's transport reads (its own and
    // the halo); valid after Prepare.
    virtual CNodeRange ReadNodes() const = 0;

    // The same answer on every process.
    virtual bool Continue(CRunProgress* control) const = 0;
    virtual double LargestOf(double mine) const = 0;
    virtual CLocalSteps Combined(const CLocalSteps& mine) const = 0;
    // The first process's answer, on every process.
    virtual bool Agreed(bool answer) const = 0;

    // The trial passes of a step that must know the reactions' rate first
    // (CTransportScheme::NeedsTrialPass): whether the step, taken passes
    // times so far, is to be taken again; each pass starts and ends with
    // StartTrial and EndTrial.
    virtual bool NeedsTrialPass(const CSimulation& s, int passes) const = 0;
    virtual void StartTrial(CSimulation& s) = 0;
    virtual void EndTrial(CSimulation& s) = 0;

    // The transport change of this process's nodes over the global step,
    // into m_transportDelta.
    virtual void Transport(CSimulation& s) = 0;
    // The reactions of this process's nodes (into the budget when account),
    // with the values other processes read sent to them; a failure on any
    // process is thrown on every one.
    virtual void React(CSimulation& s, CReactions& rx, bool account) = 0;
    // After the reactions of a pass or a step: the transport learns their
    // rate; true when it has settled (on the process that decides).
    virtual bool NoteReactionRate(CSimulation& s) = 0;
    // After each global step (the wells' rows).
    virtual void AfterStep(CSimulation& s) = 0;

    // A record: its state checked (CheckRecordState), then the budget's
    // interval closed and the record and the tables written.
    virtual void CheckRecord(const CSimulation& s, double bound) = 0;
    virtual void WriteRecord(CSimulation& s) = 0;

    // A run that goes on from a checkpoint, after Prepare: the state, the
    // clocks (m_nextRecord among them) and the outputs taken back, true; a
    // run from the start: false.
    virtual bool Resume(CSimulation& s) = 0;
    // Between CheckRecord and WriteRecord: the checkpoint, where the run
    // keeps them; cancel: the record of a cancel; last: the run's last.
    virtual void Checkpoint(CSimulation& s, bool cancel, bool last) = 0;
};

// The one time loop.
void TimeLoop(CSimulation& s, CReactions& rx, CLoopDomain& domain);
// On one process: every node, its records into output, its checkpoints
// (when given; borrowed, not freed) into BASE.kvr. A checkpoint that
// continues a run gives the run its state and opens the outputs; otherwise
// they must be open.
void TimeLoop(CSimulation& s, CReactions& rx, CRunOutput& output,
              CRunCheckpoint* checkpoint = nullptr);

// The parts of the loop, over a range of values or nodes where a range is
// given: the one-process domain runs them over the whole grid, a run over
// several processes (par/) over each process's nodes.

// The flow field, the global step (computed, or the model's checked against
// the stable one), the work of the threads and the mass budget's terms:
// PrepareFlowAndStep, then PrepareStepWork.
void PrepareTimeLoop(CSimulation& s, CReactions& rx);
// The flow field and the global step, over the whole grid.
void PrepareFlowAndStep(CSimulation& s);
// The work of the threads and the mass budget's terms (the cell volumes of
// the nodes held).
void PrepareStepWork(CSimulation& s, CReactions& rx);
// Warns when the step the run computed, which node limiting sets (-1: no
// node), takes more than STEP_COUNT_WARN global steps over the run: a node of
// tiny porosity can make a run that never ends in practice.
void WarnOfManySteps(const CSimulation& s, int limiting);
// Warns when the model's global step is above stable, the stable step that
// node limiting gives.
void WarnAboveStableStep(const CSimulation& s, double stable, int limiting);
// Throws when the next global step would not move the clock, or overflow it.
void CheckStepAdvances(const CSimulation& s);
// m_state becomes the state at the start of the step and m_stateNew the
// change over the previous step (the integration's predictor), for the
// values first..end-1.
void StartGlobalStep(CSimulation& s, int first, int end);
// The reactions of the nodes begin..end-1 (one chunk of RXN_NODE_CHUNK nodes
// at most, starting at a multiple of it) on one thread, each followed by its
// budget changes; a chunk's sums go to the budget as a whole, so the budget
// is the same whichever thread (or process) took which chunk. A failure
// names its node and is thrown. A chunk not accounted (a trial pass of the
// implicit step) adds nothing to the budget.
void IntegrateChunk(CSimulation& s, CReactions& rx, int begin, int end, int thread,
                    bool account = true);
// A record must hold numbers a reader can use: a value among first..end-1
// of m_stateNew that is not finite ends the run before it is written, naming
// the first such value.
void CheckStateIsFinite(const CSimulation& s, int first, int end);
// The largest magnitude a mobile value of a record may reach: STATE_RANGE_FACTOR
// times the largest magnitude (at least 1) of the nodes firstNode..endNode-1's
// initial values past the hydraulic slots and of the injected concentrations.
// Called before the loop; a run over processes takes the largest over them.
double StateRangeBound(const CSimulation& s, int firstNode, int endNode);
// A transport that has grown without bound: a mobile value among
// first..end-1 of m_stateNew beyond bound ends the run before the record is
// written, naming the value, its node and entry, and the global and stable
// steps.
void CheckStateInRange(const CSimulation& s, int first, int end, double bound);
// The state of a record of the nodes own checked: CheckStateIsFinite, then
// CheckStateInRange.
void CheckRecordState(const CSimulation& s, CNodeRange own, double bound);
CLocalSteps CountLocalSteps(CSimulation& s, int first, int end);
