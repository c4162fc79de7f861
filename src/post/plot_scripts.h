// The gnuplot scripts and data behind kova-plot's pictures.
//
// A field is drawn as one filled cell per node, reaching half-way to each
// neighbour, on the real coordinates (x: column coordinate, y: row
// coordinate), coloured by the entry's value with a colour bar; a node whose
// value is not finite is drawn grey and marked "no value". A breakthrough
// curve draws entries of one node against the record times, leaving out
// values that are not finite; the wells' curves of every step are drawn the
// same way. A budget draws one panel per entry: its storage and each change
// term summed from the start, over time.
#pragma once

#include "post/budget_table.h"
#include "post/model_grid.h"

#include <string>
#include <vector>

struct CPlotJob {
    std::string m_script; // reads its data from the file named by PLOT_DATA_VARIABLE
    std::string m_data;
};

// The gnuplot variable that holds the data file's path; whoever runs the job
// defines it before the script.
constexpr const char* PLOT_DATA_VARIABLE = "KOVA_DATA";

struct CAxisLabels {
    std::string m_x;
    std::string m_y;
};

// values: one record, m_nNodes x m_nComp doubles. The axes carry the grid's
// length unit; valueLabel names the colour bar.
CPlotJob BuildFieldPlot(const CModelGrid& grid, const std::string& title,
                        const std::string& valueLabel, int entry, const std::vector<double>& values,
                        const std::string& outPath);

// series[e][r]: curve e at times[r].
CPlotJob BuildBreakthroughPlot(const std::string& title, const std::vector<std::string>& names,
                               const std::vector<double>& times,
                               const std::vector<std::vector<double>>& series,
                               const CAxisLabels& axes, const std::string& outPath);

// One panel per series, laid out in a grid of panels.
CPlotJob BuildBudgetPlot(const std::string& title, const std::vector<CBudgetSeries>& series,
                         const CAxisLabels& axes, const std::string& outPath);

// A gnuplot string literal: single-quoted, a quote written twice.
std::string GnuplotQuote(const std::string& text);

// Lower and upper edges of the cells around nodes at coords; a single node
// gets a cell of width `single`.
void CellEdges(const std::vector<double>& coords, double single, std::vector<double>& lower,
               std::vector<double>& upper);
