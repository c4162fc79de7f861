// The progress a program follows: one JSON object a line, whatever the status
// text holds and wherever the clock stands.
#include "app/progress_json.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

struct CJsonCase {
    const char* name;
    CProgressState state;
    const char* line;
};

const double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();

const CJsonCase CASES[] = {
    {"midway",
     {"Simulating ...", 15.0, 0.0, 60.0, 0.125, 3},
     R"({"status":"Simulating ...","time":15,"start":0,"end":60,"fraction":0.25,"step":0.125,"reduced":3})"},
    {"past_the_end",
     {"Done.", 61.5, 0.0, 60.0, 0.0, 0},
     R"({"status":"Done.","time":61.5,"start":0,"end":60,"fraction":1,"step":0,"reduced":0})"},
    {"times_unknown",
     {"Initalizing....", 0.0, 0.0, 0.0, 0.0, 0},
     R"({"status":"Initalizing....","time":0,"start":0,"end":0,"fraction":0,"step":0,"reduced":0})"},
    {"before_the_start",
     {"Simulating ...", -5.0, 10.0, 20.0, 0.0, 0},
     R"({"status":"Simulating ...","time":-5,"start":10,"end":20,"fraction":0,"step":0,"reduced":0})"},
    {"quotes_and_control",
     {"a \"b\"\\c\n", 0.1, 0.0, 1.0, 0.0, 0},
     R"({"status":"a \"b\"\\c\u000a","time":0.10000000000000001,"start":0,"end":1,"fraction":0.10000000000000001,"step":0,"reduced":0})"},
    {"not_a_number",
     {"Simulating ...", NOT_A_NUMBER, 0.0, 1.0, NOT_A_NUMBER, 0},
     R"({"status":"Simulating ...","time":null,"start":0,"end":1,"fraction":0,"step":null,"reduced":0})"},
};

class ProgressJson : public ::testing::TestWithParam<CJsonCase> {};

TEST_P(ProgressJson, IsOneObjectALine) {
    EXPECT_EQ(ProgressJsonLine(GetParam().state), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(Lines, ProgressJson, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<CJsonCase>& p) {
                             return std::string(p.param.name);
                         });

} // namespace
