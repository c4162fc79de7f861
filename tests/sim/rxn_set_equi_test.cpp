// The local integration answers an equilibrium reaction that never settles
// (its TimeException) by halving the local step.
#include "model/exceptions.h"
#include "model/rxn_work.h"
#include "run/run_control.h"
#include "rxn/equi.h"
#include "rxn/equi_lin_comb.h"
#include "rxn/rxn_set.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// A residual whose sign flips at 0.3 and is never near zero.
class CStepResidual : public CEqui {
public:
    using CEqui::CEqui;
    double CompQ(double x, const double*) const override { return x > 0.3 ? 1.0 : -1.0; }
};

struct NodeRun {
    double fraction = 1.0;
    int hold = 0;
    std::string failure;
    std::vector<double> state;
};

// Integrates a two-entry node over one global step of 0.1 with opzero 0.01,
// the given reaction being the set's only equilibrium reaction.
NodeRun IntegrateOneStep(std::unique_ptr<CRxn> rxn, std::vector<double> start) {
    std::vector<std::shared_ptr<CRxn>> rxns;
    rxns.push_back(std::move(rxn));
    CRunControl control("model");
    CRxnSet set(&control);
    auto in = kova_test::ModelStream("1 0  0 ");
    set.Read(*in, rxns, 2, 0, 0.01);

    NodeRun run;
    run.state.assign(start.size(), 0.0); // no change over the previous step
    const std::vector<double> transport(start.size(), 0.0);
    CRxnWork work(2);
    try {
        set.Integrate(start.data(), run.state.data(), transport.data(), 0.1, &run.fraction,
                      &run.hold, work);
    } catch (const ComputeException& e) {
        run.failure = e.Detail();
    }
    return run;
}

template <class T> std::unique_ptr<CRxn> Build(const std::string& record) {
    auto in = kova_test::ModelStream(record);
    return std::make_unique<T>(*in, 2, nullptr);
}

TEST(RxnSetEquilibrium, UnsettledLinearCombinationHalvesTheLocalStep) {
    // The passes swing between (0, 0.1) and (0.1, 0) at every step length:
    // h goes 0.05, 0.025, 0.0125, and the fourth halving (0.00625) falls below
    // opzero. Every failure counts on the node's hold; the fraction stays.
    NodeRun run = IntegrateOneStep(Build<CEquiLinComb>("-1 1  1 0  5 0 "), {0.1, 0});
    EXPECT_EQ(run.failure, "Local Timestep reduced below opzero");
    EXPECT_EQ(run.hold, 4);
    EXPECT_EQ(run.fraction, 1.0);
}

TEST(RxnSetEquilibrium, UnsettledSecantHalvesTheLocalStep) {
    NodeRun run = IntegrateOneStep(Build<CStepResidual>("-1 1 "), {1, 0.5});
    EXPECT_EQ(run.failure, "Local Timestep reduced below opzero");
    EXPECT_EQ(run.hold, 4);
    EXPECT_EQ(run.fraction, 1.0);
}

} // namespace
