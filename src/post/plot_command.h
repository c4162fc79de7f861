// kova-plot BASE --entry NAME [--record N | --time T] -o FILE.png
//   a field: one entry of every node at one record (default: the last).
// kova-plot BASE --node I,J [--entry NAME ...] -o FILE.png
//   a breakthrough curve: entries of one node over all records (default: the
//   mobile components, or the head when there are none).
// kova-plot BASE --budget -o FILE.png
//   the mass budget of BASE.budget.csv: per entry its storage and each change
//   term summed over time.
// kova-plot BASE --observe --well NAME -o FILE.png
//   the curves of one observation well of BASE.obs.csv, every step.
#pragma once

#include "post/post_tool.h"

#include <ostream>
#include <string>
#include <vector>

struct CPlotOptions : CPostToolOptions {
    std::vector<std::string> entries;
    std::string record; // empty: not given
    std::string time;   // empty: not given
    std::string node;   // "I,J"; empty: draw a field
    bool budget = false;
    bool observe = false;
    std::string well;
    std::string outPath;
};

CPlotOptions ParsePlotOptions(const std::vector<std::string>& args);

// Draws the picture; the file written is named on out, notes and errors go to
// err. Returns POST_EXIT_OK or POST_EXIT_FAILED. SIGINT, SIGTERM or SIGHUP
// meanwhile ends gnuplot, removes the temporary files and exits with 130,
// leaving the picture as it was.
int RunPlot(const CPlotOptions& options, std::ostream& out, std::ostream& err);

extern const char* const PLOT_USAGE;
