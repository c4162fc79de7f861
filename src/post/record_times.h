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
// time loop's record clock (model/record_clock.h) is replayed with the same
// additions the loop makes.
CRecordTimes ReconstructRecordTimes(const CModelGrid& grid, int count);
