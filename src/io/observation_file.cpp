#include "io/observation_file.h"

#include "model/exceptions.h"
#include "model/extension.h"
#include "model/number_text.h"
#include "model/simulation.h"

#include <cstdio>
#include <vector>

std::string ObservationFileName(const std::string& base) {
    return base + ".obs.csv";
}

void CObservationFile::WriteHeader(const CSimulation& s) {
    std::FILE* out = m_file.Stream();
    std::fputs("time", out);
    for (const CObservationWell& well : s.m_ext.m_observe)
        for (int k : well.m_entries)
            std::fprintf(out, ",%s:%s", well.m_name.c_str(),
                         EntryName(s.m_ext, s.m_nComp, s.m_nMobile, k).c_str());
    std::fputc('\n', out);
}

namespace {

// value with all its digits, after a comma when comma (printf takes many
// times as long: a row is written after every global step).
void PutExact(std::FILE* out, double value, bool comma) {
    char text[NUMBER_EXACT_CHARS + 1];
    char* first = text;
    if (comma)
        *first++ = ',';
    std::fwrite(text, 1, static_cast<size_t>(ExactChars(first, value) - text), out);
}

} // namespace

// Printed straight into the stream's buffer: nothing is allocated per step.
void CObservationFile::WriteRow(const CSimulation& s) {
    std::FILE* out = m_file.Stream();
    PutExact(out, s.m_clock.m_currentTime, false);
    const double* state = s.m_stateNew.get();
    for (const CObservationWell& well : s.m_ext.m_observe) {
        const double* node = state + (well.m_row * s.m_nCols + well.m_col) * s.m_nComp;
        for (int k : well.m_entries)
            PutExact(out, node[k], true);
    }
    std::fputc('\n', out);
}

void CObservationFile::WriteRecord(CSimulation& s) {
    if (!m_started) {
        WriteHeader(s);
        WriteRow(s);
        m_started = true;
    }
    m_file.Flush();
}

void CObservationFile::AfterStep(const CSimulation& s) {
    WriteRow(s);
}

void CObservationFile::Finish(const CSimulation&) {
    m_file.Close();
}

void CObservationFile::TakeCarried(const std::vector<double>& carried, const CSimulation& s) {
    if (carried.size() != 1 || !(carried[0] == 0.0 || carried[0] == 1.0))
        throw InputException("the checkpoint's " + m_file.Name() +
                             " does not say whether its header is written");
    m_started = carried[0] == 1.0;
    if (m_started != (s.m_clock.m_recordCount > 0))
        throw InputException("the checkpoint's " + m_file.Name() +
                             " does not agree with its records on whether it has begun");
}
