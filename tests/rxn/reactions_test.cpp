// The sixteen reaction types, one table row per case: what a record reads as
// (or why it is refused), the amount a kinetic law adds over a step against
// an independent integral, and the state an equilibrium leaves.
#include "io/rxn_factory.h"
#include "model/index.h"
#include "model/simulation.h"
#include "run/run_control.h"
#include "rxn/equi.h"
#include "rxn/mixed_ordered.h"
#include "rxn/ordered.h"
#include "rxn/rxn_description.h"
#include "support/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

using namespace kova_test;

namespace {

std::unique_ptr<CRxn> Make(int code, const std::string& record, int nComp,
                           CSimulation* sim = nullptr) {
    auto in = ModelStream(record);
    std::unique_ptr<CRxn> rxn = CreateRxn(code, *in, nComp, sim);
    if (!rxn)
        throw Exception("no reaction of type " + std::to_string(code));
    return rxn;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// "kind: name=value;..." in record order; an entry of -1 as its "none" text.
std::string Render(const CRxnDescription& d) {
    std::string text = std::string(RxnKindText(d.Kind())) + ": ";
    for (const CRxnField& f : d.Fields()) {
        std::string values;
        for (int v : f.m_ints)
            values += (values.empty() ? "" : ",") +
                      (f.m_type == ERxnField::Entry && v == -1 ? f.m_none : std::to_string(v));
        for (double v : f.m_reals)
            values += (values.empty() ? "" : ",") + Number(v);
        text += f.m_name + "=" + values + ";";
    }
    return text;
}

// Three entries a node. A record that reads shows its fields; one that does
// not, its failure. The stream test comes first except where a row says.
TEST(Reactions, RecordsReadTheirFieldsInOrderOrNameTheirFault) {
    const struct {
        int code;
        const char* record;
        const char* expected;
        // clang-format off
    } rows[] = {
        {0, "-1 -1 1  -1 -1 1  10 ", "equilibrium: coefficients=-1,-1,1;exponents=-1,-1,1;Keq=10;"},
        {0, "-1 1 0  -1 1 0  0 ", "input: Equilibrium Equaitons must have a positive Keq"},
        // A Keq that does not read is 0: the Keq test comes before the stream's.
        {0, "-1 1 0  -1 1 0", "input: Equilibrium Equaitons must have a positive Keq"},
        {0, "-1 1 0  -1 1 0  2", "bad file: Bad File"}, // the end of the file right after it
        {1, "0 0.5 0  2 1.5 ", "equilibrium: weights=0,0.5,0;target=2;b=1.5;"},
        {1, "1 1 1  3 0 ", "input: target index 3 outside 0..2"},
        {1, "1 1 1  -1 0 ", "input: target index -1 outside 0..2"},
        {2, "-1 0 0  1 0 0.25 ", "kinetic: coefficients=-1,0,0;order=1;entry=0;k=0.25;"},
        {2, "1 0 -1  6 1 1 ", "kinetic: coefficients=1,0,-1;order=6;entry=1;k=1;"},
        {2, "1 0 -1  7 1 1 ", "input: Ordered Reaction can not support order of 7"},
        {2, "1 0 -1  -1 1 1 ", "input: Ordered Reaction can not support order of -1"},
        {2, "1 0 -1  9", "input: Ordered Reaction can not support order of 9"}, // order first
        {2, "1 0 -1  2 1", "bad file: Bad File"},
        {2, "1 0 -1  2 3 1 ", "input: species index 3 outside 0..2"},
        {2, "1 0 -1  1 -1 1 ", "input: species index -1 outside 0..2"},
        {3, "-1 0 0  0.5 2 0 1 ", "kinetic: coefficients=-1,0,0;k=0.5;order=2;entries=0,1;"},
        {3, "1 0 0  0.5 0 ", "kinetic: coefficients=1,0,0;k=0.5;order=0;entries=;"},
        {3, "1 0 -1  1 6 0 1 2 0 1 2 ",
         "kinetic: coefficients=1,0,-1;k=1;order=6;entries=0,1,2,0,1,2;"},
        {3, "1 0 -1  1 7 0 1 2 0 1 2 0 ",
         "input: Mixed Ordered Reaction can not support order of 7"},
        {3, "1 0 -1  1 -1 ", "input: Mixed Ordered Reaction can not support order of -1"},
        {3, "1 0 -1  1 2 0 5 ", "input: factor index 5 outside 0..2"},
        {3, "1 0 -1  1 3 0 1",
         "bad file: Bad File: missing factor index of a mixed ordered reaction"},
        {4, "-1 0 0  2 0.5 -1 0 ",
         "kinetic: coefficients=-1,0,0;k=2;K=0.5;biomass=none;substrate=0;"},
        {4, "0 -1 1  1.5 2.5 -1", "bad file: Bad File"},
        {4, "0 -1 1  1.5 2.5 -1 -1 ", "input: substrate index -1 outside 0..2"},
        {4, "0 -1 1  1.5 2.5 -2 1 ", "input: biomass index -2 outside 0..2 (or -1 for none)"},
        {5, "-1 -2 0.5  1 0.25 0.75 2 0 1 ",
         "kinetic: coefficients=-1,-2,0.5;k=1;Kd=0.25;Ka=0.75;biomass=2;donor=0;acceptor=1;"},
        {5, "0 -1 1  2 1 3 -1 1", "bad file: Bad File"},
        {5, "0 -1 1  2 1 3 0 1 3 ", "input: acceptor index 3 outside 0..2"},
        {5, "0 -1 1  2 1 3 0 -1 2 ", "input: donor index -1 outside 0..2"},
        {6, "-1 -2 0  1 0.25 0.75 4 -1 0 1 2 ",
         "kinetic: coefficients=-1,-2,0;k=1;Kd=0.25;Ka=0.75;Ki=4;biomass=none;donor=0;"
         "acceptor=1;inhibitor=2;"},
        {6, "0 -1 1  1 1 1 1 0 1 2", "bad file: Bad File"},
        {6, "0 -1 1  1 1 1 1 0 1 2 -1 ", "input: inhibitor index -1 outside 0..2"},
        {6, "0 -1 1  1 1 1 1 3 1 2 0 ", "input: biomass index 3 outside 0..2 (or -1 for none)"},
        {7, "-1 1 0  0.5 0 1 ", "kinetic: coefficients=-1,1,0;k=0.5;x=0;y=1;"},
        {7, "0 -1 1  0.5 1", "bad file: Bad File"},
        {7, "0 -1 1  0.5 1 3 ", "input: second exchange component index 3 outside 0..2"},
        {8, "-1 1 0  2 0 1 ", "equilibrium: coefficients=-1,1,0;Kd=2;solute=0;sorbed=1;"},
        {8, "-1 1 0  0.5 0 3 ", "input: sorbed index 3 outside 0..2"},
        {8, "-1 1 0  0.5 -3 1 ", "input: solute index -3 outside 0..2"},
        {8, "-1 1 0  0.5 0 1", "bad file: Bad File"},
        {8, "-1 1 0  -2 0 1 ", "input: Kd -2 is not a number >= 0"},
        {9, "-1 1 0  0.75 0.5 0 1 ",
         "equilibrium: coefficients=-1,1,0;A=0.75;B=0.5;solute=0;sorbed=1;"},
        {9, "0 -1 1  0.7 0.6  3 2 ", "input: solute index 3 outside 0..2"},
        {9, "0 -1 1  0.7 0.6  1 x ", "bad file: Bad File"},
        {10, "-1 1 0  0.75 0.5 0 1 ",
         "equilibrium: coefficients=-1,1,0;A=0.75;B=0.5;solute=0;sorbed=1;"},
        {10, "0 -1 1  0.7 0.6  1 -1 ", "input: sorbed index -1 outside 0..2"},
        {10, "0 -1 1  0.7 0.6  9", "bad file: Bad File"},
        {11, "-1 1 0  0.75 0.125 0 1 ",
         "kinetic: coefficients=-1,1,0;Kd=0.75;k=0.125;solute=0;sorbed=1;"},
        {11, "0 -1 1  2 0.5 -1 2 ", "input: solute index -1 outside 0..2"},
        {11, "0 -1 1  2 0.5 1", "bad file: Bad File"},
        {11, "0 -1 1  -0.5 0.5 1 2 ", "input: Kd -0.5 is not a number >= 0"},
        {12, "-1 1 0  3 0.5 0.125 0 1 ",
         "kinetic: coefficients=-1,1,0;Q=3;K=0.5;k=0.125;solute=0;sorbed=1;"},
        {12, "0 -1 1  4 1 0.5 1 7 ", "input: sorbed index 7 outside 0..2"},
        {12, "0 -1 1  4 1 0.5 1", "bad file: Bad File"},
        {13, "-1 1 0  3 0.5 0.125 0 1 ",
         "kinetic: coefficients=-1,1,0;K=3;n=0.5;k=0.125;solute=0;sorbed=1;"},
        {13, "0 -1 1  2 0.5 0.25 9 2 ", "input: solute index 9 outside 0..2"},
        {13, "0 -1 1  2 0.5 0.25 1", "bad file: Bad File"},
        {14, "1 0 0  1 -1 2 2  0 0 10 1 ",
         "kinetic: coefficients=1,0,0;kind=1;driver=time;multiplier=2;points=2;curve=0,0,10,1;"},
        // Only a negative kind reads a target, before the points; kind 0 is kinetic.
        {14, "0 0 0  -1 1 -1 1  2  5 0.5 ",
         "equilibrium: coefficients=0,0,0;kind=-1;driver=1;multiplier=none;points=1;target=2;"
         "curve=5,0.5;"},
        {14, "0 0 1  0 1 2 2  2 20  4 40 ",
         "kinetic: coefficients=0,0,1;kind=0;driver=1;multiplier=2;points=2;curve=2,20,4,40;"},
        {14, "1 0 -1  1 -1 -1 0  0 1 ", "input: rule curve with 0 points: at least 1 point needed"},
        {14, "1 0 -1  1 -1 -1 3  0 1  2 3", "bad file: Bad File: missing rule curve point 2"},
        {14, "1 0 -1  1 3 -1 1  0 1 ", "input: driver index 3 outside 0..2 (or -1 for none)"},
        {14, "1 0 -1  1 -1 -2 1  0 1 ", "input: multiplier index -2 outside 0..2 (or -1 for none)"},
        {14, "1 0 -1  -1 -1 -1 1 -1  0 1 ", "input: target index -1 outside 0..2"},
        {15, "-1 1 0  1 0.5 0.25 0 0 ",
         "equilibrium: coefficients=-1,1,0;target=1;b=0.5;weights=0.25,0,0;"},
        {15, "-1 1 0  3 0  0.5 0 0 ", "input: target index 3 outside 0..2"},
        {15, "-1 1 0  9 0  0.5 0", "bad file: Bad File"}, // a weight short, the target too
    };
    // clang-format on
    for (const auto& row : rows) {
        std::string got;
        const std::string failure = Outcome([&] {
            CRxnDescription d;
            Make(row.code, row.record, 3)->Describe(d);
            EXPECT_EQ(d.Code(), row.code);
            got = Render(d);
        });
        EXPECT_EQ(failure.empty() ? got : failure, row.expected)
            << "type " << row.code << " record \"" << row.record << "\"";
    }
}

// k x the integral over [0, h] of c^n, c linear from b to e.
double PowerIntegral(int n, double b, double e, double k, double h) {
    if (e == b)
        return k * h * std::pow(b, n);
    return k * h * (std::pow(e, n + 1) - std::pow(b, n + 1)) / ((n + 1) * (e - b));
}

// The integral over [0, 1] of the product of the linear factors b_j + (e_j - b_j) s.
double ProductIntegral(const double* b, const double* e, int n) {
    std::vector<double> poly{1.0};
    for (int j = 0; j < n; ++j) {
        std::vector<double> next(poly.size() + 1, 0.0);
        for (size_t i = 0; i < poly.size(); ++i) {
            next[i] += poly[i] * b[j];
            next[i + 1] += poly[i] * (e[j] - b[j]);
        }
        poly = next;
    }
    double sum = 0.0;
    for (size_t i = 0; i < poly.size(); ++i)
        sum += poly[i] / static_cast<double>(i + 1);
    return sum;
}

template <class F> double Simpson(F f, double lo, double hi) {
    const int intervals = 20000;
    const double w = (hi - lo) / intervals;
    double sum = f(lo) + f(hi);
    for (int k = 1; k < intervals; ++k)
        sum += (k % 2 ? 4.0 : 2.0) * f(lo + k * w);
    return sum * w / 3.0;
}

// k x the integral of a s / (K + s) over [0, h], a and s linear.
double MonodIntegral(double k, double K, double a0, double a1, double s0, double s1, double h) {
    return Simpson(
        [&](double t) {
            const double a = a0 + (a1 - a0) * t / h, s = s0 + (s1 - s0) * t / h;
            return k * a * s / (K + s);
        },
        0.0, h);
}

::testing::AssertionResult Near(double got, double expected, double rel) {
    const double scale = std::fabs(expected) > 1e-300 ? std::fabs(expected) : 1.0;
    if (rel == 0.0 ? got == expected : std::fabs(got - expected) <= rel * scale)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "got " << Number(got) << ", expected " << Number(expected) << " (rel " << rel << ")";
}

// Six entries: a law reads entries 0..3; its coefficients take the amount out
// of entry 4 into entry 5, which no law reads.
constexpr int N = 6;
const std::string STOICH = "0 0 0 0 -1 1  ";

struct CRate {
    const char* what;
    int code;
    std::string fields; // after the coefficients
    std::vector<double> base, conc;
    double h;
    double expected; // the amount added along the coefficients
    double rel;      // 0: to the last bit
    std::string failure = "";
};

// Runs a row: the amount is what entry 5 gains.
void ExpectRate(const CRate& row) {
    SCOPED_TRACE(row.what);
    double base[N] = {}, conc[N] = {};
    for (size_t k = 0; k < row.base.size(); ++k)
        base[k] = row.base[k];
    for (size_t k = 0; k < row.conc.size(); ++k)
        conc[k] = row.conc[k];
    double delta[N] = {0.5, 0.5, 0.5, 0.5, 0.25, 0.0}; // earlier contributions stay
    EXPECT_EQ(Outcome([&] {
                  Make(row.code, STOICH + row.fields + " ", N)->CompRate(conc, base, delta, row.h);
              }),
              row.failure);
    if (!row.failure.empty())
        return;
    EXPECT_TRUE(Near(delta[5], row.expected, row.rel));
    EXPECT_EQ(delta[4], 0.25 - delta[5]);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(delta[k], 0.5) << "entry " << k;
}

// Dual Monod (k 2, Kd 1, Ka 3) at one point: negative when any factor is.
double DualTerm(double a, double d, double e) {
    const double sign = a < 0 || d < 0 || e < 0 ? -1.0 : 1.0;
    a = std::fabs(a), d = std::fabs(d), e = std::fabs(e);
    return sign * a * d * e / (d + 1.0) / (e + 3.0);
}
double Dual(double sum, double h) {
    return sum * 2.0 * h * 0.25;
}

// The inhibited law (k 0.5, Kd 0.25, Ka 0.125, Ki 0.75) at one point.
double Inhib(double a, double d, double e, double c) {
    return 0.5 * a * d * e / ((d + 0.25) * (e + 0.125 + 0.75 * c));
}

TEST(Reactions, KineticAmountsAreTheIntegralsOfTheirLaws) {
    const double q1 = 4.0 * 1 / (1 + 1.0), q2 = 4.0 * 2 / (2 + 1.0), q3 = 4.0 * 3 / (3 + 1.0);
    // clang-format off
    const CRate rows[] = {
        // CKinMonod: k, K, biomass 0, substrate 1.
        {"monod, constant substrate", 4, "0.5 2 0 1", {1, 3}, {2, 3}, 0.4,
         0.5 * 0.4 * 1.5 * 3 / 5, 1e-12},
        {"monod, change below the limit: the mean form", 4, "0.5 0.25 0 1", {1, 1}, {2, 1.0005},
         2.0, 3 * 0.5 * 2.0005 * 2 / ((2.0005 * 0.5 + 0.25) * 4), 1e-15},
        {"monod, the exact integral", 4, "0.5 0.25 0 1", {1, 1}, {2, 1.01}, 2.0,
         MonodIntegral(0.5, 0.25, 1, 2, 1, 1.01, 2), 1e-10},
        {"monod without biomass", 4, "0.7 0.5 -1 1", {-3, 2}, {-3, 0.5}, 0.3,
         0.7 * 0.3 * (1 - 0.5 * std::log(1.0 / 2.5) / -1.5), 1e-13},
        {"monod, falling substrate ends the step at zero", 4, "0.5 0.25 0 1", {1, 1}, {3, -1}, 2.0,
         MonodIntegral(0.5, 0.25, 1, 3, 1, 0, 1), 1e-10},
        {"monod, rising substrate starts it at zero", 4, "0.5 0.25 0 1", {1, -1}, {3, 1}, 2.0,
         MonodIntegral(0.5, 0.25, 1, 3, 0, 1, 1), 1e-10},
        {"monod without substrate", 4, "0.5 0.25 0 1", {1, 0}, {1, -1}, 1.0, 0.0, 0},
        {"monod without biomass at both ends", 4, "0.5 0.25 0 1", {-1, 1}, {-0.5, 1}, 1.0, 0.0, 0},
        {"monod with biomass at one end", 4, "0.5 0.25 0 1", {-1, 1}, {2, 1}, 1.0, 0.2, 1e-12},
        // CKinDualMonod: k 2, Kd 1, Ka 3, biomass 0, donor 1, acceptor 2.
        {"dual monod, three points", 5, "2 1 3 0 1 2", {1, 2, 1}, {2, 1, 3}, 0.5,
         Dual(DualTerm(1, 2, 1) + 2 * DualTerm(1.5, 1.5, 2) + DualTerm(2, 1, 3), 0.5), 1e-14},
        {"dual monod, no acceptor at the start", 5, "2 1 3 0 1 2", {1, 2, 0}, {1, 2, 2}, 0.5,
         Dual(2 * DualTerm(1, 2, 1) + DualTerm(1, 2, 2), 0.5), 1e-14},
        {"dual monod, first half left out", 5, "2 1 3 0 1 2", {1, -3, 1}, {1, 1, 1}, 0.5,
         Dual(DualTerm(1, -1, 1) + DualTerm(1, 1, 1), 0.5), 1e-14},
        {"dual monod, second half left out", 5, "2 1 3 0 1 2", {1, 1, 1}, {1, -3, 1}, 0.5,
         Dual(DualTerm(1, -1, 1) + DualTerm(1, 1, 1), 0.5), 1e-14},
        {"dual monod, negative end, positive middle", 5, "2 1 3 0 1 2", {1, 1, 1}, {1, -0.5, 1},
         0.5, Dual(DualTerm(1, 1, 1) + 2 * DualTerm(1, 0.25, 1) + DualTerm(1, -0.5, 1), 0.5),
         1e-14},
        {"dual monod without acceptor", 5, "2 1 3 0 1 2", {1, 1, 0}, {1, 1, -1}, 1.0, 0.0, 0},
        {"dual monod, both end rates negative", 5, "2 1 3 0 1 2", {1, 1, -1}, {1, -1, 1}, 1.0,
         0.0, 0},
        {"dual monod without biomass", 5, "2 1 3 -1 1 2", {-1, 1, 1}, {-1, 1, 1}, 1.0, 0.25, 1e-15},
        // CKinDualMonodInhib: biomass 0, donor 1, acceptor 2, inhibitor 3.
        {"inhibited, trapezoid of the ends", 6, "0.5 0.25 0.125 0.75 0 1 2 3", {0.5, 2, 1, 0.5},
         {0.75, 1.5, 0.25,
          1}, 0.4, (Inhib(0.75, 1.5, 0.25, 1) + Inhib(0.5, 2, 1, 0.5)) * 0.2, 1e-14},
        {"inhibited without biomass", 6, "0.5 0.25 0.125 0.75 -1 1 2 3", {-5, 2, 1, 0.5},
         {-5, 1.5, 0.25, 1}, 1.0, (Inhib(1, 1.5, 0.25, 1) + Inhib(1, 2, 1, 0.5)) * 0.5, 1e-14},
        {"inhibited without donor", 6, "0.5 0.25 0.125 0.75 0 1 2 3", {1, 0, 1, 0}, {1, 0, 1, 0},
         1.0, 0.0, 0},
        {"inhibited, negative rate constant", 6, "-0.5 0.25 0.125 0.75 0 1 2 3", {1, 1, 1, 0},
         {1, 1, 1, 0}, 1.0, 0.0, 0},
        // Donor 1 -> -1 over 2: the window is [0, 1], donor 1 -> 0.
        {"inhibited, falling donor ends the window", 6, "0.5 0.25 0.125 0.75 0 1 2 3", {1, 1, 2, 0},
         {1, -1, 1, 2}, 2.0, Inhib(1, 1, 2, 0) * 0.5, 1e-14},
        // Acceptor -1 -> 1 over 2: the window is [1, 2]; donor 1.5, inhibitor 0.5 at its start.
        {"inhibited, rising acceptor starts the window", 6, "0.5 0.25 0.125 0.75 0 1 2 3",
         {1, 2, -1, 0}, {1, 1, 1, 1}, 2.0, Inhib(1, 1, 1, 1) * 0.5, 1e-14},
        // Over 4: donor 3 -> -1 ends it at 3, acceptor -1 -> 3 starts it at 1.
        {"inhibited, end cut before start cut", 6, "0.5 0.25 0.125 0.75 0 1 2 3", {1, 3, -1, 0},
         {1, -1, 3, 0}, 4.0, 0.0, 1e-15},
        {"inhibited, no window left", 6, "0.5 0.25 0.125 0.75 0 1 2 3", {1, 1, -1, 0},
         {1, -3, 1, 0},
         2.0, 0.0, 0},
        {"inhibited, zero Kd at the window's end", 6, "0.5 0 0.125 0 0 1 2 3", {1, 1, 1, 0},
         {1, -1, 1, 0}, 2.0, 0, 0, "compute: Integrated Reaction divide by zero"},
        {"inhibited, zero Kd at the window's start", 6, "0.5 0 0.125 0 0 1 2 3", {1, -1, 1, 0},
         {1, 1, 1, 0}, 2.0, 0, 0, "compute: Integrated Reaction divide by zero"},
        // Sorption and exchange: x entry 1, y entry 2.
        {"exchange", 7, "0.5 1 2", {0, 2, 0}, {0, 2, 0}, 1.0, 1.0, 0},
        {"exchange reversed", 7, "0.5 1 2", {0, 0, 2}, {0, 0, 2}, 1.0, -1.0, 0},
        {"exchange at equal values", 7, "0.5 1 2", {0, 1, 1}, {0, 3, 3}, 0.7, 0.0, 0},
        {"linear at equilibrium", 11, "2 0.5 1 2", {0, 1, 2}, {0, 3, 6}, 0.4, 0.0, 0},
        {"linear", 11, "2 0.5 1 2", {0, 1, 0}, {0, 3, 1}, 0.4, 7 * 0.5 * 0.4 * 0.5, 0},
        {"linear, negative solute", 11, "2 0.5 1 2", {0, -1, 0}, {0, -1, 0}, 1.0, -1.0, 0},
        // The isotherm at the mean solute lies above the mean of the isotherm.
        {"langmuir at equilibrium at both ends", 12, "4 1 0.5 1 2", {0, 1, q1}, {0, 3, q3}, 1.0,
         0.5 * (q2 - (q1 + q3) / 2), 1e-12},
        {"freundlich without solute", 13, "2 0.5 0.25 1 2", {0, 0, 100}, {0, 4, 100}, 1.0, 0.0, 0},
        {"freundlich, negative solute", 13, "2 0.5 0.25 1 2", {0, -1, 0}, {0, 4, 0}, 1.0, 0.0, 0},
        {"freundlich, falling solute shortens the step", 13, "2 0.5 0.25 1 2", {0, 1, 0.25},
         {0, -1, 0.5}, 2.0, (4 * std::sqrt(0.5) - 0.75) * 0.25 * 0.5, 1e-15},
        {"freundlich", 13, "2 0.5 0.25 1 2", {0, 1, 0}, {0, 3, 1}, 0.5,
         0.25 * 0.5 * (2 * std::sqrt(2.0) - 0.5), 1e-12},
        // Rule curves driven by entry 1: the mean along the driver's path times h.
        {"curve, falling driver", 14, "1 1 -1 1  0 2", {0, 3}, {0, 1}, 0.5, 1.0, 0},
        {"curve, rising driver", 14, "1 1 -1 1  0 2", {0, 1}, {0, 3}, 0.5, 1.0, 0},
        {"curve, driver that does not move", 14, "1 1 -1 1  0 2", {0, 3}, {0, 3}, 0.5, 0.0, 0},
        // Trapezoid 0 -> 2 on [0, 1], 2 up to 3, down to 0 at 4: area 6, flat tails.
        {"curve over both tails", 14, "1 1 -1 4  0 0  1 2  3 2  4 0", {0, -5}, {0, 9}, 14.0, 6.0,
         0},
        {"curve from inside a piece", 14, "1 1 -1 4  0 0  1 2  3 2  4 0", {0, 0.5}, {0, 2}, 1.5,
         2.75, 1e-15},
        {"curve's flat tail past its last point", 14, "1 1 -1 2  0 0  1 5", {0, 0}, {0, 3}, 3.0,
         12.5, 0},
        // Curve u with multiplier entry 0: 1 -> 3 while u goes 0 -> 1: 7/6.
        {"curve with a multiplier", 14, "1 1 0 2  0 0  1 1", {1, 0}, {3, 1}, 0.25, 7.0 / 6 * 0.25,
         1e-15},
        // Over [-1, 2], multiplier 1 + u: 1/2 + 1/3 below 1, 1 + 3/2 above.
        {"curve with a multiplier over its tails", 14, "1 1 0 2  0 0  1 1", {0, -1}, {3, 2}, 3.0,
         0.5 + 1.0 / 3 + 2.5, 1e-15},
        {"curve with a multiplier, reversed", 14, "1 1 0 2  0 0  1 1", {3, 2}, {0, -1}, 3.0,
         0.5 + 1.0 / 3 + 2.5, 1e-15},
        {"equilibrium curve as a rate", 14, "-1 0 -1 1 2  0 1", {1, 2}, {1, 2}, 1.0, 0, 0,
         "not supported: Incorrect Type for a Kinetic Rule Curve Reaction"},
    };
    // clang-format on
    for (const CRate& row : rows)
        ExpectRate(row);
}

// Every order of both ordered laws against the exact integral of the linear
// path, sign changes included.
TEST(Reactions, OrderedAmountsAreExactIntegralsForEveryOrder) {
    const double ends[][2] = {{0.5, 1.5}, {2.0, 0.25}, {-0.75, 1.25}, {1.1, 1.1}};
    for (int n = 0; n <= ORDERED_MAX_ORDER; ++n) {
        std::string factors;
        for (int j = 0; j < n; ++j)
            factors += " 1";
        for (const auto& be : ends) {
            const double expected = PowerIntegral(n, be[0], be[1], 0.3, 0.7);
            const std::string what = "order " + std::to_string(n) + " from " + Number(be[0]);
            // clang-format off
            ExpectRate({what.c_str(), 2, std::to_string(n) + " 1 0.3", {0, be[0]}, {0, be[1]}, 0.7,
                        expected, 1e-13});
            ExpectRate({what.c_str(), 3, "0.3 " + std::to_string(n) + factors, {0, be[0]},
                        {0, be[1]}, 0.7, expected, 1e-13});
            // clang-format on
        }
    }
    // Different factors: the subset sum against the expanded product.
    const double b[6] = {0.5, -1.25, 2.0, 0.75, 1.5, -0.5};
    const double e[6] = {1.5, 0.5, 0.25, 1.0, -2.0, 3.0};
    for (int n = 1; n <= ORDERED_MAX_ORDER; ++n)
        EXPECT_TRUE(Near(CMixedOrdered::SubsetSum(n, b, e), ProductIntegral(b, e, n), 1e-13)) << n;
    // The closed form of order 2 takes its two factors in record order.
    const double lo[2] = {2, 0.5}, hi[2] = {1, 1.5};
    // clang-format off
    ExpectRate({"order 2 of two entries", 3, "2 2 0 1", {2, 0.5}, {1, 1.5}, 0.5,
                2 * 0.5 * ProductIntegral(lo, hi, 2), 1e-15});
    // clang-format on
}

// The bisection root of f on [lo, hi] where f changes sign.
template <class F> double Root(F f, double lo, double hi) {
    const bool rising = f(hi) > f(lo);
    for (int k = 0; k < 200; ++k) {
        const double mid = 0.5 * (lo + hi);
        (f(mid) > 0) == rising ? hi = mid : lo = mid;
    }
    return 0.5 * (lo + hi);
}

struct CEquiRow {
    const char* what;
    int code;
    const char* record; // coefficients included
    std::vector<double> start, expected;
    double rel; // 0: to the last bit
    std::string failure = "";
};

TEST(Reactions, EquilibriaReachTheirConditionOrLeaveTheStateAlone) {
    // A + B = P with Keq 10 forward from (1, 2, 0.5) and backward from (0, 2, 0.5).
    const double x = (31 - std::sqrt(181.0)) / 20, y = (std::sqrt(461.0) - 21) / 20;
    const double z = (31 - std::sqrt(161.0)) / 20;
    const double lang3 = (1.8 - std::sqrt(1.84)) / 2;
    // Langmuir and Freundlich (A 0.7, B 0.6) of entry 1 onto entry 3 from (2, 0.3).
    const double lang = (3 - std::sqrt(6.52)) / 2;
    const double lang2 =
        Root([](double v) { return 0.7 * (2 - 2 * v) / (2.6 - 2 * v) - 0.3 - v; }, 0, 1);
    const double freund = Root([](double v) { return 0.7 * std::pow(2 - v, 0.6) - 0.3 - v; }, 0, 2);
    // clang-format off
    const CEquiRow rows[] = {
        {"mass action", 0, "-1 -1 1  -1 -1 1  10", {1, 2, 0.5}, {1 - x, 2 - x, 0.5 + x}, 1e-12},
        {"mass action backwards", 0, "-1 -1 1  -1 -1 1  10", {0, 2, 0.5}, {y, 2 + y, 0.5 - y},
         1e-10},
        {"isomerisation", 0, "-1 1  -1 1  0.5", {3, 0}, {2, 1}, 0},
        // lo = 0 and lo + 1 >= hi = 1: the second trial is the middle of the range.
        {"equal trial extents", 0, "-1 -1 1  -1 -1 1  10", {1, 2, 0}, {1 - z, 2 - z, z}, 1e-12},
        {"zero residual at the start", 0, "-1 1  -1 1  2", {1, 2}, {1, 2}, 0},
        {"crossed bounds", 0, "-1 1  -1 1  2", {-1, -1}, {-1, -1}, 0},
        {"no coefficients", 0, "0 0 0  1 1 1  2", {1, 2, 3}, {1, 2, 3}, 0,
         "compute: No Stiometry for an equilibrium Reaction."},
        {"linear assignment", 1, "0.5 0.25 0  2  1", {2, 4, 9}, {2, 4, 3}, 0},
        {"linear assignment of its own target", 1, "1 1 1  0  0.5", {1, 2, 3}, {6.5, 2, 3}, 0},
        {"linear assignment of a constant", 1, "0 0 0  1  -4.25", {1, 2, 3}, {1, -4.25, 3}, 0},
        {"linear sorption", 8, "0 -1 1  3  1 2", {0, 2, 0}, {0, 0.5, 1.5}, 0},
        {"linear desorption", 8, "0 -1 1  3  1 2", {0, 2, 10}, {0, 3, 9}, 0},
        {"linear inside the bounds", 8, "-1 1  0.5  0 1", {0, 1}, {2.0 / 3, 1.0 / 3}, 1e-15},
        {"linear with Kd 0", 8, "-1 1  0  0 1", {1, 0.5}, {1.5, 0}, 0},
        {"linear, a third entry at zero", 8, "-1 1 -1  2  0 1", {1, 0.2, 0}, {1, 0.2, 0}, 0},
        {"linear clamped where a third entry runs out", 8, "-1 1 -1  2  0 1", {1, 0.2, 0.5},
         {0.5, 0.7, 0}, 0},
        // d = 1 - 1 x 1 = 0 and the bounds cross: infeasibility is found first.
        {"linear, infeasible", 8, "1 1 -1  1  0 1", {-2, -2, 1}, {-2, -2, 1}, 0,
         "compute: Error, can not find a feasible solution to equilibrium linear sorption "
         "condition: entry 0 is -2, below zero by more than round-off (0)"},
        {"linear that cannot change its condition", 8, "1 1  1  0 1", {1, 1}, {1, 1}, 0,
         "compute: Problem in EQuilin Reaction"},
        {"langmuir", 9, "0 -1 0 1  0.7 0.6  1 3", {0, 2, 0, 0.3}, {0, 2 - lang, 0, 0.3 + lang},
         1e-12},
        {"langmuir of two units of solute", 9, "0 -2 0 1  0.7 0.6  1 3", {0, 2, 0, 0.3},
         {0, 2 - 2 * lang2, 0, 0.3 + lang2}, 1e-11},
        {"langmuir, equal trial extents", 9, "0 -1 0 1  0.7 0.6  1 3", {0, 0.5, 0, 0},
         {0, 0.5 - lang3, 0, lang3}, 1e-11},
        {"freundlich", 10, "0 -1 0 1  0.7 0.6  1 3", {0, 2, 0, 0.3},
         {0, 2 - freund, 0, 0.3 + freund},
         1e-11},
        // Entry 2 runs out at x = 0.05, well before the isotherm is met.
        {"freundlich, root beyond a bound", 10, "0 -1 -1 1  50 1  1 3", {0, 0.5, 0.05, 0.1},
         {0, 0.45, 0, 0.15}, 1e-15},
        // Linear combinations: target entry 1 = constant + weights . state.
        {"combination", 15, "-1 1  1 0  0.5 0", {2, 0}, {4.0 / 3, 2.0 / 3}, 1e-15},
        {"combination with target weight and constant", 15, "-1 1  1 0.1  0.5 0.2", {2, 0},
         {15.0 / 13, 11.0 / 13}, 1e-15},
        {"combination using up an entry", 15, "-1 1  1 0  0.5 1.5", {2, 0}, {0, 2}, 0},
        {"combination that cannot move its target", 15, "0 1  0 3  1 1", {1, 2}, {1, 2}, 0},
        {"combination, crossed bounds", 15, "-1 1  1 0  0.5 0", {-1, -1}, {-1, -1}, 0},
        {"combination bounded on one side", 15, "0 1  1 5  0 0", {0, 1}, {0, 5}, 0},
        // The passes swing between (0, 0.1) and (0.1, 0); the odd pass over the
        // limit is applied, then the step fails.
        {"combination that never settles", 15, "-1 1  1 0  5 0", {0.1, 0}, {0, 0.1}, 0,
         "time: linear combination did not settle"},
        // Component-driven curves: the target (entry 2) takes the curve's value.
        {"curve below its first point", 14, "0 0 0  -1 0 -1 4 2  0 0  1 2  3 2  4 0", {-2, 9, 9},
         {-2, 9, 0}, 0},
        {"curve inside a piece", 14, "0 0 0  -1 0 -1 4 2  0 0  1 2  3 2  4 0", {0.25, 9, 9},
         {0.25, 9, 0.5}, 0},
        {"curve on a point", 14, "0 0 0  -1 0 -1 4 2  0 0  1 2  3 2  4 0", {1, 9, 9}, {1, 9, 2}, 0},
        {"curve falling", 14, "0 0 0  -1 0 -1 4 2  0 0  1 2  3 2  4 0", {3.5, 9, 9}, {3.5, 9, 1},
         0},
        {"curve past its last point", 14, "0 0 0  -1 0 -1 4 2  0 0  1 2  3 2  4 0", {7, 9, 9},
         {7, 9, 0}, 0},
        // A driver that is not a number reads no second point (a fuzzing find).
        {"one-point curve", 14, "0 0 0  -1 0 -1 1 2  5 3.5", {NAN, 9, 9}, {NAN, 9, 3.5}, 0},
        {"curve with a multiplier", 14, "0 0 0  -1 0 1 2 2  0 0  4 4", {3, 0.5, 9}, {3, 0.5, 1.5},
         0},
        {"kinetic curve as an equilibrium", 14, "0 0 0  1 0 -1 1  0 1", {1, 2, 3}, {1, 2, 3}, 0,
         "not supported: Incorrect Type for an Equilibrium Rule Curve Reaction"},
    };
    // clang-format on
    for (const CEquiRow& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<double> c = row.start;
        const int n = static_cast<int>(c.size());
        EXPECT_EQ(
            Outcome([&] { Make(row.code, std::string(row.record) + " ", n)->CompEqui(c.data()); }),
            row.failure);
        for (size_t k = 0; k < c.size(); ++k) {
            if (std::isnan(row.expected[k]))
                EXPECT_TRUE(std::isnan(c[k]));
            else
                EXPECT_TRUE(Near(c[k], row.expected[k], row.rel)) << "entry " << k;
        }
    }
}

// A product that starts at 0 from C of what it consumes, C at most 1 among
// them: the solve reaches the closed-form equilibrium at every C.
TEST(Reactions, EquilibriaFromAnEmptyProductReachTheClosedForm) {
    struct CLaw {
        const char* what;
        int code;
        const char* record;
        double (*product)(double c);
    };
    const CLaw laws[] = {
        // x = A (C - x) / (C - x + B), A 56.7, B 100.
        {"langmuir", 9, "-1 1  56.7 100  0 1",
         [](double c) {
             const double p = c + 56.7 + 100;
             return 2 * 56.7 * c / (p + std::sqrt(p * p - 4 * 56.7 * c));
         }},
        // x = A (C - x)^0.5, A 0.7.
        {"freundlich", 10, "-1 1  0.7 0.5  0 1",
         [](double c) { return 2 * 0.49 * c / (0.49 + std::sqrt(0.49 * 0.49 + 4 * 0.49 * c)); }},
        // x / (C - x) = Keq = 2.
        {"mass action", 0, "-1 1  -1 1  2", [](double c) { return 2 * c / 3; }},
    };
    for (const CLaw& law : laws) {
        for (const double c : {1e-6, 0.5, 1.0, 1.01, 100.0}) {
            SCOPED_TRACE(std::string(law.what) + " from " + Number(c));
            std::vector<double> conc = {c, 0};
            Make(law.code, std::string(law.record) + " ", 2)->CompEqui(conc.data());
            const double x = law.product(c);
            EXPECT_NEAR(conc[1], x, 1e-11 * std::max(1.0, c));
            EXPECT_NEAR(conc[0], c - x, 1e-11 * std::max(1.0, c));
        }
    }
}

// Linear sorption with opzero 1e-9: an entry below zero by no more than
// opzero times the largest entry it touches (at least 1) stands at zero; one
// further below ends the run naming it.
TEST(Reactions, LinearSorptionTakesRoundOffAsZero) {
    CRunControl control("round-off");
    CSimulation sim(&control);
    sim.m_settings.m_opzero = 1e-9;
    // clang-format off
    const CEquiRow rows[] = {
        {"dissolved below zero by round-off", 8, "-1 1  2  0 1", {-1e-11, 0}, {-1e-11, 0}, 0},
        {"at the round-off itself", 8, "-1 1  2  0 1", {-1e-9, 0}, {-1e-9, 0}, 0},
        {"round-off scaled by a large entry", 8, "-1 1 1  2  0 1", {-5e-9, 0, 10},
         {-5e-9, 0, 10}, 0},
        {"beyond the round-off", 8, "-1 1  2  0 1", {-2e-9, 0}, {-2e-9, 0}, 0,
         "compute: Error, can not find a feasible solution to equilibrium linear sorption "
         "condition: entry 0 is -2.0000000000000001e-09, below zero by more than round-off "
         "(1.0000000000000001e-09)"},
        {"truly negative", 8, "-1 1  2  0 1", {-0.5, 0.25}, {-0.5, 0.25}, 0,
         "compute: Error, can not find a feasible solution to equilibrium linear sorption "
         "condition: entry 0 is -0.5, below zero by more than round-off (1.0000000000000001e-09)"},
        // Not crossed: the bounds and the extent are those without round-off.
        {"feasible with a negative entry", 8, "-1 1  2  0 1", {-1e-11, 0.3},
         {0.1 - 1e-11 / 3, 0.2 - 2e-11 / 3}, 1e-15},
    };
    // clang-format on
    for (const CEquiRow& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<double> c = row.start;
        const int n = static_cast<int>(c.size());
        EXPECT_EQ(Outcome([&] {
                      Make(row.code, std::string(row.record) + " ", n, &sim)->CompEqui(c.data());
                  }),
                  row.failure);
        for (size_t k = 0; k < c.size(); ++k)
            EXPECT_TRUE(Near(c[k], row.expected[k], row.rel)) << "entry " << k;
    }
}

// A residual whose sign flips at 0.3 and is never near zero: the secant
// passes never settle.
class CStepResidual : public CEqui {
public:
    using CEqui::CEqui;
    double CompQ(double x, const double*) const override {
        ++m_calls;
        return x > 0.3 ? 1.0 : -1.0;
    }
    mutable int m_calls = 0;
};

TEST(Reactions, UnsettledSecantIsATimeExceptionWithTheStateUnchanged) {
    CStepResidual rxn(*ModelStream("-1 1 "), 2, nullptr);
    std::vector<double> c = {1, 0.5};
    EXPECT_EQ(Outcome([&] { rxn.CompEqui(c.data()); }), "time: equilibrium extent did not settle");
    EXPECT_EQ(c, (std::vector<double>{1, 0.5}));
    EXPECT_EQ(rxn.m_calls, 3 + EQUI_MAX_SECANT_PASSES); // Q(0), two trials, one a pass
}

} // namespace
