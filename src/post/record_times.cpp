#include "post/record_times.h"

#include "model/record_clock.h"

#include <cmath>

namespace {

// A replay longer than this many steps is not worth the wait; the nominal
// times are used instead.
constexpr long long REPLAY_MAX_STEPS = 50000000;

bool Replay(const CModelGrid& grid, int count, std::vector<double>& times) {
    const double step = grid.m_globalStep;
    if (!(step > 0.0) || !std::isfinite(step) || !(grid.m_outputInterval > 0.0))
        return false;
    long long steps = 0;
    double current = grid.m_startTime;
    CRecordClock records(grid.m_startTime, grid.m_outputInterval);
    for (int r = 0; r < count; ++r) {
        while (records.Pending(current)) {
            current += step;
            if (++steps > REPLAY_MAX_STEPS)
                return false;
        }
        times.push_back(current);
        records.Advance(current);
    }
    return true;
}

} // namespace

CRecordTimes ReconstructRecordTimes(const CModelGrid& grid, int count) {
    CRecordTimes result;
    if (count <= 0)
        return result;
    result.m_times.reserve(static_cast<size_t>(count));
    // A run that lands on its output times recorded them exactly.
    if (grid.m_ext.m_exactRecords) {
        const std::vector<double>& given = grid.m_ext.m_recordTimes;
        CRecordClock records =
            CRecordClock::Exact(grid.m_startTime, grid.m_outputInterval, grid.m_endTime,
                                given.empty() ? nullptr : &given, 0);
        for (int r = 0; r < count; ++r) {
            result.m_times.push_back(records.Next());
            records.Advance(records.Next());
        }
        result.m_replayed = true;
        return result;
    }
    result.m_replayed = Replay(grid, count, result.m_times);
    if (!result.m_replayed) {
        result.m_times.clear();
        for (int r = 0; r < count; ++r)
            result.m_times.push_back(grid.m_startTime + r * grid.m_outputInterval);
    }
    return result;
}
