// Runs the bytes of a model file through the run sequence in-process, as the
// fuzzer and the regression tests do: read, heads, output files, time loop.
//
// A model that reads is cut down before it runs, so that one input stays
// fast whatever it asks for: its arrays get a small memory budget, the run at
// most a few global steps and output intervals, and opzero a floor relative to
// the global step (which bounds the local steps of a node in one global step).
// The cuts change what is computed, not the code an input reaches, except the
// engine's own bounds on run length and local steps, which tests cover.
#pragma once

#include <cstdint>
#include <string>

namespace kova_fuzz {

// How one input ended. The first five are what a model file may cause; the
// rest are faults of the engine.
enum class EOutcome {
    FINISHED,      // ran to the end and closed its files
    INPUT_ERROR,   // InputException (BadFileException included)
    COMPUTE_ERROR, // ComputeException
    NOT_SUPPORTED, // NotSupportedException: a reaction listed in the wrong list
    TIME_ESCAPED,  // TimeException reached the run sequence
    GENERAL,       // a plain Exception: an internal guard fired
    FOREIGN,       // a std::exception that is not one of the run's classes
};

const char* OutcomeName(EOutcome outcome);

// True for the outcomes a model file may legitimately cause.
bool IsCleanOutcome(EOutcome outcome);

struct CFuzzLimits {
    uint64_t memoryBytes = 256 * 1024;   // the arrays' budget (CSimulation::m_memoryLimit)
    int maxGlobalSteps = 8;              // the end time is pulled in to about this many steps
    double minOpzeroPerStep = 1.0 / 256; // opzero is raised to at least this x the global step
};

struct CFuzzResult {
    EOutcome outcome = EOutcome::FINISHED;
    std::string detail; // the failure's detail, empty when finished
    bool read = false;  // the whole model was read
    int records = 0;    // output records written
};

// Runs text as a model file; the output files are BASE.kvo and BASE.kvt for
// outputBase (symbolic links to /dev/null keep the fuzzer off the disk).
CFuzzResult RunModelText(const std::string& text, const std::string& outputBase,
                         const CFuzzLimits& limits = CFuzzLimits());

} // namespace kova_fuzz
