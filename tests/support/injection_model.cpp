#include "support/injection_model.h"

namespace kova_test {

namespace {

constexpr double WELL_SOURCE = 0.02;
constexpr double WELL_POROSITY = 0.2;
constexpr double FIELD_SOURCE = 0.01;

std::vector<double> Spaced(int count) {
    std::vector<double> coords;
    for (int k = 0; k < count; ++k)
        coords.push_back(2.0 * k);
    return coords;
}

} // namespace

CTestModel InjectionModel() {
    CTestModel m = CTestModel().Grid(20, 30, Spaced(20), Spaced(30));
    m.nImmobile = 1;
    m.Mobile(1, 0.1, 1e-3).Mobile(0.5, 0.05, 0);
    m.endTime = 20.0;
    m.outputInterval = 5.0;
    m.globalStep = 0.05; // far below the stable step: 100 steps an interval
    m.defaults = {0, 0, INJECTION_POROSITY, 1, 1, 0, 0, 1.0, 0.5, 0.0};
    for (int i = 0; i < 20; ++i)
        m.Set(i, 0, SLOT_HEAD, 10.0).Fixed(i, 0).Fixed(i, 29);
    m.Set(10, 10, SLOT_SOURCE, WELL_SOURCE).Set(10, 10, SLOT_POROSITY, WELL_POROSITY);
    for (int i = 4; i <= 6; ++i)
        for (int j = 15; j <= 17; ++j)
            m.Set(i, j, SLOT_SOURCE, FIELD_SOURCE);
    return m.Set(15, 20, SLOT_SOURCE, -0.01);
}

std::string InjectionExtension(bool inject, const std::string& scheme) {
    std::string text = "[aquifer]\nthickness = 2\n[entries]\nimmobile = [\"X\"]\n"
                       "mobile = [\"A\", \"B\"]\n";
    if (!scheme.empty())
        text += "[transport]\nscheme = \"" + scheme + "\"\n";
    if (!inject)
        return text;
    return text + "[[inject]]\nname = \"boundary\"\nrectangle = [0, 0, 19, 0]\n"
                  "concentration = { B = 3 }\n"
                  "[[inject]]\nname = \"well\"\nnodes = [[10, 10]]\nconcentration = { A = 5 }\n"
                  "[[inject]]\nname = \"field\"\nrectangle = [4, 15, 6, 17]\n"
                  "concentration = { A = 1, B = 2 }\n";
}

double InjectedRateGiven(char entry) {
    const double well = WELL_SOURCE * WELL_POROSITY * INJECTION_VOLUME;
    const double field = 9 * FIELD_SOURCE * INJECTION_POROSITY * INJECTION_VOLUME;
    return entry == 'A' ? 5.0 * well + 1.0 * field : 2.0 * field;
}

} // namespace kova_test
