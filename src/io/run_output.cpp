#include "io/run_output.h"

#include "model/exceptions.h"

const COutputMark& COutputMarks::Take(const std::string& file) {
    if (m_next >= m_marks.size())
        throw InputException("the run writes " + file +
                             ", which the run of the checkpoint did not: it cannot go on from it");
    const COutputMark& mark = m_marks[m_next];
    if (mark.m_file != file)
        throw InputException("the run writes " + file + " where the run of the checkpoint wrote " +
                             mark.m_file + ": it cannot go on from it");
    ++m_next;
    return mark;
}

void COutputMarks::CheckAllTaken() const {
    if (m_next < m_marks.size())
        throw InputException("the run of the checkpoint wrote " + m_marks[m_next].m_file +
                             ", which this run does not: it cannot go on from it");
}
