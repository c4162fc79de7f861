// Physical values no aquifer has are refused where they are read, naming the
// value and where it is: a porosity of 0 or below, a negative conductivity,
// dispersivity or diffusion, an opzero of 0 or below. Values at the edge of
// the valid range (no conductivity at all, no dispersion) still read.
#include "io/reader.h"
#include "model/exceptions.h"
#include "model/simulation.h"
#include "run/run_control.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

// A two-node model, one mobile component, one line per field group.
const std::vector<std::string> TWO_NODES = {
    "1 2 0 1 0 1 0 10 1 0.1 1e-6", // counts, times, opzero
    "0",
    "0 10",                 // coordinates
    "1 0.1 0",              // dispersivities and diffusion
    "0 0 0.3 1 1 0 0 0",    // default state: head source porosity k_row k_col ...
    "2  0 0 0 10  0 0 7 1", // overrides
    "2  0 0  0 1",
    "0",
    "0",
    "0",
    "0 0"};

std::string WithLine(size_t line, const std::string& text) {
    std::vector<std::string> lines = TWO_NODES;
    lines[line] = text;
    std::string out;
    for (const std::string& l : lines)
        out += l + "\n";
    return out;
}

// The detail of the InputException the text gives; empty when it reads.
std::string ReadFailure(const std::string& text) {
    CRunControl control("m");
    CSimulation sim(&control);
    std::istringstream in(text);
    try {
        ReadInput(sim, in);
    } catch (const InputException& e) {
        return e.Detail();
    }
    return "";
}

TEST(PhysicalInput, ImpossibleValuesAreInputErrorsNamingValueAndPlace) {
    const struct {
        size_t line;
        const char* text;
        const char* detail;
    } cases[] = {
        {4, "0 0 0 1 1 0 0 0", "porosity 0 of node (0, 0) not above 0 (fields 15-16, entry 2)"},
        {4, "0 0 -0.3 1 1 0 0 0", "porosity -0.29999999999999999 of node (0, 0) not above 0"},
        {5, "2  0 0 0 10  0 1 2 0", "porosity 0 of node (0, 1) not above 0"},
        {5, "2  0 0 0 10  0 1 3 -1e-3",
         "conductivity k_row -0.001 of node (0, 1) below 0 (fields 15-16, entry 3)"},
        {4, "0 0 0.3 1 -2 0 0 0", "conductivity k_col -2 of node (0, 0) below 0"},
        {3, "-1 0.1 0", "longitudinal dispersivity -1 of mobile component 0 below 0 (field 14)"},
        {3, "1 -0.1 0", "transverse dispersivity -0.10000000000000001 of mobile component 0"},
        {3, "1 0.1 -1e-9", "diffusion coefficient -1.0000000000000001e-09 of mobile component 0"},
        {0, "1 2 0 1 0 1 0 10 1 0.1 0", "opzero 0 not above 0 (field 11)"},
        {0, "1 2 0 1 0 1 0 10 1 0.1 -1e-6", "opzero -9.9999999999999995e-07 not above 0"},
    };
    for (const auto& c : cases) {
        const std::string detail = ReadFailure(WithLine(c.line, c.text));
        EXPECT_NE(detail.find(c.detail), std::string::npos)
            << "line " << c.line << " \"" << c.text << "\" gave: " << detail;
    }
}

TEST(PhysicalInput, EdgesOfTheValidRangeRead) {
    for (const auto& [line, text] : std::vector<std::pair<size_t, std::string>>{
             {4, "0 0 1e-300 0 0 0 0 0"}, // a batch reactor: no conductivity, tiny porosity
             {3, "0 0 0"},                // no dispersion at all
         })
        EXPECT_EQ(ReadFailure(WithLine(line, text)), "") << text;
}

} // namespace
