// When a run writes its records: at the start time, then after the first
// global step that reaches each output time. A step that passes several
// output times gives one record; the next output time is then an interval
// after the time reached. The time loop keeps this clock, and the result-file
// tools replay it to rebuild the record times of a run that did not finish.
#pragma once

class CRecordClock {
public:
    CRecordClock(double start, double interval) : m_next(start), m_interval(interval) {}

    // True while the time reached is before the next output time: step on.
    bool Pending(double current) const { return current < m_next; }

    // After a record at the time reached: the next output time. False when the
    // interval is too small to move it (records would follow without a step).
    bool Advance(double current) {
        const double previous = m_next;
        m_next += m_interval;
        if (m_next < current)
            m_next = current + m_interval;
        return m_next > previous;
    }

    double Next() const { return m_next; }

private:
    double m_next;
    double m_interval;
};
