// CSV in long format: one row per node and record, the columns record, time,
// i, j, x, y and then one column per entry exported. x is the node's column
// coordinate and y its row coordinate. Every real is written with %.17g, so
// it reads back as the same double.
#pragma once

#include "post/model_grid.h"
#include "post/replaced_file.h"

#include <string>
#include <vector>

// entries: the state indices of the columns, in their order.
void WriteCsvHeader(CReplacedFile& out, const std::vector<std::string>& names,
                    const std::vector<int>& entries);

// values: m_nNodes x m_nComp doubles of one record, node after node.
void WriteCsvRecord(CReplacedFile& out, const CModelGrid& grid, int record, double time,
                    const std::vector<double>& values, const std::vector<int>& entries);
