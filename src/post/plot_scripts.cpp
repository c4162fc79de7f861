#include "post/plot_scripts.h"

#include "post/vtk_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Above this many nodes the node markers would hide the field.
constexpr int PLOT_MAX_MARKED_NODES = 400;

const char* const PLOT_TERMINAL = "set terminal pngcairo size 900,700 noenhanced font 'sans,11'\n";

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

// The colour range of the finite values; a flat field gets a range around
// its value so that the colour bar still reads.
void ColourRange(const std::vector<double>& field, double& low, double& high) {
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
    } else if (!(high > low)) {
        const double pad = std::abs(low) > 0.0 ? 0.5 * std::abs(low) : 0.5;
        low -= pad;
        high += pad;
    }
}

std::string Range(const char* axis, double low, double high) {
    return std::string("set ") + axis + " [" + ExactText(low) + ":" + ExactText(high) + "]\n";
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
                        const std::string& entryName, int entry, const std::vector<double>& values,
                        const std::string& outPath) {
    // A lone row or column gets a cell as wide as the other axis's spacing.
    std::vector<double> xLow, xHigh, yLow, yHigh;
    CellEdges(grid.m_colCoord, MeanSpacing(grid.m_rowCoord), xLow, xHigh);
    CellEdges(grid.m_rowCoord, MeanSpacing(grid.m_colCoord), yLow, yHigh);

    std::vector<double> field(static_cast<size_t>(grid.m_nNodes));
    CPlotJob job;
    for (int i = 0; i < grid.m_nRows; ++i) {
        for (int j = 0; j < grid.m_nCols; ++j) {
            const size_t n =
                static_cast<size_t>(i) * static_cast<size_t>(grid.m_nCols) + static_cast<size_t>(j);
            const double v =
                values[n * static_cast<size_t>(grid.m_nComp) + static_cast<size_t>(entry)];
            field[n] = v;
            const size_t si = static_cast<size_t>(i), sj = static_cast<size_t>(j);
            job.m_data += ExactText(grid.m_colCoord[sj]) + ' ' + ExactText(grid.m_rowCoord[si]) +
                          ' ' + ExactText(xLow[sj]) + ' ' + ExactText(xHigh[sj]) + ' ' +
                          ExactText(yLow[si]) + ' ' + ExactText(yHigh[si]) + ' ' + ValueText(v) +
                          '\n';
        }
    }
    double low = 0.0, high = 0.0;
    ColourRange(field, low, high);

    const double width = xHigh.back() - xLow.front();
    const double height = yHigh.back() - yLow.front();
    std::string& s = job.m_script;
    s += PLOT_TERMINAL;
    s += "set output " + GnuplotQuote(outPath) + "\n";
    s += "set datafile missing '?'\n";
    s += PLOT_PALETTE;
    s += "set title " + GnuplotQuote(title) + "\n";
    s += "set xlabel 'x (column coordinate)'\nset ylabel 'y (row coordinate)'\n";
    s += "set cblabel " + GnuplotQuote(entryName) + "\n";
    s += Range("xrange", xLow.front(), xHigh.back());
    s += Range("yrange", yLow.front(), yHigh.back());
    s += Range("cbrange", low, high);
    // True proportions unless the grid is so long and thin that it would vanish.
    if (height > 0.0 && width / height <= 2.0 && height / width <= 2.0)
        s += "set size ratio -1\n";
    s += "set tics out\nset format cb '%g'\n";
    s += "plot " + std::string(PLOT_DATA_VARIABLE) +
         " using 1:2:3:4:5:6:7 with boxxyerror fillcolor palette fillstyle solid 1.0 noborder "
         "notitle";
    if (grid.m_nNodes <= PLOT_MAX_MARKED_NODES)
        s += ", \\\n     '' using 1:2 with points pointtype 7 pointsize 0.4 lc rgb '#909090' "
             "notitle";
    s += "\n";
    return job;
}

CPlotJob BuildBreakthroughPlot(const std::string& title, const std::vector<std::string>& names,
                               const std::vector<double>& times,
                               const std::vector<std::vector<double>>& series,
                               const std::string& outPath) {
    CPlotJob job;
    for (size_t r = 0; r < times.size(); ++r) {
        job.m_data += ExactText(times[r]);
        for (const std::vector<double>& values : series)
            job.m_data += ' ' + ValueText(values[r]);
        job.m_data += '\n';
    }
    std::string& s = job.m_script;
    s += PLOT_TERMINAL;
    s += "set output " + GnuplotQuote(outPath) + "\n";
    s += "set datafile missing '?'\n";
    s += "set title " + GnuplotQuote(title) + "\n";
    s += "set xlabel 'time'\n";
    s += "set ylabel " + GnuplotQuote(names.size() == 1 ? names[0] : "value") + "\n";
    s += "set grid\nset key outside right top\nset offsets 0, 0, graph 0.05, graph 0.05\n";
    s += "plot ";
    for (size_t e = 0; e < names.size(); ++e) {
        if (e > 0)
            s += ", \\\n     ";
        s += std::string(e == 0 ? PLOT_DATA_VARIABLE : "''") + " using 1:" + std::to_string(e + 2) +
             " with linespoints pointtype 7 pointsize 0.6 linewidth 2 title " +
             GnuplotQuote(names[e]);
    }
    s += "\n";
    return job;
}
