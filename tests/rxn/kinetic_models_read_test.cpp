// The kinetic reaction records as the model reader meets them: every type
// code builds its class, the example models read, and a bad record is
// reported with its place in the file.
#include "model/exceptions.h"
#include "model/simulation.h"
#include "rxn/kin_dual_monod.h"
#include "rxn/kin_dual_monod_inhib.h"
#include "rxn/kin_exchange.h"
#include "rxn/kin_freundlich.h"
#include "rxn/kin_langmuir.h"
#include "rxn/kin_lin.h"
#include "rxn/kin_monod.h"
#include "rxn/mixed_ordered.h"
#include "rxn/ordered.h"
#include "rxn/rule_curve.h"
#include "rxn/rxn_set.h"

#include "kinetic_test_util.h"
#include "support/in_process.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>

using namespace kova_test;

namespace {

// The text of a model file in tests/data.
std::string DataModel(const std::string& name) {
    return ReadTextFile(std::string(KOVA_TEST_DATA_DIR) + "/" + name);
}

// One node of one row, one mobile component: nComp 8. The header asks for
// `nRxn` reactions and one reaction set, then the records follow.
std::string OneNodeModel(int nRxn, const std::string& records, const std::string& set) {
    return "1 1 0 1 " + std::to_string(nRxn) +
           " 1\n"
           "0 1 1 0.1 1e-9\n0\n0\n0 0 0\n"
           "0 0 0.3 1 1 0 0 1\n0\n0\n" +
           records + "\n0\n0\n" + set + "\n";
}

const std::string S8 = "0 0 0 0 0 0 0 -1 ";

TEST(KineticRecords, EveryKineticTypeCodeBuildsItsClass) {
    const std::string records = "2 " + S8 + "1 7 0.5\n" +            // COrdered
                                "3 " + S8 + "0.5 2 7 7\n" +          // CMixedOrdered
                                "4 " + S8 + "0.5 1 -1 7\n" +         // CKinMonod
                                "5 " + S8 + "0.5 1 1 -1 7 7\n" +     // CKinDualMonod
                                "6 " + S8 + "0.5 1 1 0 -1 7 7 7\n" + // CKinDualMonodInhib
                                "7 " + S8 + "0.5 7 2\n" +            // CKinExchange
                                "11 " + S8 + "1 0.5 7 2\n" +         // CKinLin
                                "12 " + S8 + "1 1 0.5 7 2\n" +       // CKinLangmuir
                                "13 " + S8 + "1 1 0.5 7 2\n" +       // CKinFreundlich
                                "14 " + S8 + "1 -1 -1 1 0 1\n";      // CRuleCurve
    CModelReader model;
    model.Read(OneNodeModel(10, records, "0 10 0 1 2 3 4 5 6 7 8 9"));
    const auto& rxns = model.sim.m_rxns;
    ASSERT_EQ(rxns.size(), 10u);
    EXPECT_NE(dynamic_cast<COrdered*>(rxns[0].get()), nullptr);
    EXPECT_NE(dynamic_cast<CMixedOrdered*>(rxns[1].get()), nullptr);
    EXPECT_NE(dynamic_cast<CKinMonod*>(rxns[2].get()), nullptr);
    EXPECT_NE(dynamic_cast<CKinDualMonod*>(rxns[3].get()), nullptr);
    EXPECT_NE(dynamic_cast<CKinDualMonodInhib*>(rxns[4].get()), nullptr);
    EXPECT_NE(dynamic_cast<CKinExchange*>(rxns[5].get()), nullptr);
    EXPECT_NE(dynamic_cast<CKinLin*>(rxns[6].get()), nullptr);
    EXPECT_NE(dynamic_cast<CKinLangmuir*>(rxns[7].get()), nullptr);
    EXPECT_NE(dynamic_cast<CKinFreundlich*>(rxns[8].get()), nullptr);
    EXPECT_NE(dynamic_cast<CRuleCurve*>(rxns[9].get()), nullptr);
    EXPECT_EQ(model.sim.m_rxnSets[0]->m_nKinetic, 10);
}

TEST(KineticRecords, ErrorsNameTheRecord) {
    CModelReader badIndex;
    try {
        badIndex.Read(OneNodeModel(2, "2 " + S8 + "1 7 0.5\n4 " + S8 + "0.5 1 -1 8", "0 0"));
        ADD_FAILURE() << "substrate index 8 was accepted";
    } catch (const BadFileException& e) {
        ADD_FAILURE() << "Bad File instead of an input error: " << e.Detail();
    } catch (const InputException& e) {
        EXPECT_EQ(e.Detail(), "substrate index 8 outside 0..7 in reaction record 1 (field 18)");
    }

    CModelReader badOrder;
    try {
        badOrder.Read(OneNodeModel(1, "3 " + S8 + "0.5 7 7", "0 0"));
        ADD_FAILURE() << "mixed order 7 was accepted";
    } catch (const InputException& e) {
        EXPECT_EQ(e.Detail(),
                  "Mixed Ordered Reaction can not support order of 7 in reaction record 0 "
                  "(field 18)");
    }

    CModelReader kindZero;
    try {
        kindZero.Read(OneNodeModel(1, "14 " + S8 + "0 -1 -1 1 0 1", "1 0  0"));
        ADD_FAILURE() << "a kind-0 curve was accepted as an equilibrium";
    } catch (const InputException& e) {
        EXPECT_NE(e.Detail().find("kind 0"), std::string::npos) << e.Detail();
        EXPECT_NE(e.Detail().find("reaction set record 0"), std::string::npos) << e.Detail();
    }
}

TEST(KineticModels, FirstOrderDecayColumnReads) {
    CModelReader model;
    model.Read(DataModel("column_decay.kvi"));
    CSimulation& sim = model.sim;
    EXPECT_EQ(sim.m_nCols, 10);
    ASSERT_EQ(sim.m_rxns.size(), 1u);
    auto* decay = dynamic_cast<COrdered*>(sim.m_rxns[0].get());
    ASSERT_NE(decay, nullptr);
    EXPECT_EQ(decay->m_order, 1);
    EXPECT_EQ(decay->m_species, 7);
    EXPECT_EQ(decay->m_rate, 0.05);
    EXPECT_EQ(sim.m_rxnSets[0]->m_nKinetic, 1);
    EXPECT_EQ(sim.m_nodeType[9], NODE_HEAD);
}

TEST(KineticModels, DualMonodPlumeReads) {
    CModelReader model;
    model.Read(DataModel("dual_monod_plume.kvi"));
    CSimulation& sim = model.sim;
    EXPECT_EQ(sim.m_nComp, 11);
    ASSERT_EQ(sim.m_rxns.size(), 2u);
    auto* monod = dynamic_cast<CKinDualMonod*>(sim.m_rxns[0].get());
    ASSERT_NE(monod, nullptr);
    EXPECT_EQ(monod->m_biomass, 7);
    EXPECT_EQ(monod->m_donor, 9);
    EXPECT_EQ(monod->m_acceptor, 10);
    auto* sorption = dynamic_cast<CKinLin*>(sim.m_rxns[1].get());
    ASSERT_NE(sorption, nullptr);
    EXPECT_EQ(sorption->m_kd, 0.8);
    EXPECT_EQ(sorption->m_sorbed, 8);
    EXPECT_EQ(sim.m_rxnSets[0]->m_nKinetic, 2);
    EXPECT_EQ(sim.m_stateNew[(1 * 8 + 1) * 11 + 9], 5.0);
}

TEST(KineticModels, TimeDrivenRuleCurveSourceReads) {
    CModelReader model;
    model.Read(DataModel("rule_curve_source.kvi"));
    CSimulation& sim = model.sim;
    ASSERT_EQ(sim.m_rxns.size(), 1u);
    auto* source = dynamic_cast<CRuleCurve*>(sim.m_rxns[0].get());
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->m_driver, -1);
    EXPECT_EQ(source->m_nPoints, 4);
    EXPECT_EQ(sim.m_nodeRxnSet[0], 1);
    EXPECT_EQ(sim.m_nodeRxnSet[1], 0);
    EXPECT_EQ(sim.m_rxnSets[0]->m_nKinetic, 0);
    EXPECT_EQ(sim.m_rxnSets[1]->m_nKinetic, 1);
}

} // namespace
