// A model with injected water for the tests of the transport, the budget and
// whole runs: 20 x 30 nodes 2 apart (every cell 2 x 2, thickness 2: a volume
// of 8), water held at head 10 on column 0 and at 0 on column 29, one
// immobile entry X and two mobile entries A and B.
//
//   boundary  rectangle rows 0..19, column 0 (held heads, inflow): B 3
//   well      node (10, 10), source 0.02, porosity 0.2: A 5
//   field     rectangle rows 4..6, columns 15..17, source 0.01: A 1, B 2
//
// and a sink at (15, 20). 600 nodes are three chunks of the budget's sums.
#pragma once

#include "support/engine.h"

#include <string>

namespace kova_test {

// The porosity and volume of every node but the well.
constexpr double INJECTION_POROSITY = 0.3;
constexpr double INJECTION_VOLUME = 8.0;

CTestModel InjectionModel();

// BASE.kvx of the model: names, thickness 2, the transport scheme when one
// is named and, when inject, the three tables.
std::string InjectionExtension(bool inject, const std::string& scheme = "");

// c_in x source x porosity x volume summed over the injected nodes whose source
// the model gives (the well and the field), per entry A and B: the mass a unit
// of time brings in at them. The boundary's sources come from the heads.
double InjectedRateGiven(char entry);

} // namespace kova_test
