// What each reaction tells about itself for the model summary: its type, the
// list it can serve in, and its record's fields by name in record order.
#include "io/rxn_factory.h"
#include "rxn/rxn.h"
#include "rxn/rxn_description.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace kova_test;

namespace {

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// "name=value;..." in field order; lists joined by commas, an entry of -1 as
// its "none" text.
std::string Render(const CRxnDescription& d) {
    std::string text;
    for (const CRxnField& f : d.Fields()) {
        text += f.m_name + "=";
        std::string values;
        if (f.m_type == ERxnField::Entry && f.m_ints[0] == -1)
            values = f.m_none;
        for (int v : f.m_ints)
            if (!(f.m_type == ERxnField::Entry && v == -1))
                values += (values.empty() ? "" : ",") + std::to_string(v);
        for (double v : f.m_reals)
            values += (values.empty() ? "" : ",") + Number(v);
        text += values + ";";
    }
    return text;
}

CRxnDescription DescribeRecord(int code, const std::string& record, int nComp = 3) {
    auto in = ModelStream(record + " ");
    std::unique_ptr<CRxn> rxn = CreateRxn(code, *in, nComp, nullptr);
    CRxnDescription d;
    rxn->Describe(d);
    return d;
}

TEST(RxnDescription, EveryTypeNamesItsFieldsInRecordOrder) {
    struct Case {
        int code;
        const char* record; // three entries per node
        ERxnKind kind;
        const char* fields;
    };
    const Case cases[] = {
        {0, "-1 -1 1  -1 -1 1  10", ERxnKind::Equilibrium,
         "coefficients=-1,-1,1;exponents=-1,-1,1;Keq=10;"},
        {1, "0 0.5 0  2 1.5", ERxnKind::Equilibrium, "weights=0,0.5,0;target=2;b=1.5;"},
        {2, "-1 0 0  1 0 0.25", ERxnKind::Kinetic, "coefficients=-1,0,0;order=1;entry=0;k=0.25;"},
        {3, "-1 0 0  0.5 2 0 1", ERxnKind::Kinetic,
         "coefficients=-1,0,0;k=0.5;order=2;entries=0,1;"},
        {4, "-1 0 0  2 0.5 -1 0", ERxnKind::Kinetic,
         "coefficients=-1,0,0;k=2;K=0.5;biomass=none;substrate=0;"},
        {5, "-1 -2 0.5  1 0.25 0.75 2 0 1", ERxnKind::Kinetic,
         "coefficients=-1,-2,0.5;k=1;Kd=0.25;Ka=0.75;biomass=2;donor=0;acceptor=1;"},
        {6, "-1 -2 0  1 0.25 0.75 4 -1 0 1 2", ERxnKind::Kinetic,
         "coefficients=-1,-2,0;k=1;Kd=0.25;Ka=0.75;Ki=4;biomass=none;donor=0;acceptor=1;"
         "inhibitor=2;"},
        {7, "-1 1 0  0.5 0 1", ERxnKind::Kinetic, "coefficients=-1,1,0;k=0.5;x=0;y=1;"},
        {8, "-1 1 0  2 0 1", ERxnKind::Equilibrium, "coefficients=-1,1,0;Kd=2;solute=0;sorbed=1;"},
        {9, "-1 1 0  0.75 0.5 0 1", ERxnKind::Equilibrium,
         "coefficients=-1,1,0;A=0.75;B=0.5;solute=0;sorbed=1;"},
        {10, "-1 1 0  0.75 0.5 0 1", ERxnKind::Equilibrium,
         "coefficients=-1,1,0;A=0.75;B=0.5;solute=0;sorbed=1;"},
        {11, "-1 1 0  0.75 0.125 0 1", ERxnKind::Kinetic,
         "coefficients=-1,1,0;Kd=0.75;k=0.125;solute=0;sorbed=1;"},
        {12, "-1 1 0  3 0.5 0.125 0 1", ERxnKind::Kinetic,
         "coefficients=-1,1,0;Q=3;K=0.5;k=0.125;solute=0;sorbed=1;"},
        {13, "-1 1 0  3 0.5 0.125 0 1", ERxnKind::Kinetic,
         "coefficients=-1,1,0;K=3;n=0.5;k=0.125;solute=0;sorbed=1;"},
        {14, "1 0 0  1 -1 2 2  0 0 10 1", ERxnKind::Kinetic,
         "coefficients=1,0,0;kind=1;driver=time;multiplier=2;points=2;curve=0,0,10,1;"},
        {15, "-1 1 0  1 0.5 0.25 0 0", ERxnKind::Equilibrium,
         "coefficients=-1,1,0;target=1;b=0.5;weights=0.25,0,0;"},
    };
    for (const Case& c : cases) {
        const CRxnDescription d = DescribeRecord(c.code, c.record);
        EXPECT_EQ(d.Code(), c.code);
        EXPECT_EQ(d.TypeName(), RxnTypeName(c.code)) << "type " << c.code;
        EXPECT_EQ(d.Kind(), c.kind) << "type " << c.code;
        EXPECT_EQ(Render(d), c.fields) << "type " << c.code << " record " << c.record;
    }
}

// The sign of the kind field decides the list; only an equilibrium curve has
// a target, read before the points.
TEST(RxnDescription, RuleCurveKindDecidesItsListAndTarget) {
    const CRxnDescription equi = DescribeRecord(14, "0 0 0  -1 1 -1 1  2  5 0.5");
    EXPECT_EQ(equi.Kind(), ERxnKind::Equilibrium);
    EXPECT_EQ(Render(equi),
              "coefficients=0,0,0;kind=-1;driver=1;multiplier=none;points=1;target=2;curve=5,0.5;");

    // Kind 0 reads no target, so it can only serve among the kinetic reactions.
    const CRxnDescription both = DescribeRecord(14, "0 0 1  0 -1 -1 1  5 0.5");
    EXPECT_EQ(both.Kind(), ERxnKind::Kinetic);
    EXPECT_EQ(both.Find("target"), nullptr);
    ASSERT_NE(both.Find("driver"), nullptr);
    EXPECT_EQ(both.Find("driver")->m_none, "time");
}

// A mixed ordered reaction of order 0 lists no entries; the exponents of a
// mass action keep their zeros (the summary leaves them out, not the record).
TEST(RxnDescription, ListsKeepTheirLengths) {
    const CRxnDescription zero = DescribeRecord(3, "1 0 0  0.5 0");
    ASSERT_NE(zero.Find("entries"), nullptr);
    EXPECT_TRUE(zero.Find("entries")->m_ints.empty());

    const CRxnDescription mass = DescribeRecord(0, "0 0 0 -1 1  0 0 0 -1 1  2", 5);
    ASSERT_NE(mass.Find("exponents"), nullptr);
    EXPECT_EQ(mass.Find("exponents")->m_ints, (std::vector<int>{0, 0, 0, -1, 1}));
    EXPECT_EQ(mass.Find("Keq")->m_reals, (std::vector<double>{2.0}));
}

TEST(RxnDescription, KindTexts) {
    EXPECT_STREQ(RxnKindText(ERxnKind::Equilibrium), "equilibrium");
    EXPECT_STREQ(RxnKindText(ERxnKind::Kinetic), "kinetic");
    EXPECT_STREQ(RxnKindText(ERxnKind::None), "none");
}

} // namespace
