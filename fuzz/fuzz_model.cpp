#include "fuzz_model.h"

#include "heads/flow_field.h"
#include "heads/heads.h"
#include "io/output_files.h"
#include "io/reader.h"
#include "model/exceptions.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "run/message_sink.h"
#include "run/run_control.h"
#include "rxn/reactions.h"
#include "rxn/rxn_set.h"
#include "sim/time_loop.h"
#include "transport/implicit_transport.h"
#include "transport/transport.h"
#include "transport/transport_schemes.h"

#include <cmath>
#include <exception>
#include <sstream>

namespace kova_fuzz {

namespace {

// Swallows the worker's reports: the outcome is taken from the exception.
class CQuietSink : public CMessageSink {
public:
    void ShowMessage(const char*, const char*, const char*) override {}
    void WriteDiagnostic(const char*) override {}
};

// The global step the time loop will use: the input's, or the stable step it
// computes from the flow field when the input gives none. The model is left as
// it was but for the flow field, which the time loop computes the same again.
double EffectiveGlobalStep(CSimulation& sim) {
    if (sim.m_clock.m_globalStep > 0.0)
        return sim.m_clock.m_globalStep;
    const double input = sim.m_clock.m_globalStep;
    ComputeFlowField(sim);
    const CTransportChoice choice(sim);
    const double duration = sim.m_settings.m_endTime - sim.m_settings.m_startTime;
    int limiting = -1;
    if (sim.Transport().IsImplicit())
        ComputeImplicitStep(sim, duration, &limiting);
    else
        ComputeStableStep(sim, duration);
    const double step = sim.m_clock.m_globalStep;
    sim.m_clock.m_globalStep = input;
    return step;
}

void ShortenRun(CSimulation& sim, CReactions& rx, const CFuzzLimits& limits) {
    const double step = EffectiveGlobalStep(sim);
    if (!(step > 0.0) || !std::isfinite(step))
        return; // no step is taken, or one step covers everything
    // The loop steps until the next output time even past the end time, so
    // the interval is capped as well as the duration.
    const double span = limits.maxGlobalSteps * step;
    if (sim.m_settings.m_endTime - sim.m_settings.m_startTime > span)
        sim.m_settings.m_endTime = sim.m_settings.m_startTime + span;
    if (sim.m_settings.m_outputInterval > span)
        sim.m_settings.m_outputInterval = span;
    const double opzero = step * limits.minOpzeroPerStep;
    if (!(sim.m_settings.m_opzero >= opzero)) {
        sim.m_settings.m_opzero = opzero;
        for (auto& set : rx.m_sets)
            set->m_opzero = opzero;
    }
}

} // namespace

const char* OutcomeName(EOutcome outcome) {
    switch (outcome) {
    case EOutcome::FINISHED:
        return "finished";
    case EOutcome::INPUT_ERROR:
        return "Input Error";
    case EOutcome::COMPUTE_ERROR:
        return "Computational Error";
    case EOutcome::NOT_SUPPORTED:
        return "Not Supported";
    case EOutcome::TIME_ESCAPED:
        return "TimeException escaped";
    case EOutcome::GENERAL:
        return "general Exception";
    case EOutcome::FOREIGN:
        return "foreign std::exception";
    }
    return "?";
}

bool IsCleanOutcome(EOutcome outcome) {
    return outcome == EOutcome::FINISHED || outcome == EOutcome::INPUT_ERROR ||
           outcome == EOutcome::COMPUTE_ERROR || outcome == EOutcome::NOT_SUPPORTED;
}

CFuzzResult RunModelText(const std::string& text, const std::string& outputBase,
                         const CFuzzLimits& limits) {
    CRunControl control(outputBase.c_str());
    CQuietSink sink;
    control.SetMessageSink(&sink);
    CFuzzResult result;
    {
        CSimulation sim(&control);
        CReactions rx;
        sim.m_settings.m_memoryLimit = limits.memoryBytes;
        try {
            std::istringstream in(text);
            ReadInput(sim, rx, in);
            result.read = true;
            InitHeads(sim);
            ShortenRun(sim, rx, limits);
            COutputFiles output(outputBase);
            output.Open();
            TimeLoop(sim, rx, output);
            output.Finish(sim);
        } catch (const TimeException& e) {
            result.outcome = EOutcome::TIME_ESCAPED;
            result.detail = e.Detail();
        } catch (const NotSupportedException& e) {
            result.outcome = EOutcome::NOT_SUPPORTED;
            result.detail = e.Detail();
        } catch (const InputException& e) {
            result.outcome = EOutcome::INPUT_ERROR;
            result.detail = e.Detail();
        } catch (const ComputeException& e) {
            result.outcome = EOutcome::COMPUTE_ERROR;
            result.detail = e.Detail();
        } catch (const Exception& e) {
            result.outcome = EOutcome::GENERAL;
            result.detail = e.Detail();
        } catch (const std::exception& e) {
            result.outcome = EOutcome::FOREIGN;
            result.detail = e.what();
        }
        result.records = sim.m_clock.m_recordCount;
        sim.FreeArrays();
    }
    return result;
}

} // namespace kova_fuzz
