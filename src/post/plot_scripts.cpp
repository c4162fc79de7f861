#include "post/plot_scripts.h"

#include "post/unit_labels.h"
#include "post/vtk_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Above this many nodes the node markers would hide the field.
constexpr int PLOT_MAX_MARKED_NODES = 400;

const char* const PLOT_TERMINAL = "set terminal pngcairo size 900,700 noenhanced font 'sans,11'\n";

// Above this many points a curve is drawn without markers, which would merge
// into a thick line anyway.
constexpr size_t PLOT_MAX_MARKED_POINTS = 200;

// Budget panels: at most this many side by side, each about this large.
constexpr size_t BUDGET_MAX_PANEL_COLUMNS = 3;
constexpr int BUDGET_PANEL_WIDTH = 640;
constexpr int BUDGET_PANEL_HEIGHT = 480;

// A perceptually even palette running from dark blue through green to yellow.
const char* const PLOT_PALETTE =
    "set palette defined (0 '#440154', 0.25 '#3b528b', 0.5 '#21918c', 0.75 '#5ec962', "
    "1 '#fde725')\n";

std::string ValueText(double value) {
    return std::isfinite(value) ? ExactText(value) : "?";
}

// The mean spacing of coords, or 1 for a single coordinate.
double MeanSpacing(const std::vector<double>& coords) {
    if (coords.size() < 2)
        return 1.0;
    return (coords.back() - coords.front()) / static_cast<double>(coords.size() - 1);
}

// The range of the finite values; flat values get a range around them so
// that an axis or colour bar still reads. Returns false when the values were
// flat or none was finite.
bool ValueRange(const std::vector<double>& field, double& low, double& high) {
    bool any = false;
    for (const double v : field) {
        if (!std::isfinite(v))
            continue;
        low = any ? std::min(low, v) : v;
        high = any ? std::max(high, v) : v;
        any = true;
    }
    if (!any) {
        low = 0.0;
        high = 1.0;
        return false;
    }
    if (!(high > low)) {
        const double pad = std::abs(low) > 0.0 ? 0.5 * std::abs(low) : 0.5;
        low -= pad;
        high += pad;
        return false;
    }
    return true;
}

std::string Range(const char* axis, double low, double high) {
    return std::string("set ") + axis + " [" + ExactText(low) + ":" + ExactText(high) + "]\n";
}

// One line per time: the time and the value of each series.
std::string SeriesRows(const std::vector<double>& times,
                       const std::vector<std::vector<double>>& series) {
    std::string rows;
    for (size_t r = 0; r < times.size(); ++r) {
        rows += ExactText(times[r]);
        for (const std::vector<double>& values : series)
            rows += ' ' + ValueText(values[r]);
        rows += '\n';
    }
    return rows;
}

// Explicit ranges where gnuplot's own would be empty: one time, a flat
// curve, or no finite value at all.
std::string FixedRanges(const std::vector<double>& times,
                        const std::vector<std::vector<double>>& series) {
    std::string ranges;
    double low = 0.0, high = 0.0;
    if (!ValueRange(times, low, high))
        ranges += Range("xrange", low, high);
    std::vector<double> all;
    for (const std::vector<double>& values : series)
        all.insert(all.end(), values.begin(), values.end());
    if (!ValueRange(all, low, high))
        ranges += Range("yrange", low, high);
    return ranges;
}

std::string AxisLabels(const CAxisLabels& axes) {
    return "set xlabel " + GnuplotQuote(axes.m_x) + "\nset ylabel " + GnuplotQuote(axes.m_y) + "\n";
}

std::string CurveStyle(size_t points) {
    return points > PLOT_MAX_MARKED_POINTS
               ? " with lines linewidth 2"
               : " with linespoints pointtype 7 pointsize 0.6 linewidth 2";
}

} // namespace

std::string GnuplotQuote(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    return out + "'";
}

void CellEdges(const std::vector<double>& coords, double single, std::vector<double>& lower,
               std::vector<double>& upper) {
    const size_t n = coords.size();
    lower.resize(n);
    upper.resize(n);
    if (n == 1) {
        lower[0] = coords[0] - 0.5 * single;
        upper[0] = coords[0] + 0.5 * single;
        return;
    }
    for (size_t k = 0; k < n; ++k) {
        lower[k] =
            k == 0 ? coords[0] - 0.5 * (coords[1] - coords[0]) : 0.5 * (coords[k - 1] + coords[k]);
        upper[k] = k + 1 == n ? coords[k] + 0.5 * (coords[k] - coords[k - 1])
                              : 0.5 * (coords[k] + coords[k + 1]);
    }
}

CPlotJob BuildFieldPlot(const CModelGrid& grid, const std::string& title,
                        const std::string& valueLabel, int entry, const std::vector<double>& values,
                        const std::string& outPath) {
    // A lone row or column gets a cell as wide as the other axis's spacing.
    std::vector<double> xLow, xHigh, yLow, yHigh;
    CellEdges(grid.m_colCoord, MeanSpacing(grid.m_rowCoord), xLow, xHigh);
    CellEdges(grid.m_rowCoord, MeanSpacing(grid.m_colCoord), yLow, yHigh);

    // Block 0: nodes with a value (x y x-low x-high y-low y-high value
    // x-draw y-draw); block 1: nodes without one (x y and the four edges).
    std::vector<double> field(static_cast<size_t>(grid.m_nNodes));
    std::string valued, missing;
    for (int i = 0; i < grid.m_nRows; ++i) {
        for (int j = 0; j < grid.m_nCols; ++j) {
            const size_t si = static_cast<size_t>(i), sj = static_cast<size_t>(j);
            const size_t n = si * static_cast<size_t>(grid.m_nCols) + sj;
            const double v =
                values[n * static_cast<size_t>(grid.m_nComp) + static_cast<size_t>(entry)];
            field[n] = v;
            const std::string cell = ExactText(grid.m_colCoord[sj]) + ' ' +
                                     ExactText(grid.m_rowCoord[si]) + ' ' + ExactText(xLow[sj]) +
                                     ' ' + ExactText(xHigh[sj]) + ' ' + ExactText(yLow[si]) + ' ' +
                                     ExactText(yHigh[si]);
            if (!std::isfinite(v)) {
                missing += cell + '\n';
                continue;
            }
            // Each cell is drawn on to the next node along j and i. The next
            // cells, drawn later, cover the overlap; without it the
            // anti-aliased edges of touching cells leave light seams that
            // look like a mesh on fine grids.
            const double xDraw = sj + 1 < xHigh.size() ? grid.m_colCoord[sj + 1] : xHigh[sj];
            const double yDraw = si + 1 < yHigh.size() ? grid.m_rowCoord[si + 1] : yHigh[si];
            valued +=
                cell + ' ' + ExactText(v) + ' ' + ExactText(xDraw) + ' ' + ExactText(yDraw) + '\n';
        }
    }
    CPlotJob job;
    job.m_data = valued + "\n\n" + missing;

    double low = 0.0, high = 0.0;
    ValueRange(field, low, high);
    const double width = xHigh.back() - xLow.front();
    const double height = yHigh.back() - yLow.front();
    std::string& s = job.m_script;
    s += PLOT_TERMINAL;
    s += "set output " + GnuplotQuote(outPath) + "\n";
    s += PLOT_PALETTE;
    s += "set title " + GnuplotQuote(missing.empty() ? title : title + "; grey: no value") + "\n";
    s += "set xlabel " + GnuplotQuote(CoordinateAxisLabel(grid, "x (column coordinate)")) + "\n";
    s += "set ylabel " + GnuplotQuote(CoordinateAxisLabel(grid, "y (row coordinate)")) + "\n";
    // gnuplot puts the colour bar's label over tick labels of one or two
    // characters unless it is moved aside.
    s += "set cblabel " + GnuplotQuote(valueLabel) + " offset char 1,0\n";
    s += Range("xrange", xLow.front(), xHigh.back());
    s += Range("yrange", yLow.front(), yHigh.back());
    s += Range("cbrange", low, high);
    // True proportions unless the grid is so long and thin that it would vanish.
    if (height > 0.0 && width / height <= 2.0 && height / width <= 2.0)
        s += "set size ratio -1\n";
    s += "set tics out\nset format cb '%g'\n";

    const std::string data = PLOT_DATA_VARIABLE;
    std::vector<std::string> layers;
    if (!valued.empty())
        layers.push_back(data + " index 0 using 1:2:3:8:5:9:7 with boxxyerror fillcolor palette "
                                "fillstyle solid 1.0 noborder notitle");
    // Drawn last, so no neighbour's overlap shows through a node without a value.
    if (!missing.empty())
        layers.push_back(data + " index 1 using 1:2:3:4:5:6 with boxxyerror fillcolor rgb "
                                "'#d0d0d0' fillstyle solid 1.0 noborder notitle");
    if (grid.m_nNodes <= PLOT_MAX_MARKED_NODES)
        layers.push_back(data + " using 1:2 with points pointtype 7 pointsize 0.4 lc rgb "
                                "'#909090' notitle");
    s += "plot ";
    for (size_t l = 0; l < layers.size(); ++l)
        s += (l > 0 ? ", \\\n     " : "") + layers[l];
    s += "\n";
    return job;
}

CPlotJob BuildBreakthroughPlot(const std::string& title, const std::vector<std::string>& names,
                               const std::vector<double>& times,
                               const std::vector<std::vector<double>>& series,
                               const CAxisLabels& axes, const std::string& outPath) {
    CPlotJob job;
    job.m_data = SeriesRows(times, series);
    std::string& s = job.m_script;
    s += PLOT_TERMINAL;
    s += "set output " + GnuplotQuote(outPath) + "\n";
    s += "set datafile missing '?'\n";
    s += "set title " + GnuplotQuote(title) + "\n";
    s += AxisLabels(axes);
    s += "set grid\nset key outside right top\nset offsets 0, 0, graph 0.05, graph 0.05\n";
    s += FixedRanges(times, series);
    s += "plot ";
    for (size_t e = 0; e < names.size(); ++e) {
        if (e > 0)
            s += ", \\\n     ";
        s += std::string(e == 0 ? PLOT_DATA_VARIABLE : "''") + " using 1:" + std::to_string(e + 2) +
             CurveStyle(times.size()) + " title " + GnuplotQuote(names[e]);
    }
    s += "\n";
    return job;
}

CPlotJob BuildBudgetPlot(const std::string& title, const std::vector<CBudgetSeries>& series,
                         const CAxisLabels& axes, const std::string& outPath) {
    const size_t panels = std::max<size_t>(series.size(), 1);
    const size_t columns = std::min(panels, BUDGET_MAX_PANEL_COLUMNS);
    const size_t rows = (panels + columns - 1) / columns;
    CPlotJob job;
    std::string& s = job.m_script;
    s += "set terminal pngcairo size " +
         std::to_string(BUDGET_PANEL_WIDTH * static_cast<int>(columns)) + "," +
         std::to_string(BUDGET_PANEL_HEIGHT * static_cast<int>(rows)) +
         " noenhanced font 'sans,10'\n";
    s += "set output " + GnuplotQuote(outPath) + "\n";
    s += "set datafile missing '?'\n";
    s += AxisLabels(axes);
    s += "set grid\nset key below\nset offsets 0, 0, graph 0.05, graph 0.05\n";
    s += "set multiplot layout " + std::to_string(rows) + "," + std::to_string(columns) +
         " title " + GnuplotQuote(title) + "\n";
    for (size_t e = 0; e < series.size(); ++e) {
        const CBudgetSeries& entry = series[e];
        // Block e of the data: time, storage, then each term's sum.
        std::vector<std::vector<double>> columnsOfBlock = {entry.m_storage};
        columnsOfBlock.insert(columnsOfBlock.end(), entry.m_cumulative.begin(),
                              entry.m_cumulative.end());
        job.m_data += (e > 0 ? "\n\n" : "") + SeriesRows(entry.m_times, columnsOfBlock);

        s += "set title " + GnuplotQuote(entry.m_entry) + "\n";
        s += "set autoscale xy\n" + FixedRanges(entry.m_times, columnsOfBlock);
        const std::string block = std::string(PLOT_DATA_VARIABLE) + " index " + std::to_string(e);
        s += "plot " + block + " using 1:2" + CurveStyle(entry.m_times.size()) + " title 'storage'";
        for (size_t t = 0; t < entry.m_terms.size(); ++t)
            s += ", \\\n     " + block + " using 1:" + std::to_string(t + 3) + " with lines" +
                 " linewidth 2 title " + GnuplotQuote(entry.m_terms[t] + " (sum)");
        s += "\n";
    }
    s += "unset multiplot\n";
    return job;
}
