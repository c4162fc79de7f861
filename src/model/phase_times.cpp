#include "model/phase_times.h"

#include "model/limits.h"

#include <cstdio>

namespace {

// The AMG solve names its iterations and where it stopped, and whether that
// was its target: the sweeps after it show whether the heads were settled.
std::string AmgNote(const CPhaseTimes& times) {
    char note[200];
    const bool reached = times.m_headResidual <= HEAD_AMG_RESIDUAL;
    std::snprintf(note, sizeof note,
                  " (amg solve, not bit for bit: %d iterations to a relative residual of %.2g%s, "
                  "then %d sweeps)",
                  times.m_headIterations, times.m_headResidual, reached ? "" : ", above its target",
                  times.m_headSweeps);
    return note;
}

std::string HeadSolveName(const CPhaseTimes& times) {
    switch (times.m_headSolve) {
    case EHeadSolve::BAND:
        return " (band solve)";
    case EHeadSolve::SPARSE:
        return " (sparse solve)";
    case EHeadSolve::AMG:
        return AmgNote(times);
    case EHeadSolve::DISTRIBUTED:
        return " (distributed solve, not bit for bit)";
    case EHeadSolve::NONE:
        break;
    }
    return "";
}

void AppendLine(std::string& out, const char* phase, double seconds, const std::string& note = "") {
    char line[64];
    std::snprintf(line, sizeof line, "  %-11s %12.6f s", phase, seconds);
    out += line;
    out += note;
    out += '\n';
}

void AppendImplicit(std::string& out, const CImplicitTimes& t) {
    char line[320];
    std::snprintf(line, sizeof line,
                  "  implicit transport: %lld passes (%lld trial), %lld solves, %lld iterations"
                  " (%.1f a solve), %lld solves skipped\n",
                  t.m_passes, t.m_trialPasses, t.m_solves, t.m_iterations,
                  t.m_solves > 0
                      ? static_cast<double>(t.m_iterations) / static_cast<double>(t.m_solves)
                      : 0.0,
                  t.m_skipped);
    out += line;
    std::snprintf(line, sizeof line,
                  "    (assembly %.6fs in %lld, preconditioner %.6fs in %lld, right-hand sides "
                  "%.6fs, iterations %.6fs, changes %.6fs, copies %.6fs)\n",
                  t.m_assembly, t.m_assemblies, t.m_setup, t.m_setups, t.m_rhs, t.m_solve,
                  t.m_change, t.m_copies);
    out += line;
}

} // namespace

std::string FormatPhaseTimes(const CPhaseTimes& times) {
    char heading[160];
    std::snprintf(
        heading, sizeof heading, "kova-compute timings: %d thread%s, %d nodes, %lld global steps\n",
        times.m_nThreads, times.m_nThreads == 1 ? "" : "s", times.m_nNodes, times.m_globalSteps);
    std::string out = heading;
    if (times.m_threadsOffered > times.m_nThreads) {
        char note[160];
        std::snprintf(note, sizeof note,
                      "  (%d of %d threads: %d nodes give each further thread too few; "
                      "--threads %d forces them)\n",
                      times.m_nThreads, times.m_threadsOffered, times.m_nNodes,
                      times.m_threadsOffered);
        out += note;
    }
    AppendLine(out, "read", times.m_read);
    AppendLine(out, "heads", times.m_heads, HeadSolveName(times));
    AppendLine(out, "flow field", times.m_flowField);
    AppendLine(out, "transport", times.m_transport);
    AppendLine(out, "reactions", times.m_reactions);
    AppendLine(out, "output", times.m_output);
    AppendLine(out, "total", times.m_total);
    if (times.m_implicit.m_passes > 0)
        AppendImplicit(out, times.m_implicit);
    return out;
}
