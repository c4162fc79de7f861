// Checkpoints of a run (BASE.kvr) and a run that goes on from one.
//
// A checkpoint is taken just before a record is written, once the record's
// state is checked. It holds the state reached and the state at the start
// of the last step (the two make the local integration's predictor), each
// node's local step and hold, the clocks (the global step, the time
// reached, the reactions' clock, the record clock, the records written and
// their times), the mass budget's interval in progress (its sums exact),
// what the transport's form carries from step to step, and where each
// output file stood with what its writer carries.
//
// A run that goes on reads the model and solves its heads as any run does,
// prepares its loop the same way (the flow field, the step, the threads'
// work and the budget's layout come from the model as they did the first
// time), then takes all of the above back, cuts each output file back to
// the checkpoint and enters the loop where the stopped run was: at the
// record it was about to write, or, after a cancel, stepping on to the
// next output time. Its files are the bytes of a run never stopped.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class CCheckpointIn;
class CRunOutput;
class CSimulation;

// Whether a record gets a checkpoint: the model's [output] checkpoint asks
// for one at this record, or it is a cancel's or the last (unless "none").
bool CheckpointDue(const CSimulation& s, bool cancel, bool last);

class CRunCheckpoint {
public:
    explicit CRunCheckpoint(std::string base);
    ~CRunCheckpoint();
    CRunCheckpoint(const CRunCheckpoint&) = delete;
    CRunCheckpoint& operator=(const CRunCheckpoint&) = delete;

    // For a run that goes on, before the model is read: BASE.kvr opened and
    // refused (InputException, saying why) when it is damaged, of another
    // format or program version, or when the model file or the extension
    // file has changed since it was written. False when there is no
    // checkpoint (a run killed before its first record): the run starts,
    // and says so through s's messages.
    bool OpenToContinue(const CSimulation& s);
    bool Continues() const { return m_in != nullptr; }

    // With the time loop prepared: the run's state, clocks, budget and what
    // the transport carries taken back from the checkpoint, and the outputs
    // opened and cut back to it (instead of started). A checkpoint of
    // another grid or budget is refused. Before the loop's first step.
    void Restore(CSimulation& s, CRunOutput& output);

    // Before a record whose state is checked: BASE.kvr written when the
    // model's [output] checkpoint asks for one at this record. A record at a
    // cancel and the last record always get one (unless it says "none"). A
    // checkpoint that cannot be written is a warning (the first time).
    void BeforeRecord(CSimulation& s, CRunOutput& output, bool cancel, bool last);

    // A run from the start, its outputs started: the checkpoint of an
    // earlier run is removed, since the files it describes are gone.
    void Forget() const;

private:
    void Write(CSimulation& s, CRunOutput& output);

    std::string m_base;
    std::unique_ptr<CCheckpointIn> m_in; // the checkpoint a run goes on from; owned
    bool m_haveDigests = false;          // the model files' digests are known
    bool m_warned = false;               // a checkpoint could not be written
    uint64_t m_modelDigest = 0;
    bool m_hasExtension = false;
    uint64_t m_extensionDigest = 0;
};
