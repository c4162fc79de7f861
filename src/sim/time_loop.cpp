// The time loop: global steps of transport followed by every node's reactions,
// output records at the start and after each output interval, progress
// reports, and an early end on cancel; and the stable global step used when
// the input asks for one.
#include "run/run_control.h"
#include "sim/exceptions.h"
#include "sim/first_failure.h"
#include "sim/limits.h"
#include "sim/rxn_set.h"
#include "sim/simulation.h"
#include "sim/thread_team.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <string>

namespace {

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// m_state becomes the state at the start of the step and m_stateNew the change
// over the previous step, the predictor of the local integration. In the first
// step m_state still holds what the initial heads left in m_work.
void StartGlobalStep(CSimulation& s) {
    double* state = s.m_state;
    double* stateNew = s.m_stateNew.get();
    double* delta = s.m_transportDelta;
    if (s.m_nThreads == 1) {
        for (int t = 0; t < s.m_nValues; ++t)
            delta[t] = state[t];
        for (int t = 0; t < s.m_nValues; ++t)
            state[t] = stateNew[t];
        for (int t = 0; t < s.m_nValues; ++t)
            stateNew[t] = state[t] - delta[t];
        return;
    }
    // Every value on its own, in one pass. The old state need not go into
    // m_transportDelta: the transport step overwrites all of it.
    s.Team().ForBlocks(s.m_nValues, [&](int begin, int end) {
        for (int t = begin; t < end; ++t) {
            const double old = state[t];
            state[t] = stateNew[t];
            stateNew[t] = state[t] - old;
        }
    });
}

void IntegrateNode(CSimulation& s, int n, CRxnWork& work) {
    const size_t offset = static_cast<size_t>(n) * s.m_nComp;
    work.m_node = n;
    s.m_rxnSets[s.m_nodeRxnSet[n]]->Integrate(s.m_state + offset, s.m_stateNew.get() + offset,
                                              s.m_transportDelta + offset, s.m_globalStep,
                                              &s.m_localFraction[n], &s.m_localHold[n], work);
}

// Every node on its own: the nodes share nothing but read-only data, so the
// threads give the serial loop's bits. A failure ends the step as in the
// serial loop: the one of the lowest node is thrown.
void IntegrateNodes(CSimulation& s) {
    if (s.m_nThreads == 1) {
        CRxnWork& work = s.m_rxnWork[0];
        for (int n = 0; n < s.m_nNodes; ++n) {
            s.m_currentNode = n;
            IntegrateNode(s, n, work);
        }
        return;
    }
    CFirstFailure failure;
    s.Team().ForChunks(s.m_nNodes, RXN_NODE_CHUNK, [&](int n, int thread) {
        if (failure.Skips(n))
            return;
        try {
            IntegrateNode(s, n, s.m_rxnWork[thread]);
        } catch (...) {
            failure.Record(n, std::current_exception());
        }
    });
    failure.Rethrow();
}

// One work per thread and the threads themselves, made here once for the
// whole loop.
void PrepareWork(CSimulation& s) {
    if (s.m_nThreads < 1)
        s.m_nThreads = 1;
    if (s.m_nThreads > THREADS_MAX)
        s.m_nThreads = THREADS_MAX;
    if (s.m_nThreads > 1)
        s.Team();
    if (s.m_nThreads > 1 && s.m_nMobile > 0)
        s.m_transportScratch.assign(static_cast<size_t>(s.m_nCols + 2) * s.m_nMobile * s.m_nThreads,
                                    0.0);
    s.m_rxnWork.clear();
    s.m_rxnWork.resize(static_cast<size_t>(s.m_nThreads));
    for (CRxnWork& work : s.m_rxnWork)
        work.Allocate(s.m_nComp);
}

// One global step of transport and reactions. A step too small to move the
// clock would repeat for ever.
void GlobalStep(CSimulation& s) {
    const double next = s.m_currentTime + s.m_globalStep;
    if (!(next > s.m_currentTime))
        throw ComputeException("the global step " + Number(s.m_globalStep) +
                               " no longer advances the clock at time " + Number(s.m_currentTime));
    // Times beyond the largest double cannot be recorded.
    if (!std::isfinite(next))
        throw ComputeException("the model time overflows: time " + Number(s.m_currentTime) +
                               " plus the global step " + Number(s.m_globalStep));
    CStopwatch watch;
    StartGlobalStep(s);
    s.TransportStep();
    s.m_times.m_transport += watch.Lap();
    IntegrateNodes(s);
    s.m_times.m_reactions += watch.Lap();
    s.m_times.m_globalSteps += 1;
    s.m_rxnBaseTime += s.m_globalStep;
    s.m_currentTime += s.m_globalStep;
    s.m_runControl->SetCurrentTime(s.m_currentTime);
}

// Reports the nodes integrated with a reduced local step and the smallest
// local step.
void ReportProgress(CSimulation& s) {
    double smallest = 1.0;
    int reduced = 0;
    const double* fractions = s.m_localFraction.get();
    if (s.m_nThreads == 1) {
        for (int n = 0; n < s.m_nNodes; ++n) {
            const double fraction = fractions[n];
            if (fraction < 1.0)
                reduced += 1;
            if (fraction < smallest)
                smallest = fraction;
        }
    } else {
        // A count and a minimum, one block per thread: the same in any order.
        struct CPart {
            int reduced = 0;
            double smallest = 1.0;
        };
        CPart parts[THREADS_MAX];
        CThreadTeam& team = s.Team();
        team.ForRanges(s.m_nNodes, team.BlockSize(s.m_nNodes), [&](int begin, int end, int thread) {
            CPart& part = parts[thread];
            for (int n = begin; n < end; ++n) {
                const double fraction = fractions[n];
                if (fraction < 1.0)
                    part.reduced += 1;
                if (fraction < part.smallest)
                    part.smallest = fraction;
            }
        });
        for (int thread = 0; thread < team.Size(); ++thread) {
            reduced += parts[thread].reduced;
            if (parts[thread].smallest < smallest)
                smallest = parts[thread].smallest;
        }
    }
    s.m_runControl->SetProgress(s.m_currentTime, smallest * s.m_globalStep, reduced);
}

void RunTimeLoop(CSimulation& s) {
    CRunControl* control = s.m_runControl;
    control->SetStatus("Simulating ...");
    // The reaction clock runs one input step behind the step being integrated.
    s.m_rxnBaseTime = s.m_startTime - s.m_globalStep;
    s.m_currentTime = s.m_startTime;
    double nextOutput = s.m_startTime;

    CStopwatch watch;
    s.ComputeFlowField();
    s.m_times.m_flowField += watch.Lap();
    if (!(s.m_globalStep > 0.0))
        s.ComputeStableStep(s.m_endTime - s.m_startTime);
    PrepareWork(s);

    for (;;) {
        // Step until the next output time is reached; a cancel still gets a
        // record at the time reached.
        while (s.m_currentTime < nextOutput) {
            if (!control->CheckContinue())
                break;
            GlobalStep(s);
        }
        ReportProgress(s);
        control->SetStatus("Writing Output");
        watch.Lap();
        s.WriteOutput();
        s.m_times.m_output += watch.Lap();
        control->SetStatus("Simulating ...");

        // A step that passed several output times gives one record; the next
        // output time is then an interval after the time reached.
        const double previousOutput = nextOutput;
        nextOutput += s.m_outputInterval;
        if (nextOutput < s.m_currentTime)
            nextOutput = s.m_currentTime + s.m_outputInterval;
        if (!(s.m_currentTime < s.m_endTime && control->CheckContinue()))
            return;
        // An interval too small to move the output time would write records
        // for ever without a step.
        if (!(nextOutput > previousOutput))
            throw ComputeException("the output interval " + Number(s.m_outputInterval) +
                                   " no longer advances the output time at time " +
                                   Number(s.m_currentTime));
    }
}

} // namespace

void CSimulation::TimeLoop() {
    try {
        RunTimeLoop(*this);
    } catch (...) {
        // The records written so far reach the disk; the time file keeps the
        // marker that tells front ends the run did not finish.
        if (m_outFile) {
            std::fclose(m_outFile);
            m_outFile = nullptr;
        }
        throw;
    }
}

void CSimulation::ComputeStableStep(double duration) {
    if (m_nRows < 1) {
        m_globalStep = duration;
        m_runControl->SetGlobalStep(duration);
        return;
    }
    double step = duration;
    int limiting = -1; // the node whose candidate is the step
    for (int i = 0; i < m_nRows; ++i) {
        for (int j = 0; j < m_nCols; ++j) {
            const int n = i * m_nCols + j;
            const double x = m_rowWidth[i];
            const double y = m_colWidth[j];
            const double* node = m_stateNew.get() + static_cast<size_t>(n) * m_nComp;
            const double vr = node[SLOT_FLUXROW] / node[SLOT_POROSITY];
            const double vc = node[SLOT_FLUXCOL] / node[SLOT_POROSITY];
            const double v = vr * vr / (x * x) + vc * vc / (y * y);
            if (!(v > 0.0))
                continue; // no flow: the node sets no limit
            const double root = std::sqrt(v);
            for (int k = 0; k < m_nMobile; ++k) {
                const double* coef =
                    m_dispCoef.get() + 3 * (static_cast<size_t>(n) * m_nMobile + k);
                const double d = coef[0] / (x * x) + coef[1] / (y * y) + coef[2] / (x * y);
                double candidate;
                if (d == 0.0)
                    candidate = 1.0 / root;
                else if (root / d <= STABLE_STEP_SWITCH)
                    candidate = (std::sqrt(v + STABLE_STEP_ROOT_COEF_SQUARED * (d * d)) -
                                 STABLE_STEP_ROOT_COEF * d) /
                                v;
                else
                    candidate = 1.0 / root - 2.0 * d / v;
                if (candidate < step) {
                    step = candidate;
                    limiting = n;
                }
            }
        }
    }
    // A step of 0 or below would never move the clock over the run.
    if (duration > 0.0 && !(step > 0.0)) {
        std::string where = limiting >= 0 ? " at node (" + std::to_string(limiting / m_nCols) +
                                                ", " + std::to_string(limiting % m_nCols) + ")"
                                          : "";
        throw ComputeException("stable global step " + Number(step) + " is not positive" + where);
    }
    m_globalStep = step;
    m_runControl->SetGlobalStep(step);
}
