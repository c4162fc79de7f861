#include "post/csv_writer.h"

#include "post/vtk_writer.h"

void WriteCsvHeader(CReplacedFile& out, const std::vector<std::string>& names,
                    const std::vector<int>& entries) {
    std::string line = "record,time,i,j,x,y";
    for (const int k : entries)
        line += ',' + names[static_cast<size_t>(k)];
    out.Write(line + '\n');
}

void WriteCsvRecord(CReplacedFile& out, const CModelGrid& grid, int record, double time,
                    const std::vector<double>& values, const std::vector<int>& entries) {
    const std::string prefix = std::to_string(record) + ',' + ExactText(time) + ',';
    std::string line;
    for (int i = 0; i < grid.m_nRows; ++i) {
        for (int j = 0; j < grid.m_nCols; ++j) {
            const size_t n =
                static_cast<size_t>(i) * static_cast<size_t>(grid.m_nCols) + static_cast<size_t>(j);
            line = prefix;
            line += std::to_string(i) + ',' + std::to_string(j) + ',' +
                    ExactText(grid.m_colCoord[static_cast<size_t>(j)]) + ',' +
                    ExactText(grid.m_rowCoord[static_cast<size_t>(i)]);
            const double* node = values.data() + n * static_cast<size_t>(grid.m_nComp);
            for (const int k : entries) {
                line += ',';
                line += ExactText(node[k]);
            }
            line += '\n';
            out.Write(line);
        }
    }
}
