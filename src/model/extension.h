// What the optional extension file BASE.kvx adds to a model: unit labels, the
// aquifer thickness, names of the immobile and mobile entries, observation
// wells, the make-up of injected water, the reactions' names. A model
// without the file has the defaults below, and its run is exactly the run without this file ever
// having existed.
#pragma once

#include <string>
#include <vector>

// The name and unit label of one immobile or mobile entry.
struct CEntryLabel {
    std::string m_name;
    std::string m_units; // empty: none given
};

// A node whose state is written after every global step.
struct CObservationWell {
    std::string m_name;
    int m_row = 0;
    int m_col = 0;
    std::vector<int> m_entries; // state indices, in the order given
    bool m_snapped = false;     // given as x, y and snapped to the nearest node
    double m_x = 0.0;           // the coordinates given (when snapped)
    double m_y = 0.0;
    int m_line = 0; // line of its table in the extension file
};

// A node of an [[inject]] table's nodes list and the line it is given on.
struct CInjectNode {
    int m_row = 0;
    int m_col = 0;
    int m_line = 0;
};

// One [[inject]] table: the concentrations of the water that its nodes
// receive where their source brings water in.
struct CInjectTable {
    std::string m_name;  // empty: none given
    int m_line = 0;      // line of the table
    int m_placeLine = 0; // line of its nodes or rectangle key
    bool m_rectangle = false;
    int m_firstRow = 0; // the rectangle, inclusive
    int m_firstCol = 0;
    int m_lastRow = 0;
    int m_lastCol = 0;
    std::vector<CInjectNode> m_nodes; // the nodes list, in the order given
    // One value per entry of CInjection::m_entries (0 where the table names
    // none), and the entries it names, in the order given.
    std::vector<double> m_concentration;
    std::vector<int> m_named;
};

// Every [[inject]] table, and the injected nodes as the transport step takes
// them: each node once, in ascending order, with the table it belongs to.
// Only injected nodes and entries take room: a model of 10^7 nodes with one
// injection well keeps one node here.
struct CInjection {
    std::vector<CInjectTable> m_tables;
    std::vector<int> m_entries;   // state indices of the mobile entries a table names, ascending
    std::vector<int> m_nodes;     // injected nodes, ascending
    std::vector<int> m_nodeTable; // the table of each
};

// The place of state index k in CInjection::m_entries, -1 when no table names it.
int InjectColumn(const CInjection& inject, int k);
// "inject[2]": how the messages name table t.
std::string InjectTableKey(int table);
// The key and line of element p of table t's nodes list ("inject[0].nodes[3]"),
// or of its rectangle ("inject[0].rectangle", whatever p).
std::string InjectPlaceKey(const CInjectTable& table, int t, size_t p, int* line);
// The same for node (row, col) of the table.
std::string InjectNodeKey(const CInjectTable& table, int t, int row, int col, int* line);

// How the transport step takes the advective half difference and the
// dispersion of a face (transport/transport.cpp describes each).
enum class ETransportScheme {
    DEFAULT,   // the model file's own arithmetic, the signed flux in the half difference
    SYMMETRIC, // the same scheme taken from the face's upstream side
    TVD        // upstream advection with a limited correction: monotone
};

// The scheme's name in the extension file.
const char* SchemeName(ETransportScheme scheme);

// How the transport of a global step is taken in time: explicitly from the
// state at the step's start, or by backward Euler (transport/implicit_transport.cpp).
enum class ETransportTime { EXPLICIT, IMPLICIT };

// Its name in the extension file.
const char* TimeName(ETransportTime time);

struct CExtension {
    std::string m_file; // the extension file read; empty: none
    std::string m_lengthUnit;
    std::string m_timeUnit;
    std::string m_massUnit;
    double m_thickness = 1.0;            // turns cell areas into volumes
    std::vector<CEntryLabel> m_immobile; // empty: immobile_0, immobile_1, ...
    std::vector<CEntryLabel> m_mobile;   // empty: mobile_0, mobile_1, ...
    std::vector<CObservationWell> m_observe;
    ETransportScheme m_scheme = ETransportScheme::DEFAULT;
    bool m_schemeGiven = false; // [transport] scheme was given
    ETransportTime m_time = ETransportTime::EXPLICIT;
    bool m_timeGiven = false; // [transport] time was given
    CInjection m_inject;
    // [reactions] names: one per reaction record, in record order; empty:
    // none given, and the budget names a reaction by its type.
    std::vector<std::string> m_reactionNames;
    // [output] checkpoint: BASE.kvr is written at every this many records
    // (and at a cancel and the last record); 0: none.
    int m_checkpointEvery = 1;
    // [output] exact or times: the records land on their output times
    // (model/record_clock.h); m_recordTimes, when given, are those times
    // (ascending, after the start time, at most the end time).
    bool m_exactRecords = false;
    std::vector<double> m_recordTimes;
};

// The name of state entry k of a model with nComp entries per node of which
// the last nMobile are mobile: the hydraulic slots' own names (head, source,
// porosity, k_row, k_col, flux_row, flux_col), then the names the extension
// gives or immobile_0.., mobile_0.. .
std::string EntryName(const CExtension& ext, int nComp, int nMobile, int k);
// The unit label of entry k; empty when none is given.
std::string EntryUnits(const CExtension& ext, int nComp, int nMobile, int k);
// The state index of the entry a name stands for, -1 when none: a name the
// extension gives or a positional name (mobile_0, ...).
int FindEntryByName(const CExtension& ext, int nComp, int nMobile, const std::string& name);
