// The heads line of --timings: the solve used and, for the AMG solve, its
// iterations, where it stopped against its target and the sweeps after it.
#include "model/phase_times.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string HeadsLine(const CPhaseTimes& times) {
    const std::string all = FormatPhaseTimes(times);
    const size_t start = all.find("  heads ");
    return start == std::string::npos ? "" : all.substr(start, all.find('\n', start) - start);
}

TEST(PhaseTimes, TheHeadsLineNamesTheSolveAndWhereTheAmgSolveStopped) {
    const struct {
        EHeadSolve solve;
        int iterations;
        double residual;
        int sweeps;
        const char* line;
    } rows[] = {
        {EHeadSolve::BAND, 0, 0.0, 2, "  heads           1.500000 s (band solve)"},
        {EHeadSolve::SPARSE, 0, 0.0, 2, "  heads           1.500000 s (sparse solve)"},
        {EHeadSolve::AMG, 13, 2.5e-14, 2,
         "  heads           1.500000 s (amg solve, not bit for bit: 13 iterations to a relative "
         "residual of 2.5e-14, then 2 sweeps)"},
        {EHeadSolve::AMG, 200, 4e-12, 37,
         "  heads           1.500000 s (amg solve, not bit for bit: 200 iterations to a relative "
         "residual of 4e-12, above its target, then 37 sweeps)"},
        {EHeadSolve::DISTRIBUTED, 0, 0.0, 2,
         "  heads           1.500000 s (distributed solve, not bit for bit)"},
    };
    for (const auto& row : rows) {
        CPhaseTimes times;
        times.m_heads = 1.5;
        times.m_headSolve = row.solve;
        times.m_headIterations = row.iterations;
        times.m_headResidual = row.residual;
        times.m_headSweeps = row.sweeps;
        EXPECT_EQ(HeadsLine(times), row.line);
    }
}

} // namespace
