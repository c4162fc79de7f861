// Reading the model file into the model (io/reader.h).
//
// The file is a stream of numbers whose meaning follows from their position
// and from the counts read before them. Every count and index is checked
// where it is read, before it is used to size or address an array; the
// failure names the field and the record. A stream that fails (a missing or
// malformed number) is a BadFileException naming the field where it failed.

#include "io/reader.h"

#include "io/model_stream.h"
#include "io/rxn_factory.h"
#include "model/exceptions.h"
#include "model/grid.h"
#include "model/limits.h"
#include "model/node_view.h"
#include "model/number_text.h"
#include "model/simulation.h"
#include "run/run_progress.h"
#include "rxn/reactions.h"
#include "rxn/rxn.h"
#include "rxn/rxn_set.h"

#include <cmath>
#include <cstdio>
#include <istream>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

std::string Str(int value) {
    return std::to_string(value);
}

void RequireStream(const std::istream& in, const std::string& where) {
    if (in.fail())
        throw BadFileException("Bad File: missing or malformed number in " + where);
}

std::string NodeText(int i, int j) {
    return "(" + Str(i) + ", " + Str(j) + ")";
}

} // namespace

namespace {

class CModelReader {
public:
    CModelReader(CSimulation& sim, CReactions& rx, std::istream& in)
        : m_sim(sim), m_rx(rx), m_in(in) {}

    void ReadHeader();
    void ValidateHeader() const;
    void ReadCoordinates();
    void ReadTransportParameters();
    void ReadDefaultState();
    void ReadStateOverrides();
    void CheckNodeProperties() const;
    void ReadFixedHeads();
    void ReadReactions();
    void ReadNodeRxnSets();
    void CreateRxnSets();
    void ReadRxnSets();

private:
    void NoteHeldEntries(int q);
    int CheckedNode(int i, int j, const std::string& where) const;
    void CheckCoordinates(const double* coords, int count, const char* field) const;
    void CheckCellArea() const;

    CSimulation& m_sim;
    CReactions& m_rx; // filled here, owned by the caller
    std::istream& m_in;
};

void CModelReader::ReadHeader() {
    CSimulation& s = m_sim;
    m_in >> s.m_nRows >> s.m_nCols >> s.m_nImmobile >> s.m_nMobile >> s.m_nRxn >> s.m_nRxnSets;
    RequireStream(m_in, "the header counts (fields 1-6)");
    m_in >> s.m_settings.m_startTime >> s.m_settings.m_endTime >> s.m_settings.m_outputInterval >>
        s.m_clock.m_globalStep >> s.m_settings.m_opzero;
    RequireStream(m_in, "the header times (fields 7-11)");
    if (!s.m_settings.m_untilGiven)
        return;
    if (!(s.m_settings.m_until > s.m_settings.m_startTime))
        throw InputException("--until " + ExactText(s.m_settings.m_until) +
                             " is not after the model's start time " +
                             ExactText(s.m_settings.m_startTime) + " (field 7)");
    s.m_settings.m_endTime = s.m_settings.m_until;
}

// Counts and sizes are refused here, before anything is allocated.
void CModelReader::ValidateHeader() const {
    const CSimulation& s = m_sim;
    if (s.m_nRows < 1)
        throw InputException("rows " + Str(s.m_nRows) + " below 1 (field 1)");
    if (s.m_nCols < 1)
        throw InputException("columns " + Str(s.m_nCols) + " below 1 (field 2)");
    if (s.m_nImmobile < 0)
        throw InputException("immobile components " + Str(s.m_nImmobile) + " below 0 (field 3)");
    if (s.m_nMobile < 0)
        throw InputException("mobile components " + Str(s.m_nMobile) + " below 0 (field 4)");
    if (s.m_nRxn < 0)
        throw InputException("reactions " + Str(s.m_nRxn) + " below 0 (field 5)");
    if (s.m_nRxnSets < 0)
        throw InputException("reaction sets " + Str(s.m_nRxnSets) + " below 0 (field 6)");
    if (s.m_nRxn > RXN_MAX_REACTIONS)
        throw InputException("reactions " + Str(s.m_nRxn) + " above the limit of " +
                             Str(RXN_MAX_REACTIONS) + " (field 5)");
    if (s.m_nRxnSets > RXN_MAX_SETS)
        throw InputException("reaction sets " + Str(s.m_nRxnSets) + " above the limit of " +
                             Str(RXN_MAX_SETS) + " (field 6)");
    if (!(s.m_settings.m_outputInterval > 0.0))
        throw InputException("output interval must be greater than 0 (field 9)");
    // opzero is the corrector's convergence bound and the smallest local step:
    // at 0 or below a node that keeps failing would halve its step for ever.
    if (!(s.m_settings.m_opzero > 0.0))
        throw InputException("opzero " + ExactText(s.m_settings.m_opzero) +
                             " not above 0 (field 11)");
    // The stable step is at most the run's duration; one that overflows would
    // become a global step of infinity.
    if (!(s.m_clock.m_globalStep > 0.0) &&
        !std::isfinite(s.m_settings.m_endTime - s.m_settings.m_startTime))
        throw InputException("end time " + ExactText(s.m_settings.m_endTime) +
                             " minus start time " + ExactText(s.m_settings.m_startTime) +
                             " overflows (fields 7-8), and the stable " +
                             "global step asked for by field 10 needs that duration");
}

int CModelReader::CheckedNode(int i, int j, const std::string& where) const {
    const CSimulation& s = m_sim;
    if (i < 0 || i >= s.m_nRows || j < 0 || j >= s.m_nCols)
        throw InputException("node index " + NodeText(i, j) + " outside the " + Str(s.m_nRows) +
                             " x " + Str(s.m_nCols) + " grid in " + where);
    return i * s.m_nCols + j;
}

// Strictly increasing, and every distance the flow and transport use (between
// neighbours, and between the two neighbours of an inner node) finite.
void CModelReader::CheckCoordinates(const double* coords, int count, const char* field) const {
    for (int k = 1; k < count; ++k)
        if (!(coords[k] > coords[k - 1]))
            throw InputException(std::string(field) + " do not increase strictly at index " +
                                 Str(k));
    for (int k = 1; k < count; ++k) {
        const int low = k >= 2 ? k - 2 : k - 1;
        if (!std::isfinite(coords[k] - coords[low]))
            throw InputException(std::string(field) + ": the distance between index " + Str(low) +
                                 " (" + ExactText(coords[low]) + ") and index " + Str(k) + " (" +
                                 ExactText(coords[k]) + ") overflows");
    }
}

// A cell's area (row width x column width) scales its water source; an area
// that overflows turns every head into infinity or not a number.
void CModelReader::CheckCellArea() const {
    const CSimulation& s = m_sim;
    const double rowWidth = WidestCell(s.m_grid.m_rowCoord.get(), s.m_nRows);
    const double colWidth = WidestCell(s.m_grid.m_colCoord.get(), s.m_nCols);
    if (!std::isfinite(rowWidth * colWidth))
        throw InputException("the widest cells, " + ExactText(rowWidth) + " along the rows and " +
                             ExactText(colWidth) +
                             " along the columns, give an area that overflows " + "(fields 12-13)");
}

void CModelReader::ReadCoordinates() {
    CSimulation& s = m_sim;
    double* rowCoord = s.m_grid.m_rowCoord.get();
    double* colCoord = s.m_grid.m_colCoord.get();
    for (int i = 0; i < s.m_nRows; ++i)
        m_in >> rowCoord[i];
    RequireStream(m_in, "the row coordinates (field 12)");
    for (int j = 0; j < s.m_nCols; ++j)
        m_in >> colCoord[j];
    RequireStream(m_in, "the column coordinates (field 13)");
    CheckCoordinates(rowCoord, s.m_nRows, "row coordinates (field 12)");
    CheckCoordinates(colCoord, s.m_nCols, "column coordinates (field 13)");
    CheckCellArea();
}

void CModelReader::ReadTransportParameters() {
    CSimulation& s = m_sim;
    double* dispersivityL = s.m_dispersivityL.get();
    double* dispersivityT = s.m_dispersivityT.get();
    double* diffusion = s.m_diffusion.get();
    for (int m = 0; m < s.m_nMobile; ++m)
        m_in >> dispersivityL[m] >> dispersivityT[m] >> diffusion[m];
    RequireStream(m_in, "the transport parameters (field 14)");
    // A negative coefficient makes the dispersion anti-diffusive: the
    // transport step then amplifies every difference instead of smoothing it.
    const struct {
        const char* name;
        const double* values;
    } fields[] = {{"longitudinal dispersivity", s.m_dispersivityL.get()},
                  {"transverse dispersivity", s.m_dispersivityT.get()},
                  {"diffusion coefficient", s.m_diffusion.get()}};
    for (int m = 0; m < s.m_nMobile; ++m)
        for (const auto& field : fields)
            if (!(field.values[m] >= 0.0))
                throw InputException(std::string(field.name) + " " + ExactText(field.values[m]) +
                                     " of mobile component " + Str(m) + " below 0 (field 14)");
}

// Porosity divides every velocity and scales every volume: at 0 or below the
// heads, fluxes and concentrations become infinities or not-a-number values;
// above 1 it is no share of the volume.
// A negative conductivity reverses the flow it should resist. Both are
// refused for every node held once the states are complete.
void CModelReader::CheckNodeProperties() const {
    const CSimulation& s = m_sim;
    const double* state = s.m_stateNew.get();
    for (int n = s.m_heldFirst; n < s.m_heldEnd; ++n) {
        const CNodeView node(state + static_cast<size_t>(n) * static_cast<size_t>(s.m_nComp));
        // Named only when a check fails: the loop runs over every node.
        const auto where = [&] { return " of node " + NodeText(n / s.m_nCols, n % s.m_nCols); };
        if (!(node.Porosity() > 0.0))
            throw InputException("porosity " + ExactText(node.Porosity()) + where() +
                                 " not above 0 (fields 15-16, entry 2)");
        // A share of the volume: 30 is a percentage typed as a fraction.
        if (node.Porosity() > 1.0)
            throw InputException("porosity " + ExactText(node.Porosity()) + where() +
                                 " above 1; porosity is a fraction of the volume "
                                 "(fields 15-16, entry 2)");
        if (!(node.KRow() >= 0.0))
            throw InputException("conductivity k_row " + ExactText(node.KRow()) + where() +
                                 " below 0 (fields 15-16, entry 3)");
        if (!(node.KCol() >= 0.0))
            throw InputException("conductivity k_col " + ExactText(node.KCol()) + where() +
                                 " below 0 (fields 15-16, entry 4)");
    }
}

void CModelReader::ReadDefaultState() {
    CSimulation& s = m_sim;
    const std::unique_ptr<double[]> owner(new double[ToSize(s.m_nComp)]());
    double* vector = owner.get();
    for (int k = 0; k < s.m_nComp; ++k)
        m_in >> vector[k];
    RequireStream(m_in, "the default state vector (field 15)");
    double* state = s.m_stateNew.get();
    for (int t = s.m_heldFirst * s.m_nComp; t < s.m_heldEnd * s.m_nComp; ++t)
        state[t] = vector[t % s.m_nComp];
}

void CModelReader::ReadStateOverrides() {
    CSimulation& s = m_sim;
    int count = 0;
    m_in >> count;
    RequireStream(m_in, "the state override count (field 16)");
    for (int r = 0; r < count; ++r) {
        const std::string where = "state override " + Str(r) + " (field 16)";
        int i = 0, j = 0, k = 0;
        double v = 0.0;
        m_in >> i >> j >> k >> v;
        RequireStream(m_in, where);
        const int n = CheckedNode(i, j, where);
        if (k < 0 || k >= s.m_nComp)
            throw InputException("state entry " + Str(k) + " outside 0.." + Str(s.m_nComp - 1) +
                                 " in " + where);
        if (s.Holds(n))
            s.m_stateNew.get()[n * s.m_nComp + k] = v;
    }
}

void CModelReader::ReadFixedHeads() {
    CSimulation& s = m_sim;
    int count = 0;
    m_in >> count;
    RequireStream(m_in, "the fixed-head count (field 17)");
    for (int r = 0; r < count; ++r) {
        const std::string where = "fixed-head node " + Str(r) + " (field 17)";
        int i = 0, j = 0;
        m_in >> i >> j;
        RequireStream(m_in, where);
        s.m_grid.m_nodeType.get()[CheckedNode(i, j, where)] = NODE_HEAD;
    }
}

void CModelReader::ReadReactions() {
    CSimulation& s = m_sim;
    for (int r = 0; r < s.m_nRxn; ++r) {
        const std::string where = "in reaction record " + Str(r) + " (field 18)";
        int code = 0;
        m_in >> code;
        if (m_in.fail())
            throw BadFileException("Bad File: missing or malformed type code " + where);
        std::unique_ptr<CRxn>& rxn = m_rx.m_rxns[ToSize(r)];
        try {
            rxn = CreateRxn(code, m_in, s.m_nComp, &s);
        } catch (Exception& e) {
            e.AddWhere(where);
            throw;
        }
        if (!rxn)
            throw InputException("Unknown Reaction Type (code " + Str(code) + ") " + where);
    }
}

void CModelReader::ReadNodeRxnSets() {
    CSimulation& s = m_sim;
    int q = 0;
    m_in >> q;
    RequireStream(m_in, "the default reaction set (field 19)");
    unsigned char* nodeRxnSet = s.m_nodeRxnSet.get();
    // Only the low byte of a reaction-set index is kept.
    for (int n = 0; n < s.m_nNodes; ++n)
        nodeRxnSet[n] = static_cast<unsigned char>(q & 0xFF);

    int count = 0;
    m_in >> count;
    RequireStream(m_in, "the reaction-set override count (field 20)");
    for (int r = 0; r < count; ++r) {
        const std::string where = "reaction-set override " + Str(r) + " (field 20)";
        int i = 0, j = 0;
        q = 0;
        m_in >> i >> j >> q;
        RequireStream(m_in, where);
        nodeRxnSet[CheckedNode(i, j, where)] = static_cast<unsigned char>(q & 0xFF);
    }

    // Every node must name an existing set once all overrides are applied.
    for (int n = 0; n < s.m_nNodes; ++n)
        if (nodeRxnSet[n] >= s.m_nRxnSets)
            throw InputException("reaction set " + Str(nodeRxnSet[n]) + " of node " +
                                 NodeText(n / s.m_nCols, n % s.m_nCols) + " outside 0.." +
                                 Str(s.m_nRxnSets - 1) + " (fields 19-20, low byte kept)");
}

// The sets are made empty before any record is read, as the arrays are.
void CModelReader::CreateRxnSets() {
    CSimulation& s = m_sim;
    try {
        m_rx.m_rxns.clear();
        m_rx.m_sets.clear();
        m_rx.m_rxns.resize(ToSize(s.m_nRxn));
        s.m_setHoldsMobile.assign(ToSize(s.m_nRxnSets) * ToSize(s.m_nMobile), 0);
        for (int q = 0; q < s.m_nRxnSets; ++q)
            m_rx.m_sets.push_back(std::make_unique<CRxnSet>(s.m_progress));
    } catch (const std::bad_alloc&) {
        throw InputException("not enough memory for the arrays of the " + Str(s.m_nRows) + " x " +
                             Str(s.m_nCols) + " grid");
    }
}

// Which mobile entries set q's equilibria hold at a constant.
void CModelReader::NoteHeldEntries(int q) {
    CSimulation& s = m_sim;
    for (int m = 0; m < s.m_nMobile; ++m)
        for (const CRxn* rxn : m_rx.m_sets[ToSize(q)]->m_equi)
            if (rxn->HoldsEntry(s.m_nComp - s.m_nMobile + m))
                s.m_setHoldsMobile[ToSize(q) * ToSize(s.m_nMobile) + ToSize(m)] = 1;
}

void CModelReader::ReadRxnSets() {
    CSimulation& s = m_sim;
    for (int q = 0; q < s.m_nRxnSets; ++q) {
        try {
            m_rx.m_sets[ToSize(q)]->Read(m_in, m_rx.m_rxns, s.m_nComp, s.m_nMobile,
                                         s.m_settings.m_opzero);
            NoteHeldEntries(q);
        } catch (Exception& e) {
            e.AddWhere("in reaction set record " + Str(q) + " (field 21)");
            throw;
        }
    }
    // A file may end right after its last number; only a failed read counts.
    if (m_in.fail())
        throw BadFileException("Bad File: missing or malformed number in the reaction sets "
                               "(field 21)");
}

} // namespace

void ReadInput(CSimulation& s, CReactions& rx, std::istream& in) {
    s.m_progress->SetStatus("Reading Input Data ...");
    if (!in.good())
        throw BadFileException("Bad File: the model file cannot be read");
    PrepareModelStream(in);

    CModelReader reader(s, rx, in);
    reader.ReadHeader();
    reader.ValidateHeader();
    s.m_progress->SetStartTime(s.m_settings.m_startTime);
    s.m_progress->SetEndTime(s.m_settings.m_endTime);
    if (!s.AllocateArrays())
        return;
    reader.CreateRxnSets();
    reader.ReadCoordinates();
    reader.ReadTransportParameters();
    reader.ReadDefaultState();
    reader.ReadStateOverrides();
    reader.CheckNodeProperties();
    reader.ReadFixedHeads();
    reader.ReadReactions();
    reader.ReadNodeRxnSets();
    reader.ReadRxnSets();
}
