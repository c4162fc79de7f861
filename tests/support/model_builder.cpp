#include "support/model_builder.h"

#include "io/reader.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "rxn/rxn.h"
#include "rxn/rxn_set.h"
#include "support/test_support.h"

#include <cstdio>

namespace kova_test {

namespace {

std::string Real(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

void AppendCoords(std::string& out, const std::vector<double>& given, int count) {
    for (int k = 0; k < count; ++k)
        out += Real(k < static_cast<int>(given.size()) ? given[k] : k) + " ";
    out += "\n";
}

} // namespace

std::string CTestModel::Text() const {
    std::string out;
    out += std::to_string(rows) + " " + std::to_string(cols) + " " + std::to_string(nImmobile) +
           " " + std::to_string(nMobile) + " 0 1\n";
    out += Real(startTime) + " " + Real(endTime) + " " + Real(outputInterval) + " " +
           Real(globalStep) + " " + Real(opzero) + "\n";
    AppendCoords(out, rowCoord, rows);
    AppendCoords(out, colCoord, cols);
    for (int m = 0; m < nMobile; ++m) {
        const std::array<double, 3> t =
            m < static_cast<int>(transport.size()) ? transport[m] : std::array<double, 3>{};
        out += Real(t[0]) + " " + Real(t[1]) + " " + Real(t[2]) + "\n";
    }
    std::vector<double> vector = defaults;
    if (vector.empty()) {
        vector.assign(NComp(), 0.0);
        vector[2] = 0.3;
        vector[3] = conductivity;
        vector[4] = conductivity;
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
    out += "0 0\n0 0\n"; // default set 0, no set overrides, one empty set
    return out;
}

void LoadModelText(CSimulation& sim, const std::string& text) {
    ReadInput(sim, *ModelStream(text));
}

void LoadModel(CSimulation& sim, const CTestModel& model) {
    LoadModelText(sim, model.Text());
}

std::string ZeroCoefficients(int nComp) {
    std::string text;
    for (int k = 0; k < nComp; ++k)
        text += "0 ";
    return text;
}

void AddKineticToFirstSet(CSimulation& sim, std::unique_ptr<CRxn> rxn) {
    sim.m_rxns.push_back(std::move(rxn));
    CRxnSet& set = *sim.m_rxnSets[0];
    set.m_kinetic.push_back(sim.m_rxns.back().get());
    set.m_nKinetic = static_cast<int>(set.m_kinetic.size());
}

} // namespace kova_test
