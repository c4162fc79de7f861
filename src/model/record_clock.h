// When a run writes its records: at the start time, then after the first
// global step that reaches each output time. A step that passes several
// output times gives one record; the next output time is then an interval
// after the time reached. The time loop keeps this clock, and the result-file
// tools replay it to rebuild the record times of a run that did not finish.
//
// A run asked for exact record times ([output] exact or times in the
// extension file) lands on them instead: the output times are the start,
// then start + k x interval below the end time (or the times given), then
// the end time, and the last global step before each is shortened to end
// on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CRecordClock {
public:
    CRecordClock(double start, double interval) : m_next(start), m_interval(interval) {}

    // Exact record times, from output time k on (k = 0: the start): times
    // null, every interval; else the times given (ascending, after the
    // start; borrowed, they outlive the clock).
    static CRecordClock Exact(double start, double interval, double end,
                              const std::vector<double>* times, int64_t k) {
        CRecordClock clock(start, interval);
        clock.m_exact = true;
        clock.m_start = start;
        clock.m_end = end;
        clock.m_times = times;
        clock.m_k = k;
        clock.m_next = clock.Target(k);
        return clock;
    }

    // True while the time reached is before the next output time: step on.
    bool Pending(double current) const { return current < m_next; }

    // Whether the steps land on the output times.
    bool Lands() const { return m_exact; }

    // After a record at the time reached: the next output time. False when the
    // interval is too small to move it (records would follow without a step).
    bool Advance(double current) {
        const double previous = m_next;
        if (m_exact) {
            m_k += 1;
            m_next = Target(m_k);
            return m_next > previous;
        }
        m_next += m_interval;
        if (m_next < current)
            m_next = current + m_interval;
        return m_next > previous;
    }

    double Next() const { return m_next; }

private:
    // Output time k of an exact clock: never past the end time.
    double Target(int64_t k) const {
        double t = m_end;
        if (k == 0)
            t = m_start;
        else if (m_times)
            t = static_cast<size_t>(k - 1) < m_times->size()
                    ? (*m_times)[static_cast<size_t>(k - 1)]
                    : m_end;
        else
            t = m_start + static_cast<double>(k) * m_interval;
        return t < m_end ? t : m_end;
    }

    double m_next;
    double m_interval;
    bool m_exact = false;
    double m_start = 0.0;
    double m_end = 0.0;
    const std::vector<double>* m_times = nullptr; // borrowed; null: every interval
    int64_t m_k = 0;                              // the output time m_next is
};
