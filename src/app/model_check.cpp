#include "app/model_check.h"

#include "app/frontend.h"
#include "heads/flow_field.h"
#include "heads/heads.h"
#include "io/extension_file.h"
#include "io/model_file.h"
#include "model/exceptions.h"
#include "model/extension.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "run/run_control.h"
#include "rxn/reactions.h"
#include "rxn/rxn.h"
#include "rxn/rxn_description.h"
#include "rxn/rxn_set.h"
#include "sim/model_warnings.h"
#include "sim/run.h"
#include "transport/transport.h"
#include "transport/transport_schemes.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

// Listings of nodes and curve points are cut after this many lines or points.
constexpr int CHECK_MAX_NODE_LINES = 12;
constexpr int CHECK_MAX_POINTS = 12;

// The front end's sink without the run's diagnostic line, which would only
// break into the summary.
class CCheckSink : public CFrontEndSink {
public:
    CCheckSink() : CFrontEndSink(false) {}
    void WriteDiagnostic(const char*) override {}
};

std::string Num(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

std::string Plural(int count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// "mobile_0 (9)": the entry's name and its index in the file.
std::string Entry(const CSimulation& s, int k) {
    return EntryName(s.m_ext, s.m_nComp, s.m_nMobile, k) + " (" + std::to_string(k) + ")";
}

std::string Range(double lo, double hi) {
    return lo == hi ? Num(lo) : Num(lo) + " .. " + Num(hi);
}

// The runs of columns of row i for which has(node) holds: "0, 5..9, 99".
std::string ColumnRuns(const CSimulation& s, int i, const std::function<bool(int)>& has,
                       int& nodes) {
    std::string runs;
    nodes = 0;
    int j = 0;
    while (j < s.m_nCols) {
        if (!has(i * s.m_nCols + j)) {
            ++j;
            continue;
        }
        const int first = j;
        while (j < s.m_nCols && has(i * s.m_nCols + j))
            ++j;
        if (!runs.empty())
            runs += ", ";
        runs += std::to_string(first);
        if (j - 1 > first)
            runs += ".." + std::to_string(j - 1);
        nodes += j - first;
    }
    return runs;
}

// The nodes for which has(node) holds, row by row as runs of columns; rows
// next to each other with the same runs share a line
// ("rows 0..99: columns 0, 99").
std::vector<std::string> NodeGroups(const CSimulation& s, const std::function<bool(int)>& has) {
    std::vector<std::string> lines;
    int i = 0;
    while (i < s.m_nRows) {
        int nodes = 0;
        const std::string runs = ColumnRuns(s, i, has, nodes);
        if (runs.empty()) {
            ++i;
            continue;
        }
        const int first = i;
        int ignored = 0;
        while (i + 1 < s.m_nRows && ColumnRuns(s, i + 1, has, ignored) == runs)
            ++i;
        std::string line = first == i ? "row " + std::to_string(i)
                                      : "rows " + std::to_string(first) + ".." + std::to_string(i);
        line += nodes == 1 ? ": column " : ": columns ";
        lines.push_back(line + runs);
        ++i;
    }
    return lines;
}

void AppendNodeGroups(std::string& out, const std::string& indent,
                      const std::vector<std::string>& lines) {
    const int n = static_cast<int>(lines.size());
    for (int k = 0; k < n && k < CHECK_MAX_NODE_LINES; ++k)
        out += indent + lines[ToSize(k)] + "\n";
    if (n > CHECK_MAX_NODE_LINES)
        out += indent + "... and " + Plural(n - CHECK_MAX_NODE_LINES, "more line", "more lines") +
               "\n";
}

// The non-zero entries of a vector: "-1 mobile_0 (9), 0.5 immobile_0 (7)".
template <class T> std::string NonZero(const CSimulation& s, const std::vector<T>& values) {
    std::string text;
    for (size_t k = 0; k < values.size(); ++k) {
        if (values[k] == 0)
            continue;
        if (!text.empty())
            text += ", ";
        text += Num(static_cast<double>(values[k])) + " " + Entry(s, static_cast<int>(k));
    }
    return text.empty() ? "all 0" : text;
}

std::string FieldText(const CSimulation& s, const CRxnField& field) {
    switch (field.m_type) {
    case ERxnField::Real:
        return Num(field.m_reals[0]);
    case ERxnField::Integer:
        return std::to_string(field.m_ints[0]);
    case ERxnField::Entry:
        return field.m_ints[0] == -1 ? field.m_none : Entry(s, field.m_ints[0]);
    case ERxnField::Entries: {
        std::string text;
        for (int k : field.m_ints)
            text += (text.empty() ? "" : ", ") + Entry(s, k);
        return text.empty() ? "none" : text;
    }
    case ERxnField::Vector:
        return NonZero(s, field.m_reals);
    case ERxnField::IntVector:
        return NonZero(s, field.m_ints);
    case ERxnField::Points: {
        const int n = static_cast<int>(field.m_reals.size() / 2);
        const double* points = field.m_reals.data();
        std::string text;
        for (int k = 0; k < n && k < CHECK_MAX_POINTS; ++k)
            text += (k ? " (" : "(") + Num(points[2 * k]) + ", " + Num(points[2 * k + 1]) + ")";
        if (n > CHECK_MAX_POINTS)
            text += " ... and " + Plural(n - CHECK_MAX_POINTS, "more point", "more points");
        return text;
    }
    }
    return "";
}

CRxnDescription Describe(const CRxn& rxn) {
    CRxnDescription d;
    rxn.Describe(d);
    return d;
}

std::vector<int> NodesPerSet(const CSimulation& s) {
    std::vector<int> count(ToSize(s.m_nRxnSets), 0);
    const unsigned char* nodeRxnSet = s.m_nodeRxnSet.get();
    for (int n = 0; n < s.m_nNodes; ++n)
        count[nodeRxnSet[n]] += 1;
    return count;
}

// "reaction 2 (COrdered, kinetic)"
std::string RxnLabel(const CReactions& rx, const CRxn* rxn) {
    const CRxnDescription d = Describe(*rxn);
    return "reaction " + std::to_string(rx.IndexOf(rxn)) + " (" + d.TypeName() + ", " +
           RxnKindText(d.Kind()) + ")";
}

// The first reaction of a list that cannot serve in it, or null.
const CRxn* Misplaced(const std::vector<CRxn*>& list, ERxnKind kind) {
    for (const CRxn* rxn : list)
        if (Describe(*rxn).Kind() != kind)
            return rxn;
    return nullptr;
}

void AppendGrid(std::string& out, const CSimulation& s) {
    const double* rowCoord = s.m_grid.m_rowCoord.get();
    const double* colCoord = s.m_grid.m_colCoord.get();
    out += "grid:\n";
    out += "  rows: " + std::to_string(s.m_nRows) + " (row coordinates " +
           Range(rowCoord[0], rowCoord[s.m_nRows - 1]) + ")\n";
    out += "  columns: " + std::to_string(s.m_nCols) + " (column coordinates " +
           Range(colCoord[0], colCoord[s.m_nCols - 1]) + ")\n";
    out += "  nodes: " + std::to_string(s.m_nNodes) + "\n";
}

void AppendCounts(std::string& out, const CSimulation& s) {
    out += "counts:\n";
    out += "  immobile: " + std::to_string(s.m_nImmobile) + "\n";
    out += "  mobile: " + std::to_string(s.m_nMobile) + "\n";
    out += "  entries per node: " + std::to_string(s.m_nComp) + " (";
    for (int k = 0; k < s.m_nComp; ++k)
        out += (k ? ", " : "") + std::to_string(k) + " " +
               EntryName(s.m_ext, s.m_nComp, s.m_nMobile, k);
    out += ")\n";
}

void AppendTimes(std::string& out, const CSimulation& s) {
    out += "times:\n";
    out += "  start: " + Num(s.m_settings.m_startTime) + "\n";
    out += "  end: " + Num(s.m_settings.m_endTime) + "\n";
    out += "  output interval: " + Num(s.m_settings.m_outputInterval) + "\n";
    if (s.m_clock.m_globalStep > 0.0)
        out += "  global step: " + Num(s.m_clock.m_globalStep) + "\n";
    else if (s.m_ext.m_time == ETransportTime::IMPLICIT)
        out += "  global step: computed for accuracy, 5 cell passages or a tenth of the run (" +
               Num(s.m_clock.m_globalStep) + " in the file)\n";
    else
        out += "  global step: computed stable step (" + Num(s.m_clock.m_globalStep) +
               " in the file)\n";
    out += "  opzero: " + Num(s.m_settings.m_opzero) + "\n";
}

void AppendInitialState(std::string& out, const CSimulation& s) {
    out += "initial state (smallest .. largest over the nodes):\n";
    const double* state = s.m_stateNew.get();
    for (int k = 0; k < s.m_nComp; ++k) {
        double lo = state[k];
        double hi = state[k];
        for (int n = 1; n < s.m_nNodes; ++n) {
            const double v = state[n * s.m_nComp + k];
            lo = v < lo ? v : lo;
            hi = v > hi ? v : hi;
        }
        out += "  " + Entry(s, k) + ": " + Range(lo, hi) + "\n";
    }
    out += "  (the run computes the fluxes, the heads of free nodes and the sources of fixed-head "
           "nodes)\n";
}

void AppendTransport(std::string& out, const CSimulation& s) {
    if (s.m_nMobile == 0) {
        out += "transport: no mobile components\n";
        return;
    }
    out += "transport (longitudinal dispersivity, transverse dispersivity, diffusion):\n";
    const double* dispersivityL = s.m_dispersivityL.get();
    const double* dispersivityT = s.m_dispersivityT.get();
    const double* diffusion = s.m_diffusion.get();
    for (int m = 0; m < s.m_nMobile; ++m)
        out += "  " + Entry(s, s.m_nComp - s.m_nMobile + m) + ": " + Num(dispersivityL[m]) + ", " +
               Num(dispersivityT[m]) + ", " + Num(diffusion[m]) + "\n";
}

void AppendFixedHeads(std::string& out, const CSimulation& s) {
    const unsigned char* nodeType = s.m_grid.m_nodeType.get();
    const auto fixed = [nodeType](int n) { return nodeType[n] == NODE_HEAD; };
    int count = 0;
    for (int n = 0; n < s.m_nNodes; ++n)
        count += fixed(n) ? 1 : 0;
    out += "fixed heads: " + Plural(count, "node", "nodes") + "\n";
    AppendNodeGroups(out, "  ", NodeGroups(s, fixed));
}

void AppendReaction(std::string& out, const CSimulation& s, const CReactions& rx, int r) {
    const CRxn* const self = rx.m_rxns[ToSize(r)].get();
    const CRxnDescription d = Describe(*self);
    const std::vector<std::string>& names = s.m_ext.m_reactionNames;
    out += "  reaction " + std::to_string(r) + (names.empty() ? "" : " " + names[ToSize(r)]) +
           ": " + d.TypeName() + " (type " + std::to_string(d.Code()) + ", " +
           RxnKindText(d.Kind()) + ")\n";
    for (const CRxnField& field : d.Fields())
        out += "    " + field.m_name + ": " + FieldText(s, field) + "\n";

    std::string sets;
    for (int q = 0; q < s.m_nRxnSets; ++q) {
        const CRxnSet& set = *rx.m_sets[ToSize(q)];
        for (const auto* list : {&set.m_equi, &set.m_kinetic})
            for (const CRxn* rxn : *list)
                if (rxn == self)
                    sets += (sets.empty() ? "set " : ", set ") + std::to_string(q) +
                            (list == &set.m_equi ? " equilibrium" : " kinetic");
    }
    out += "    listed in: " + (sets.empty() ? std::string("no reaction set") : sets) + "\n";
}

std::string ListText(const CReactions& rx, const std::vector<CRxn*>& list) {
    std::string text;
    for (const CRxn* rxn : list)
        text += (text.empty() ? "" : ", ") + std::to_string(rx.IndexOf(rxn)) + " " +
                Describe(*rxn).TypeName();
    return text.empty() ? "none" : text;
}

void AppendRxnSet(std::string& out, const CSimulation& s, const CReactions& rx, int q, int nodes) {
    const CRxnSet& set = *rx.m_sets[ToSize(q)];
    out += "  set " + std::to_string(q) + ": used by " + Plural(nodes, "node", "nodes") + "\n";
    out += "    equilibrium: " + ListText(rx, set.m_equi) + "\n";
    out += "    kinetic: " + ListText(rx, set.m_kinetic) + "\n";
    if (nodes == s.m_nNodes) {
        out += "    nodes: all\n";
    } else if (nodes > 0) {
        out += "    nodes:\n";
        const unsigned char* nodeRxnSet = s.m_nodeRxnSet.get();
        AppendNodeGroups(out, "      ",
                         NodeGroups(s, [nodeRxnSet, q](int n) { return nodeRxnSet[n] == q; }));
    }
    // A set no node uses is never run, so a misplaced reaction in it does no
    // harm; it is still worth a word.
    if (nodes == 0) {
        if (const CRxn* rxn = Misplaced(set.m_equi, ERxnKind::Equilibrium))
            out += "    note: " + RxnLabel(rx, rxn) + " cannot serve as an equilibrium reaction\n";
        if (const CRxn* rxn = Misplaced(set.m_kinetic, ERxnKind::Kinetic))
            out += "    note: " + RxnLabel(rx, rxn) + " cannot serve as a kinetic reaction\n";
    }
}

} // namespace

void CheckRxnListings(const CSimulation& s, const CReactions& rx) {
    const std::vector<int> nodes = NodesPerSet(s);
    for (int q = 0; q < s.m_nRxnSets; ++q) {
        const int used = nodes[ToSize(q)];
        if (used == 0)
            continue;
        const CRxnSet& set = *rx.m_sets[ToSize(q)];
        const std::string where = " of reaction set " + std::to_string(q) + ", which " +
                                  Plural(used, "node uses", "nodes use") +
                                  " (field 21): a run would stop at its first node";
        if (const CRxn* rxn = Misplaced(set.m_equi, ERxnKind::Equilibrium))
            throw InputException(RxnLabel(rx, rxn) + " is listed among the equilibrium reactions" +
                                 where);
        if (const CRxn* rxn = Misplaced(set.m_kinetic, ERxnKind::Kinetic))
            throw InputException(RxnLabel(rx, rxn) + " is listed among the kinetic reactions" +
                                 where);
    }
}

namespace {

std::string Labelled(const std::string& label) {
    return label.empty() ? "(none given)" : label;
}

void AppendWell(std::string& out, const CSimulation& s, const CObservationWell& well) {
    out += "  " + well.m_name + " (line " + std::to_string(well.m_line) + "): node (" +
           std::to_string(well.m_row) + ", " + std::to_string(well.m_col) + ")";
    if (well.m_snapped)
        out += ", the node nearest to x " + Num(well.m_x) + ", y " + Num(well.m_y) +
               " (the node is at x " + Num(s.m_grid.m_colCoord[ToSize(well.m_col)]) + ", y " +
               Num(s.m_grid.m_rowCoord[ToSize(well.m_row)]) + ")";
    out += "\n    entries:";
    for (size_t e = 0; e < well.m_entries.size(); ++e)
        out += (e ? ", " : " ") + Entry(s, well.m_entries[e]);
    out += "\n";
}

// The nodes of a nodes list, "(1, 2), (3, 4)", cut after as many as a
// listing of nodes shows lines.
std::string NodeList(const CInjectTable& table) {
    std::string text;
    const int n = static_cast<int>(table.m_nodes.size());
    for (int p = 0; p < n && p < CHECK_MAX_NODE_LINES; ++p) {
        const CInjectNode& node = table.m_nodes[ToSize(p)];
        text += (p ? ", (" : "(") + std::to_string(node.m_row) + ", " + std::to_string(node.m_col) +
                ")";
    }
    if (n > CHECK_MAX_NODE_LINES)
        text += " and " + std::to_string(n - CHECK_MAX_NODE_LINES) + " more";
    return text;
}

// Where table t injects: its rectangle or its nodes list.
std::string InjectPlace(const CInjectTable& table) {
    if (!table.m_rectangle)
        return "nodes " + NodeList(table);
    const int nodes =
        (table.m_lastRow - table.m_firstRow + 1) * (table.m_lastCol - table.m_firstCol + 1);
    return "rectangle rows " + std::to_string(table.m_firstRow) + ".." +
           std::to_string(table.m_lastRow) + ", columns " + std::to_string(table.m_firstCol) +
           ".." + std::to_string(table.m_lastCol) + ": " + Plural(nodes, "node", "nodes");
}

// A fixed-head node's source is known once the heads are: the check says
// which of table t's nodes wait for them.
void AppendInjectHeldNodes(std::string& out, const CSimulation& s, int t) {
    const CInjection& inject = s.m_ext.m_inject;
    const unsigned char* nodeType = s.m_grid.m_nodeType.get();
    int count = 0;
    for (size_t i = 0; i < inject.m_nodes.size(); ++i)
        count += inject.m_nodeTable[i] == t && nodeType[inject.m_nodes[i]] == NODE_HEAD ? 1 : 0;
    if (count == 0)
        return;
    const auto held = [&](int n) {
        const auto at = std::lower_bound(inject.m_nodes.begin(), inject.m_nodes.end(), n);
        return nodeType[n] == NODE_HEAD && at != inject.m_nodes.end() && *at == n &&
               inject.m_nodeTable[ToSize(static_cast<int>(at - inject.m_nodes.begin()))] == t;
    };
    out += "    " + Plural(count, "fixed-head node", "fixed-head nodes") +
           ": the source is computed from the heads and checked when the run starts\n";
    AppendNodeGroups(out, "      ", NodeGroups(s, held));
}

void AppendInjectTable(std::string& out, const CSimulation& s, int t) {
    const CInjection& inject = s.m_ext.m_inject;
    const CInjectTable& table = inject.m_tables[ToSize(t)];
    const std::string key = InjectTableKey(t);
    out += "  " + (table.m_name.empty() ? key + " (line " : table.m_name + " (" + key + ", line ") +
           std::to_string(table.m_line) + "): " + InjectPlace(table) + "\n";
    out += "    concentration:";
    for (size_t e = 0; e < table.m_named.size(); ++e) {
        const int k = table.m_named[e];
        out += (e ? ", " : " ") + Entry(s, k) + " " +
               Num(table.m_concentration[ToSize(InjectColumn(inject, k))]);
    }
    out += "\n";
    AppendInjectHeldNodes(out, s, t);
}

void AppendInjection(std::string& out, const CSimulation& s) {
    const CInjection& inject = s.m_ext.m_inject;
    if (inject.m_tables.empty())
        return;
    out += "injection: " + Plural(static_cast<int>(inject.m_tables.size()), "table", "tables") +
           ", " + Plural(static_cast<int>(inject.m_nodes.size()), "node", "nodes") + "\n";
    for (size_t t = 0; t < inject.m_tables.size(); ++t)
        AppendInjectTable(out, s, static_cast<int>(t));
}

// When the records are taken and the checkpoints written, where the file
// changes them (and only then: a summary without the keys stays as it was).
void AppendOutput(std::string& out, const CExtension& ext) {
    if (!ext.m_recordTimes.empty()) {
        out += "  records: at the start, at";
        for (size_t i = 0; i < ext.m_recordTimes.size(); ++i)
            out += (i == 0 ? " " : ", ") + Num(ext.m_recordTimes[i]);
        out += " and at the end time, exactly\n";
    } else if (ext.m_exactRecords) {
        out += "  records: at every output interval from the start, exactly, and at the end "
               "time\n";
    }
    if (ext.m_checkpointEvery == 0)
        out += "  checkpoint: none\n";
    else if (ext.m_checkpointEvery > 1)
        out += "  checkpoint: every " + std::to_string(ext.m_checkpointEvery) + " records\n";
}

// What the extension file said, or that there is none.
void AppendExtension(std::string& out, const CSimulation& s, const std::string& base) {
    const CExtension& ext = s.m_ext;
    if (ext.m_file.empty()) {
        out += "extension file: none (" + ExtensionFileName(base) +
               " not found; default names, thickness 1)\n";
        return;
    }
    out += "extension file: " + ext.m_file + "\n";
    out += "  units: length " + Labelled(ext.m_lengthUnit) + ", time " + Labelled(ext.m_timeUnit) +
           ", mass " + Labelled(ext.m_massUnit) + "\n";
    out += "  aquifer thickness: " + Num(ext.m_thickness) + "\n";
    out += "  transport scheme: " + std::string(SchemeName(ext.m_scheme)) +
           (ext.m_schemeGiven ? "" : " (not given)") + "\n";
    if (ext.m_timeGiven)
        out += "  transport time: " + std::string(TimeName(ext.m_time)) + "\n";
    AppendOutput(out, ext);
    for (int k = SLOT_COUNT; k < s.m_nComp; ++k) {
        const std::string units = EntryUnits(ext, s.m_nComp, s.m_nMobile, k);
        out += "  entry " + Entry(s, k) + (units.empty() ? "" : " in " + units) + "\n";
    }
    out += "observation wells: " + std::to_string(ext.m_observe.size()) + "\n";
    for (const CObservationWell& well : ext.m_observe)
        AppendWell(out, s, well);
    AppendInjection(out, s);
}

} // namespace

std::string ModelSummary(const CSimulation& s, const CReactions& rx, const std::string& base) {
    std::string out = "model: " + ModelFileName(base) + "\n";
    AppendGrid(out, s);
    AppendCounts(out, s);
    AppendExtension(out, s, base);
    AppendTimes(out, s);
    AppendInitialState(out, s);
    AppendTransport(out, s);
    AppendFixedHeads(out, s);
    out += "reactions: " + std::to_string(s.m_nRxn) + "\n";
    for (int r = 0; r < s.m_nRxn; ++r)
        AppendReaction(out, s, rx, r);
    out += "reaction sets: " + std::to_string(s.m_nRxnSets) + "\n";
    const std::vector<int> nodes = NodesPerSet(s);
    for (int q = 0; q < s.m_nRxnSets; ++q)
        AppendRxnSet(out, s, rx, q, nodes[ToSize(q)]);
    return out;
}

namespace {

// The default scheme's warning needs the flow field, so the check computes the
// heads as a run would; heads that fail here fail the run, which reports them.
void WarnOfReverseFlow(CSimulation& sim, CMessageSink& sink) {
    if (!sim.Transport().WarnsOfReverseFlow(sim))
        return;
    if (sim.m_nNodes > CHECK_FLOW_MAX_NODES) {
        const std::string line = "the flow directions of " + std::to_string(sim.m_nNodes) +
                                 " nodes are not checked here (the run says whether water "
                                 "flows towards the lower index, which the default "
                                 "transport scheme treats differently: docs/transport.md)";
        sink.WriteWarning(line.c_str());
        return;
    }
    try {
        InitHeads(sim);
        ComputeFlowField(sim);
    } catch (const Exception&) {
        return;
    }
    const std::string line = ReverseFlowWarning(sim);
    if (!line.empty())
        sink.WriteWarning(line.c_str());
}

} // namespace

int RunModelCheck(const std::string& base) {
    CCheckSink sink;
    CRunControl runControl(base.c_str());
    runControl.SetMessageSink(&sink);
    std::string summary;
    {
        CSimulation sim(&runControl);
        CReactions rx;
        RunReportingFailures(&runControl, [&] {
            // Loaded as a run loads it; the failure names the file.
            LoadModel(sim, rx, base);
            const CTransportChoice transport(sim);
            CheckRxnListings(sim, rx);
            summary = ModelSummary(sim, rx, base);
            for (const std::string& line : ModelWarnings(sim, rx))
                sink.WriteWarning(line.c_str());
            WarnOfReverseFlow(sim, sink);
        });
    }
    if (runControl.HasError()) {
        std::cerr << runControl.GetError() << '\n';
        return EXIT_RUN_FAILED;
    }
    // A summary that cannot be written (a full disk, a closed pipe) is a
    // failed check, not a silent success.
    std::cout << summary << std::flush;
    if (!std::cout) {
        std::cerr << "kova-compute: the summary could not be written to standard output\n";
        return EXIT_RUN_FAILED;
    }
    return EXIT_RUN_OK;
}
