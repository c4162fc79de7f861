#include "post/plot_command.h"

#include "model/index.h"
#include "post/base_path.h"
#include "post/budget_table.h"
#include "post/entry_names.h"
#include "post/gnuplot_runner.h"
#include "post/interrupt_cleanup.h"
#include "post/observation_table.h"
#include "post/plot_scripts.h"
#include "post/record_selection.h"
#include "post/result_exception.h"
#include "post/run_results.h"
#include "post/unit_labels.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

const char* const PLOT_USAGE =
    "usage: kova-plot BASE --entry NAME [--record N | --time T] -o FILE.png\n"
    "       kova-plot BASE --node I,J [--entry NAME ...] -o FILE.png\n"
    "       kova-plot BASE --budget -o FILE.png\n"
    "       kova-plot BASE --observe --well NAME -o FILE.png\n"
    "  Draws the results of the run BASE (BASE.kvi, BASE.kvt, BASE.kvo) with gnuplot.\n"
    "  --entry NAME   head, source, porosity, k_row, k_col, flux_row, flux_col,\n"
    "                 immobile_0.., mobile_0.., or an entry's index (an entry named\n"
    "                 with digits, such as \"8\", is chosen by its name, not as index 8)\n"
    "  --record N     the record to draw (default: the last; \"last\" works too)\n"
    "  --time T       the record nearest to time T\n"
    "  --node I,J     a breakthrough curve at row I, column J over all records;\n"
    "                 --entry may be repeated (default: every mobile component)\n"
    "  --budget       the mass budget of BASE.budget.csv: a panel per entry with its\n"
    "                 storage and each change term summed over time\n"
    "  --observe      the observation wells of BASE.obs.csv, every step;\n"
    "  --well NAME    the well to draw, one curve per entry\n"
    "  -o FILE.png    the picture to write; it is replaced only once gnuplot has drawn\n"
    "                 the new one (KOVA_GNUPLOT names a program to run instead of gnuplot)\n";

namespace {

std::string Number(double value) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

// "t = 50 d", "t = 50" for a model without a time unit.
std::string TimeText(const CModelGrid& grid, double time) {
    const std::string& unit = grid.m_ext.m_timeUnit;
    return "t = " + Number(time) + (unit.empty() ? "" : " " + unit);
}

int Entry(const CRunResults& run, const std::string& name) {
    const int k = FindEntry(run.m_grid, name);
    if (k < 0)
        throw ResultException("--entry " + name + " names no entry of " + run.m_base + ".kvi (" +
                              KnownEntries(run.m_grid) + ")");
    return k;
}

// The record nearest to time (the earlier one on a tie).
int NearestRecord(const CRunResults& run, const std::string& text, std::ostream& err) {
    char* end = nullptr;
    const double time = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(time))
        throw ResultException("--time " + text + " is not a time");
    const int count = run.m_files.RecordCount();
    int best = 0;
    for (int r = 1; r < count; ++r)
        if (std::abs(run.m_files.RecordTime(r) - time) <
            std::abs(run.m_files.RecordTime(best) - time))
            best = r;
    if (run.m_files.RecordTime(best) != time)
        err << "kova-plot: no record at " << TimeText(run.m_grid, time) << "; drawing record "
            << best << " at " << TimeText(run.m_grid, run.m_files.RecordTime(best)) << '\n';
    return best;
}

std::string RecordTimeText(const CRunResults& run, int record) {
    std::string text = TimeText(run.m_grid, run.m_files.RecordTime(record));
    if (!run.m_files.IsFinished() && !run.m_files.TimesReplayed())
        text += " (estimated)";
    return text;
}

void DrawField(CRunResults& run, const CPlotOptions& options, std::ostream& err) {
    if (options.entries.size() != 1)
        throw ResultException("a field takes exactly one --entry");
    const int entry = Entry(run, options.entries[0]);
    const int count = run.m_files.RecordCount();
    int record = count - 1;
    if (!options.record.empty()) {
        const std::vector<int> chosen = ParseRecordSelection(options.record, count, "--record");
        if (chosen.size() != 1)
            throw ResultException("--record " + options.record + " names more than one record");
        record = chosen.front();
    } else if (!options.time.empty())
        record = NearestRecord(run, options.time, err);

    std::vector<double> values;
    run.m_files.ReadRecord(record, values);
    const std::string& name = run.m_names[static_cast<size_t>(entry)];
    const std::string label = WithUnit(name, EntryUnit(run.m_grid, entry));
    // A reader thinks in model time; the record's index is in the notice of
    // --time and in the command line of --record.
    const std::string title =
        BaseStem(run.m_base) + ": " + name + " at " + RecordTimeText(run, record);
    CPictureFile picture(options.outPath);
    RunGnuplot(BuildFieldPlot(run.m_grid, title, label, entry, values, picture.DrawPath()),
               picture);
}

void ParseNode(const CRunResults& run, const std::string& text, int& i, int& j) {
    const size_t comma = text.find(',');
    const std::string rowText = text.substr(0, comma);
    const std::string colText = comma == std::string::npos ? "" : text.substr(comma + 1);
    for (const std::string* part : {&rowText, &colText})
        if (part->empty() || part->size() > 9 ||
            part->find_first_not_of("0123456789") != std::string::npos)
            throw ResultException("--node " + text + " is not I,J (row, column)");
    i = std::atoi(rowText.c_str());
    j = std::atoi(colText.c_str());
    if (i >= run.m_grid.m_nRows || j >= run.m_grid.m_nCols)
        throw ResultException(
            "--node " + text + " outside the " + std::to_string(run.m_grid.m_nRows) + " x " +
            std::to_string(run.m_grid.m_nCols) + " grid of " + run.m_base + ".kvi");
}

void DrawBreakthrough(CRunResults& run, const CPlotOptions& options) {
    if (!options.record.empty() || !options.time.empty())
        throw ResultException("--node draws every record; --record and --time do not apply");
    int i = 0, j = 0;
    ParseNode(run, options.node, i, j);
    const CModelGrid& grid = run.m_grid;

    std::vector<int> entries;
    for (const std::string& name : options.entries)
        entries.push_back(Entry(run, name));
    if (entries.empty())
        for (int k = grid.m_nComp - grid.m_nMobile; k < grid.m_nComp; ++k)
            entries.push_back(k);
    if (entries.empty())
        entries.push_back(0);

    const int count = run.m_files.RecordCount();
    const size_t node =
        static_cast<size_t>(i) * static_cast<size_t>(grid.m_nCols) + static_cast<size_t>(j);
    std::vector<std::vector<double>> series(entries.size());
    std::vector<double> values;
    for (int r = 0; r < count; ++r) {
        run.m_files.ReadRecord(r, values);
        for (size_t e = 0; e < entries.size(); ++e)
            series[e].push_back(
                values[node * static_cast<size_t>(grid.m_nComp) + static_cast<size_t>(entries[e])]);
    }
    std::vector<std::string> names, units;
    for (const int k : entries) {
        names.push_back(run.m_names[static_cast<size_t>(k)]);
        units.push_back(EntryUnit(grid, k));
    }
    std::string title = BaseStem(run.m_base) + ": node (" + std::to_string(i) + ", " +
                        std::to_string(j) +
                        ") at x = " + Number(grid.m_colCoord[static_cast<size_t>(j)]) +
                        ", y = " + Number(grid.m_rowCoord[static_cast<size_t>(i)]);
    if (!run.m_files.IsFinished() && !run.m_files.TimesReplayed())
        title += " (times estimated)";
    CPictureFile picture(options.outPath);
    const CAxisLabels axes = {TimeAxisLabel(grid), ValueAxisLabel(names, units)};
    RunGnuplot(BuildBreakthroughPlot(title, names, run.m_files.RecordTimes(), series, axes,
                                     picture.DrawPath()),
               picture);
}

void DrawBudget(const CPlotOptions& options, std::ostream& err) {
    const CModelGrid grid = LoadModelGrid(options.base);
    const CBudgetTable table = ReadBudgetTable(BudgetPath(options.base));
    if (!table.m_notice.empty())
        err << "kova-plot: " << table.m_notice << '\n';
    const std::vector<CBudgetSeries> series = BuildBudgetSeries(table);
    if (series.empty())
        throw ResultException(table.m_path + ": no entry but water, so no mass to draw");
    const std::string title = BaseStem(options.base) +
                              ": mass budget, storage and each change summed from " +
                              TimeText(grid, series.front().m_times.front());
    CPictureFile picture(options.outPath);
    const CAxisLabels axes = {TimeAxisLabel(grid), MassAxisLabel(grid)};
    RunGnuplot(BuildBudgetPlot(title, series, axes, picture.DrawPath()), picture);
}

// " at node (i, j), x = .., y = .." when the model names the well.
std::string WellPlace(const CModelGrid& grid, const std::string& well) {
    for (const CObservationWell& w : grid.m_ext.m_observe)
        if (w.m_name == well && w.m_row < grid.m_nRows && w.m_col < grid.m_nCols)
            return " at node (" + std::to_string(w.m_row) + ", " + std::to_string(w.m_col) +
                   "), x = " + Number(grid.m_colCoord[ToSize(w.m_col)]) +
                   ", y = " + Number(grid.m_rowCoord[ToSize(w.m_row)]);
    return "";
}

void DrawWell(const CPlotOptions& options, std::ostream& err) {
    const CModelGrid grid = LoadModelGrid(options.base);
    const CObservationTable table = ReadObservationTable(ObservationPath(options.base));
    if (!table.m_notice.empty())
        err << "kova-plot: " << table.m_notice << '\n';
    std::vector<std::string> names, units;
    std::vector<std::vector<double>> series;
    for (const size_t c : WellColumns(table, options.well)) {
        names.push_back(table.m_entries[c]);
        units.push_back(EntryUnitByName(grid, table.m_entries[c]));
        series.push_back(table.m_values[c]);
    }
    const std::string title =
        BaseStem(options.base) + ": well " + options.well + WellPlace(grid, options.well);
    CPictureFile picture(options.outPath);
    const CAxisLabels axes = {TimeAxisLabel(grid), ValueAxisLabel(names, units)};
    RunGnuplot(BuildBreakthroughPlot(title, names, table.m_times, series, axes, picture.DrawPath()),
               picture);
}

// What else was given with --budget or --observe, which draw from their own
// tables; empty when nothing.
std::string ConflictOfTable(const CPlotOptions& options) {
    const char* mode = options.budget ? "--budget" : "--observe";
    if (options.budget && options.observe)
        return "give --budget or --observe, not both";
    if (!options.entries.empty() || !options.node.empty() || !options.record.empty() ||
        !options.time.empty())
        return std::string(mode) + " draws its own table; --entry, --node, --record and --time "
                                   "do not apply";
    if (options.budget && !options.well.empty())
        return "--well goes with --observe";
    return "";
}

} // namespace

CPlotOptions ParsePlotOptions(const std::vector<std::string>& args) {
    CPlotOptions options;
    CPostToolArgs line(args, options);
    while (line.Next()) {
        const std::string& arg = line.Arg();
        std::string value;
        if (arg == "--entry") {
            if (line.TakeValue(value))
                options.entries.push_back(value);
        } else if (arg == "--record") {
            line.TakeValue(options.record);
        } else if (arg == "--time") {
            line.TakeValue(options.time);
        } else if (arg == "--node") {
            line.TakeValue(options.node);
        } else if (arg == "--budget") {
            options.budget = true;
        } else if (arg == "--observe") {
            options.observe = true;
        } else if (arg == "--well") {
            line.TakeValue(options.well);
        } else if (arg == "-o" || arg == "--output") {
            line.TakeValue(options.outPath);
        } else {
            line.TakeShared();
        }
    }
    if (!line.Complete())
        return options;
    if (options.outPath.empty())
        options.error = "no -o FILE.png given";
    else if (options.budget || options.observe)
        options.error = ConflictOfTable(options);
    else if (!options.well.empty())
        options.error = "--well goes with --observe";
    else if (options.node.empty() && options.entries.empty())
        options.error = "give --entry NAME for a field or --node I,J for a breakthrough curve "
                        "(or --budget, or --observe --well NAME)";
    else if (!options.record.empty() && !options.time.empty())
        options.error = "give --record or --time, not both";
    return options;
}

int RunPlot(const CPlotOptions& options, std::ostream& out, std::ostream& err) {
    // Stopped while it draws, the tool takes gnuplot and its temporary files
    // with it; the picture stays as it was.
    const CInterruptCleanup cleanup("kova-plot");
    if (options.budget || options.observe)
        return RunReported("kova-plot", err, [&] {
            if (options.budget)
                DrawBudget(options, err);
            else
                DrawWell(options, err);
            out << options.outPath << '\n';
        });
    return RunOnResults("kova-plot", options.base, err, [&](CRunResults& run) {
        if (run.m_files.RecordCount() == 0)
            throw ResultException(run.m_files.DataPath() + ": no records to draw");
        if (options.node.empty())
            DrawField(run, options, err);
        else
            DrawBreakthrough(run, options);
        out << options.outPath << '\n';
    });
}
