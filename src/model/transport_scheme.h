// The transport of the mobile entries over one global step, in the form the
// model chose: explicit with the default, symmetric or tvd scheme, or
// implicit. The form is chosen once from the model's settings
// (transport/transport_schemes.h makes it) and lent to the model for the run; the
// time loops, the model check and the warnings ask it instead of testing the
// settings.
#pragma once

#include <vector>

class CSimulation;

class CTransportScheme {
public:
    virtual ~CTransportScheme() = default;

    // Whether each step solves the implicit equations of the whole grid (on
    // the process that holds every node).
    virtual bool IsImplicit() const = 0;

    // The largest global step the explicit step is stable with over the rows
    // rowBegin..rowEnd-1 (rowEnd beyond the grid: its last row), at most
    // duration; *limiting is the node that gives it (-1: none does). An
    // implicit step is stable at any length: duration, no node.
    virtual double StableStep(const CSimulation& s, double duration, int* limiting, int rowBegin,
                              int rowEnd) const = 0;

    // Whether faces whose water flows towards the lower index deserve the
    // warning that the scheme treats them worse than the other direction.
    virtual bool WarnsOfReverseFlow(const CSimulation& s) const = 0;

    // Before the time loop, with the flow field and the global step set: the
    // work the form keeps between steps.
    virtual void Prepare(CSimulation& s) = 0;

    // One step of the whole grid into m_transportDelta, the injected water
    // included.
    virtual void Step(CSimulation& s) = 0;

    // The explicit step of the rows rowBegin..rowEnd-1 alone (a process's
    // slab), without the injected water; it reads HaloRows() rows beyond the
    // range on each side.
    virtual void StepRows(CSimulation& s, int rowBegin, int rowEnd) = 0;
    virtual int HaloRows() const = 0;

    // A step that must know what the reactions will do (the implicit one)
    // is first taken in trial passes that leave no trace, each from the same
    // start, until the reactions' rate settles. Whether the step, taken
    // passes times so far, is to be taken again first (an explicit form:
    // never); a trial pass starts and ends with StartTrial and EndTrial.
    virtual bool NeedsTrialPass(int passes) const = 0;
    virtual void StartTrial(CSimulation& s) = 0;
    virtual void EndTrial(CSimulation& s) = 0;
    // After the reactions of a pass or a step: learns their rate; true when
    // it has settled (an explicit form: always).
    virtual bool NoteReactionRate(const CSimulation& s) = 0;

    // What the form carries from step to step besides the model's state
    // (the implicit step's learnt reaction rate), as numbers for a
    // checkpoint; an explicit form carries nothing.
    virtual std::vector<double> Carried() const { return {}; }
    // Takes them back after Prepare; false when they do not fit this model.
    virtual bool TakeCarried(const std::vector<double>& carried) { return carried.empty(); }
};
