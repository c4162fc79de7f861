// Wall times of the phases of one run, collected by the model as it runs and
// reported by `kova-compute --timings`. Reading the clock changes no result.
#pragma once

#include <chrono>
#include <string>

// How the direct solve of the initial heads was done. DISTRIBUTED: the
// conjugate gradients over several processes (kova-compute-mpi --heads
// distributed), whose heads agree with the others to a tolerance only.
// AMG: conjugate gradients with BoomerAMG on one process (heads/amg_solve.h),
// within about 1e-11 of the factorization, not bit for bit.
enum class EHeadSolve { NONE, BAND, SPARSE, AMG, DISTRIBUTED };

// Where the implicit transport's time goes (--timings prints it for an
// implicit run): making the matrices, setting up their preconditioners, the
// deferred terms and right-hand sides, the iterations, the changes from the
// solutions' fluxes, and the copies of the step's start for trial passes.
struct CImplicitTimes {
    double m_assembly = 0.0;
    double m_setup = 0.0;
    double m_rhs = 0.0;
    double m_solve = 0.0;
    double m_change = 0.0;
    double m_copies = 0.0;
    long long m_assemblies = 0;
    long long m_setups = 0;
    long long m_solves = 0;     // one per component and pass
    long long m_iterations = 0; // over every solve
    long long m_passes = 0;     // transport passes, trial passes included
    long long m_trialPasses = 0;
    long long m_skipped = 0; // solves a trial pass did not need: the rate had not changed
};

struct CPhaseTimes {
    double m_read = 0.0;      // reading the model file
    double m_heads = 0.0;     // initial heads: direct solve and sweeps
    double m_flowField = 0.0; // fluxes and dispersion coefficients
    double m_transport = 0.0; // step-start copies and transport steps
    double m_reactions = 0.0; // local integration of every node
    double m_output = 0.0;    // records and closing the files
    double m_total = 0.0;     // the whole run
    CImplicitTimes m_implicit;
    EHeadSolve m_headSolve = EHeadSolve::NONE;
    // The AMG solve's iterations and the relative residual it stopped at, and
    // the sweeps after any direct solve.
    int m_headIterations = 0;
    double m_headResidual = 0.0;
    int m_headSweeps = 0;
    long long m_globalSteps = 0;
    int m_nNodes = 0;
    int m_nThreads = 1;
    int m_threadsOffered =
        1; // what the run could have taken; more than m_nThreads when the grid was too small
};

// The report: a heading, then one line per phase in seconds.
std::string FormatPhaseTimes(const CPhaseTimes& times);

// Seconds since construction or the last Lap; Lap restarts the count.
class CStopwatch {
public:
    CStopwatch() : m_start(Clock::now()) {}
    double Lap() {
        const Clock::time_point now = Clock::now();
        const double seconds = std::chrono::duration<double>(now - m_start).count();
        m_start = now;
        return seconds;
    }
    double Elapsed() const { return std::chrono::duration<double>(Clock::now() - m_start).count(); }

private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point m_start;
};
