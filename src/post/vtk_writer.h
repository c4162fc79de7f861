// VTK XML files for ParaView and other VTK readers.
//
// One record is one RectilinearGrid file (.vtr): the nodes are the grid's
// points, x the column coordinates, y the row coordinates, z 0, so that VTK's
// point order (x fastest) is the node order n = i x columns + j. Every entry
// exported is a Float64 point array named after it. The arrays are
// stored as raw little-endian binary in the appended-data section, each behind
// a UInt64 byte count. The record time is kept as the field array TimeValue.
//
// A comment after the XML declaration names the record, its time and the
// model's unit labels, for whoever opens the file in an editor; VTK readers
// skip it.
//
// A run is a .pvd collection listing the .vtr files with their record times.
#pragma once

#include "model/number_text.h"

#include "post/model_grid.h"

#include <string>
#include <vector>

// values: m_nNodes x m_nComp doubles, node after node; entries: the state
// indices of the arrays, in their order.
void WriteVtrFile(const std::string& path, const CModelGrid& grid,
                  const std::vector<std::string>& names, const std::vector<double>& values,
                  const std::vector<int>& entries, int record, double time);

// "KOVA Compute record 3 time 30 [d]; units: length m, time d, mass kg;
// NH4 mg/L", with the units the model gives for the entries written.
std::string VtkTitle(const CModelGrid& grid, const std::vector<int>& entries, int record,
                     double time);

struct CPvdEntry {
    double m_time = 0.0;
    std::string m_file; // relative to the .pvd file
};

void WritePvdFile(const std::string& path, const std::vector<CPvdEntry>& entries);
