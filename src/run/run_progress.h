// What a run's computation tells and asks of whoever runs it: whether to go
// on (after a pause, or not at all after a cancel), what it is doing and how
// far it has come, and where its warnings go. The model, the numerics and the
// files call only this; the run control (run/run_control.h) implements it for
// the front ends, whose display state and settings stay out of their reach.
#pragma once

#include <string>

class CMessageSink;

class CRunProgress {
public:
    // Blocks while paused, then returns 1 to go on or 0 after a cancel.
    virtual int CheckContinue() = 0;
    virtual void SetStatus(const char* text) = 0; // null clears the status

    virtual void SetStartTime(double value) = 0;
    virtual void SetEndTime(double value) = 0;
    virtual void SetCurrentTime(double value) = 0;
    virtual void SetGlobalStep(double value) = 0;
    virtual void SetProgress(double currentTime, double minLocalStep, int reducedNodes) = 0;
    // The smallest local step becomes min(its value, value); concurrent
    // reports are never lost.
    virtual void LowerMinLocalStep(double value) = 0;

    // The mass budget's summary of a finished run, for the front end.
    virtual void SetBudgetSummary(const std::string& text) = 0;

    // Where warnings and failure reports go (null: nowhere). Borrowed.
    virtual CMessageSink* GetMessageSink() const = 0;
    // A diagnostic line for standard output (without its newline).
    virtual void WriteDiagnostic(const char* line) = 0;

protected:
    ~CRunProgress() = default; // not deleted through this interface
};
