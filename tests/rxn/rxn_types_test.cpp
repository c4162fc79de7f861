// The table of reaction types against the classes it names: a record of each
// type, read through the table, must describe itself with the row's class
// name, kind and fields (labels, order, kinds), so that a row and its class
// cannot drift apart.
#include "io/rxn_factory.h"
#include "rxn/rxn.h"
#include "rxn/rxn_description.h"
#include "rxn/rxn_types.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kova_test;

namespace {

struct CDescribedField {
    ERxnField m_type;
    std::string m_label;
    bool operator==(const CDescribedField& o) const {
        return m_type == o.m_type && m_label == o.m_label;
    }
};

std::ostream& operator<<(std::ostream& out, const CDescribedField& f) {
    return out << f.m_label << " (" << static_cast<int>(f.m_type) << ")";
}

// What Describe reports for one record field. A count that leads a list is
// a field of its own there, and a rule curve's target comes between its
// count and its points.
void AppendDescribed(std::vector<CDescribedField>& out, const CRxnRecordField& f, bool withTarget) {
    switch (f.m_kind) {
    case ERxnRecordField::Vector:
        out.push_back({ERxnField::Vector, f.m_label});
        return;
    case ERxnRecordField::IntVector:
        out.push_back({ERxnField::IntVector, f.m_label});
        return;
    case ERxnRecordField::Real:
        out.push_back({ERxnField::Real, f.m_label});
        return;
    case ERxnRecordField::Order:
    case ERxnRecordField::Integer:
        out.push_back({ERxnField::Integer, f.m_label});
        return;
    case ERxnRecordField::Entry:
    case ERxnRecordField::EntryOrNone:
        out.push_back({ERxnField::Entry, f.m_label});
        return;
    case ERxnRecordField::Factors:
        out.push_back({ERxnField::Integer, "order"});
        out.push_back({ERxnField::Entries, f.m_label});
        return;
    case ERxnRecordField::Curve:
        out.push_back({ERxnField::Integer, "points"});
        if (withTarget)
            out.push_back({ERxnField::Entry, "target"});
        out.push_back({ERxnField::Points, f.m_label});
        return;
    }
}

// A record of every type, three entries a node. Every field the row says may
// be -1 is -1 here; kind is what the record makes of an "either" row.
struct CSample {
    int code;
    const char* record;
    ERxnKind kind;
};

void PrintTo(const CSample& sample, std::ostream* out) {
    *out << "type " << sample.code << " record \"" << sample.record << "\"";
}

// clang-format off
const CSample SAMPLES[] = {
    {0, "-1 -1 1  -1 -1 1  10 ", ERxnKind::Equilibrium},
    {1, "0 0.5 0  2 1.5 ", ERxnKind::Equilibrium},
    {2, "-1 0 0  1 0 0.25 ", ERxnKind::Kinetic},
    {3, "-1 0 0  0.5 2 0 1 ", ERxnKind::Kinetic},
    {4, "-1 0 0  2 0.5 -1 0 ", ERxnKind::Kinetic},
    {5, "-1 -2 0.5  1 0.25 0.75 -1 0 1 ", ERxnKind::Kinetic},
    {6, "-1 -2 0  1 0.25 0.75 4 -1 0 1 2 ", ERxnKind::Kinetic},
    {7, "-1 1 0  0.5 0 1 ", ERxnKind::Kinetic},
    {8, "-1 1 0  2 0 1 ", ERxnKind::Equilibrium},
    {9, "-1 1 0  0.75 0.5 0 1 ", ERxnKind::Equilibrium},
    {10, "-1 1 0  0.75 0.5 0 1 ", ERxnKind::Equilibrium},
    {11, "-1 1 0  0.75 0.125 0 1 ", ERxnKind::Kinetic},
    {12, "-1 1 0  3 0.5 0.125 0 1 ", ERxnKind::Kinetic},
    {13, "-1 1 0  3 0.5 0.125 0 1 ", ERxnKind::Kinetic},
    {14, "1 0 0  1 -1 -1 2  0 0 10 1 ", ERxnKind::Kinetic},
    {14, "0 0 0  -1 -1 -1 1  2  5 0.5 ", ERxnKind::Equilibrium},
    {15, "-1 1 0  1 0.5 0.25 0 0 ", ERxnKind::Equilibrium},
};
// clang-format on

class RxnTypeRows : public ::testing::TestWithParam<CSample> {};

TEST_P(RxnTypeRows, DescribeReportsTheRowsClassKindAndFields) {
    const CSample& sample = GetParam();
    const CRxnType* row = FindRxnType(sample.code);
    ASSERT_NE(row, nullptr);
    auto in = ModelStream(sample.record);
    const std::unique_ptr<CRxn> rxn = CreateRxn(sample.code, *in, 3, nullptr);
    ASSERT_NE(rxn, nullptr);
    CRxnDescription d;
    rxn->Describe(d);

    EXPECT_EQ(d.Code(), row->m_code);
    EXPECT_EQ(d.TypeName(), row->m_className);
    EXPECT_EQ(d.Kind(), sample.kind);
    if (row->m_kind != ERxnKind::Either) {
        EXPECT_EQ(row->m_kind, sample.kind);
    }
    std::vector<CDescribedField> expected;
    for (const CRxnRecordField& f : row->m_fields)
        AppendDescribed(expected, f, sample.kind == ERxnKind::Equilibrium);
    std::vector<CDescribedField> described;
    for (const CRxnField& f : d.Fields())
        described.push_back({f.m_type, f.m_name});
    EXPECT_EQ(described, expected);

    // The record reads -1 where the row allows none: the engine accepts it.
    for (const CRxnRecordField& f : row->m_fields) {
        if (f.m_kind != ERxnRecordField::EntryOrNone)
            continue;
        const CRxnField* field = d.Find(f.m_label);
        ASSERT_NE(field, nullptr) << f.m_label;
        EXPECT_EQ(field->m_ints, std::vector<int>{-1}) << f.m_label;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryType, RxnTypeRows, ::testing::ValuesIn(SAMPLES),
                         [](const ::testing::TestParamInfo<CSample>& p) {
                             return "code" + std::to_string(p.param.code) + "_" +
                                    std::to_string(p.index);
                         });

// A row without a sample record above would go untested; codes run 0, 1, ...
// as the model file numbers them, and a code past the end builds nothing.
TEST(RxnTypes, CodesRunFromZeroAndEveryRowHasASample) {
    const std::vector<CRxnType>& types = RxnTypes();
    for (size_t k = 0; k < types.size(); ++k) {
        const CRxnType& row = types[k];
        EXPECT_EQ(row.m_code, static_cast<int>(k));
        EXPECT_STREQ(RxnTypeName(row.m_code), row.m_className);
        bool sampled = false;
        for (const CSample& sample : SAMPLES)
            sampled = sampled || sample.code == row.m_code;
        EXPECT_TRUE(sampled) << row.m_className << " has no sample record";
    }
    for (int code : {-1, static_cast<int>(types.size())}) {
        auto in = ModelStream("0 0 0  1 0 1 ");
        EXPECT_EQ(CreateRxn(code, *in, 3, nullptr), nullptr) << code;
        EXPECT_EQ(RxnTypeName(code), nullptr) << code;
        EXPECT_EQ(FindRxnType(code), nullptr) << code;
    }
}

} // namespace
