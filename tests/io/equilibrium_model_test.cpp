// Reading a model whose reaction set holds every equilibrium reaction type,
// and integrating its nodes through that set.
#include "io/reader.h"
#include "model/exceptions.h"
#include "model/rxn_work.h"
#include "model/simulation.h"
#include "run/run_control.h"
#include "rxn/equi_freundlich.h"
#include "rxn/equi_langmuir.h"
#include "rxn/equi_lin.h"
#include "rxn/equi_lin_comb.h"
#include "rxn/equi_mass_action.h"
#include "rxn/lin_assign.h"
#include "rxn/rxn_set.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::string MODEL_FILE = std::string(KOVA_TEST_DATA_DIR) + "/equilibrium_set.kvi";

// State entries of the model: 7 hydraulic slots, 7 immobile, 5 mobile.
enum Entry { P = 7, S_LANG, S_FREUND, S_LIN, TOTAL_A, X, Y, A, B, C_LANG, C_FREUND, C_LIN };

void ReadModel(CSimulation& sim, std::istream& in) {
    ReadInput(sim, in);
}

TEST(EquilibriumModel, ReadsEveryEquilibriumReactionIntoOneSet) {
    CRunControl control("model");
    CSimulation sim(&control);
    std::ifstream in(MODEL_FILE);
    ASSERT_TRUE(in.good()) << MODEL_FILE;
    ReadModel(sim, in);

    ASSERT_EQ(sim.m_nComp, 19);
    ASSERT_EQ(sim.m_rxns.size(), 6u);
    EXPECT_NE(dynamic_cast<CEquiMassAction*>(sim.m_rxns[0].get()), nullptr);
    EXPECT_NE(dynamic_cast<CEquiLangmuir*>(sim.m_rxns[1].get()), nullptr);
    EXPECT_NE(dynamic_cast<CEquiFreundlich*>(sim.m_rxns[2].get()), nullptr);
    EXPECT_NE(dynamic_cast<CEquiLin*>(sim.m_rxns[3].get()), nullptr);
    EXPECT_NE(dynamic_cast<CLinAssign*>(sim.m_rxns[4].get()), nullptr);
    EXPECT_NE(dynamic_cast<CEquiLinComb*>(sim.m_rxns[5].get()), nullptr);

    ASSERT_EQ(sim.m_nRxnSets, 1);
    const CRxnSet& set = *sim.m_rxnSets[0];
    ASSERT_EQ(set.m_nEqui, 6);
    EXPECT_EQ(set.m_nKinetic, 0);
    for (int r = 0; r < 6; ++r)
        EXPECT_EQ(set.m_equi[r], sim.m_rxns[r].get()) << "list entry " << r;
}

TEST(EquilibriumModel, SetBringsEveryNodeToAllSixConditions) {
    CRunControl control("model");
    CSimulation sim(&control);
    std::ifstream in(MODEL_FILE);
    ReadModel(sim, in);

    const int n = sim.m_nComp;
    CRxnWork work(n);
    for (int node = 0; node < sim.m_nNodes; ++node) {
        const double* start = sim.m_stateNew.get() + node * n;
        std::vector<double> state(n, 0.0);
        const std::vector<double> transport(n, 0.0);
        double fraction = 1.0;
        int hold = 0;
        sim.m_rxnSets[0]->Integrate(start, state.data(), transport.data(), sim.m_globalStep,
                                    &fraction, &hold, work);
        EXPECT_EQ(hold, 0) << "node " << node;
        const double* c = state.data();
        const double tol = 1e-9;
        EXPECT_NEAR(c[P] / (c[A] * c[B]), 10.0, tol) << "node " << node;
        EXPECT_NEAR(c[S_LANG], 0.7 * c[C_LANG] / (c[C_LANG] + 0.6), tol) << "node " << node;
        EXPECT_NEAR(c[S_FREUND], 0.7 * std::pow(c[C_FREUND], 0.6), tol) << "node " << node;
        EXPECT_NEAR(c[S_LIN], 2 * c[C_LIN], tol) << "node " << node;
        EXPECT_EQ(c[TOTAL_A], c[P] + c[A]) << "node " << node;
        EXPECT_NEAR(c[Y], 0.5 * c[X], tol) << "node " << node;
        // Mass moves along the stoichiometry only.
        EXPECT_NEAR(c[P] + c[A], start[P] + start[A], tol) << "node " << node;
        EXPECT_NEAR(c[X] + c[Y], start[X] + start[Y], tol) << "node " << node;
    }
}

std::string ModelText() {
    std::ifstream in(MODEL_FILE);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadFailure(const std::string& text) {
    CRunControl control("model");
    CSimulation sim(&control);
    auto in = kova_test::ModelStream(text);
    try {
        ReadModel(sim, *in);
    } catch (const InputException& e) {
        return e.Detail();
    }
    return "";
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

TEST(EquilibriumModel, BadReactionFieldsNameTheRecord) {
    const std::string text = ModelText();
    EXPECT_EQ(ReadFailure(Replace(text, "0.7 0.6 16 8", "0.7 0.6 19 8")),
              "solute index 19 outside 0..18 in reaction record 1 (field 18)");
    EXPECT_EQ(ReadFailure(Replace(text, "2 18 10", "2 18 -1")),
              "sorbed index -1 outside 0..18 in reaction record 3 (field 18)");
    EXPECT_EQ(ReadFailure(Replace(text, "11 0\n", "19 0\n")),
              "target index 19 outside 0..18 in reaction record 4 (field 18)");
    EXPECT_EQ(ReadFailure(Replace(text, "13 0   ", "-2 0   ")),
              "target index -2 outside 0..18 in reaction record 5 (field 18)");
    EXPECT_EQ(ReadFailure(Replace(text, "0 0 0   10\n", "0 0 0   0\n")),
              "Equilibrium Equaitons must have a positive Keq in reaction record 0 (field 18)");
}

TEST(EquilibriumModel, FailedReadInALinearAssignmentIsFoundByTheNextReader) {
    // The assignment's constant is malformed; its own reader does not look,
    // the type code read after it does.
    const std::string text = Replace(ModelText(), "11 0\n", "11 x\n");
    EXPECT_EQ(ReadFailure(text),
              "Bad File: missing or malformed type code in reaction record 5 (field 18)");
}

} // namespace
