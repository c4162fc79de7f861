// What the optional extension file BASE.kvx adds to a model: unit labels, the
// aquifer thickness, names of the immobile and mobile entries, observation
// wells. A model without the file has the defaults below, and its run is
// exactly the run without this file ever having existed.
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

// How the transport step takes the advective half difference and the
// dispersion of a face (flow/transport.cpp describes each).
enum class ETransportScheme {
    SPEC,      // the model file's own arithmetic, the signed flux in the half difference
    SYMMETRIC, // the same scheme taken from the face's upstream side
    TVD        // upstream advection with a limited correction: monotone
};

// The scheme's name in the extension file.
const char* SchemeName(ETransportScheme scheme);

struct CExtension {
    std::string m_file; // the extension file read; empty: none
    std::string m_lengthUnit;
    std::string m_timeUnit;
    std::string m_massUnit;
    double m_thickness = 1.0;        // turns cell areas into volumes
    std::vector<CEntryLabel> m_immobile; // empty: immobile_0, immobile_1, ...
    std::vector<CEntryLabel> m_mobile;   // empty: mobile_0, mobile_1, ...
    std::vector<CObservationWell> m_observe;
    ETransportScheme m_scheme = ETransportScheme::SPEC;
    bool m_schemeGiven = false; // [transport] scheme was given
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
