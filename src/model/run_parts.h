// Two parts of the model that are plain values: the settings a run reads
// (from the model file, its options and the tests' limits) and the clock the
// time loop keeps.
#pragma once

#include "model/limits.h"

#include <cstdint>
#include <utility>
#include <vector>

// What the model file and the run's options set, read before the heads.
struct CModelSettings {
    double m_startTime = 0.0;
    double m_endTime = 0.0;
    double m_outputInterval = 0.0;
    double m_opzero = 0.0; // a value below it counts as zero in the reactions
    bool m_writeBudget = true;
    int64_t m_headBandMaxBytes = HEAD_BAND_MAX_BYTES; // larger band matrices go sparse
    // Bytes the model's arrays may take; 0: the memory available on this
    // machine when AllocateArrays runs. Tests and the fuzzer set a small budget.
    uint64_t m_memoryLimit = 0;
    // A run that goes on to a later end time (--until) ends at m_until
    // instead of the model file's end time.
    bool m_untilGiven = false;
    double m_until = 0.0;
};

// Where the run is: the global step (the model file's, or the one the run
// computes before the first step), the time reached, the reactions' clock
// (one input step behind the step being integrated) and the records
// written with their times.
struct CRunClock {
    double m_globalStep = 0.0;
    double m_currentTime = 0.0;
    double m_rxnBaseTime = 0.0;
    std::vector<double> m_outputTimes; // time of every record written; grows as needed
    int m_recordCount = 0;
    // The next output time of the record clock (model/record_clock.h), as
    // the time loop last set it: a checkpoint keeps it.
    double m_nextRecord = 0.0;

    // The global step shortened to end on target, an exact output time;
    // returns the step it was, which RestoreStep puts back after the step.
    double ShortenTo(double target) {
        const double ordinary = m_globalStep;
        m_globalStep = target - m_currentTime;
        return ordinary;
    }
    void RestoreStep(double ordinary) { m_globalStep = ordinary; }

    // A run that goes on from a checkpoint: the clock it kept, whole. Its
    // record times go into the list reserved for the run, so that the loop
    // goes on adding to it without allocating.
    void TakeBack(CRunClock&& kept) {
        std::vector<double> times = std::move(m_outputTimes);
        times.assign(kept.m_outputTimes.begin(), kept.m_outputTimes.end());
        *this = std::move(kept);
        m_outputTimes = std::move(times);
    }
};
