// Record times of a run that did not finish: its time file holds only the
// marker, so the times were never written and are worked out from the model.
#pragma once

#include "post/model_grid.h"

#include <vector>

struct CRecordTimes {
    std::vector<double> m_times;
    // true: the time loop's cadence was replayed with the model's global step,
    // giving the times the run wrote; false: the nominal times
    // start + r x output interval (the run computed its own step).
    bool m_replayed = false;
};

// The times of the first `count` records. With a positive global step the
// loop is replayed with the same additions it makes: a record follows the
// first step that reaches each output time, and an output time already passed
// moves to the time reached plus the interval.
CRecordTimes ReconstructRecordTimes(const CModelGrid& grid, int count);
