#include "support/engine.h"
#include "model/index.h"

#include "io/output_files.h"
#include "sim/run.h"

#include "heads/flow_field.h"
#include "heads/heads.h"
#include "io/reader.h"
#include "rxn/rxn_set.h"
#include "sim/time_loop.h"
#include "transport/transport.h"
#include "transport/transport_schemes.h"

#include <cstdio>

namespace kova_test {

namespace {

std::string Real(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string Coords(const std::vector<double>& given, int count) {
    std::string out;
    for (int k = 0; k < count; ++k)
        out += Real(k < static_cast<int>(given.size()) ? given[ToSize(k)] : k) + " ";
    return out;
}

// The coefficient vector of a reaction that changes nothing.
std::string ZeroCoefficients(int nComp) {
    std::string zeros;
    for (int k = 0; k < nComp; ++k)
        zeros += "0 ";
    return zeros;
}

} // namespace

std::string CModelFields::Text() const {
    return header + "\n" + times + "\n" + rowCoords + "\n" + colCoords + "\n" + transport + "\n" +
           defaults + "\n" + overrides + "\n" + fixedHeads + "\n" + reactions + "\n" + defaultSet +
           "\n" + setOverrides + "\n" + sets + "\n";
}

std::string CTestModel::Text() const {
    std::string out = std::to_string(rows) + " " + std::to_string(cols) + " " +
                      std::to_string(nImmobile) + " " + std::to_string(nMobile) + " 0 1\n" +
                      Real(startTime) + " " + Real(endTime) + " " + Real(outputInterval) + " " +
                      Real(globalStep) + " " + Real(opzero) + "\n" + Coords(rowCoord, rows) + "\n" +
                      Coords(colCoord, cols) + "\n";
    for (int m = 0; m < nMobile; ++m) {
        const auto t =
            m < static_cast<int>(transport.size()) ? transport[ToSize(m)] : std::array<double, 3>{};
        out += Real(t[0]) + " " + Real(t[1]) + " " + Real(t[2]) + "\n";
    }
    std::vector<double> vector = defaults;
    if (vector.empty()) {
        vector.assign(ToSize(NComp()), 0.0);
        vector[SLOT_POROSITY] = 0.3;
        vector[SLOT_KROW] = vector[SLOT_KCOL] = conductivity;
    }
    for (double v : vector)
        out += Real(v) + " ";
    out += "\n" + std::to_string(overrides.size()) + "\n";
    for (const Override& o : overrides)
        out += std::to_string(o.i) + " " + std::to_string(o.j) + " " + std::to_string(o.k) + " " +
               Real(o.v) + "\n";
    out += std::to_string(fixedHeads.size()) + "\n";
    for (const auto& f : fixedHeads)
        out += std::to_string(f[0]) + " " + std::to_string(f[1]) + "\n";
    return out + "0 0\n0 0\n"; // default set 0, no set overrides, one empty set
}

CEngine::CEngine(const std::string& base) : control(base.c_str()), sim(&control) {
    control.SetMessageSink(&sink);
}

void CEngine::Read(const std::string& text) {
    Read(*ModelStream(text));
}

void CEngine::Read(std::istream& in) {
    ReadInput(sim, rx, in);
}

void CEngine::Heads() {
    InitHeads(sim);
}

void CEngine::Flow() {
    ComputeFlowField(sim);
}

// The form of the model's settings as they are now: a test may change them
// between steps.
void StepTransport(CSimulation& sim) {
    const CTransportChoice choice(sim);
    sim.Transport().Step(sim);
}

double StableStepOf(CSimulation& sim, double duration, int* limiting) {
    const CTransportChoice choice(sim);
    return sim.Transport().StableStep(sim, duration, limiting, 0, sim.m_nRows);
}

void CEngine::Transport() {
    StepTransport(sim);
}

void CEngine::StableStep(double duration) {
    const CTransportChoice choice(sim);
    ComputeStableStep(sim, duration);
}

void CEngine::Open(const std::string& base) {
    output = std::make_unique<COutputFiles>(base);
    output->Open();
}

void CEngine::Record() {
    output->WriteRecord(sim);
}

void CEngine::Close(const std::string&) {
    output->Finish(sim);
}

void CEngine::Loop() {
    TimeLoop(sim, rx, *output);
}

void CEngine::Abandon() {
    output.reset();
}

void CEngine::Finish(const std::string& base) {
    Open(base);
    Loop();
    Close(base);
}

std::string Outcome(const std::function<void()>& f) {
    try {
        f();
    } catch (const BadFileException& e) {
        return "bad file: " + e.Detail();
    } catch (const InputException& e) {
        return "input: " + e.Detail();
    } catch (const ComputeException& e) {
        return "compute: " + e.Detail();
    } catch (const TimeException& e) {
        return "time: " + e.Detail();
    } catch (const NotSupportedException& e) {
        return "not supported: " + e.Detail();
    } catch (const Exception& e) {
        return "general: " + e.Detail();
    }
    return "";
}

void CEngine::Run() {
    RunSimulation(sim, control);
}

std::string ReadOutcome(const std::string& text) {
    CEngine engine;
    return Outcome([&] { engine.Read(text); });
}

CInProcessRun RunInProcess(const std::string& base) {
    CEngine engine(base);
    engine.Run();
    CInProcessRun run;
    run.error = engine.control.GetError() ? engine.control.GetError() : "";
    run.status = engine.control.GetStatus().value_or("");
    run.texts = engine.sink.texts;
    run.details = engine.sink.details;
    return run;
}

CStandInRxn::CStandInRxn(int nComp, CSimulation* sim, Rate rate, Equi equi)
    : CRxn(*ModelStream(ZeroCoefficients(nComp)), nComp, sim), m_rate(std::move(rate)),
      m_equi(std::move(equi)) {}

double CStandInRxn::CompRate(const double* conc, const double* base, double* delta, double h) {
    if (!m_rate)
        return CRxn::CompRate(conc, base, delta, h);
    m_rate(conc, delta, h);
    return 0.0;
}

void CStandInRxn::CompEqui(double* conc) {
    if (!m_equi)
        return CRxn::CompEqui(conc);
    m_equi(conc);
}

void AddStandInRate(CEngine& e, CStandInRxn::Rate rate) {
    e.rx.m_rxns.push_back(std::make_unique<CStandInRxn>(e.sim.m_nComp, &e.sim, std::move(rate)));
    CRxnSet& set = *e.rx.m_sets[0];
    set.m_kinetic.push_back(e.rx.m_rxns.back().get());
    set.m_nKinetic = static_cast<int>(set.m_kinetic.size());
    set.MakeLedgerSlots();
}

} // namespace kova_test
