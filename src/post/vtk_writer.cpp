#include "post/vtk_writer.h"

#include "post/entry_names.h"
#include "post/little_endian.h"
#include "post/replaced_file.h"
#include "post/unit_labels.h"

namespace {

std::string XmlEscape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// The appended-data section and the XML that points into it.
class CAppendedArrays {
public:
    // Appends a Float64 array and returns its DataArray element.
    std::string Add(const std::string& name, const std::vector<double>& data,
                    const std::string& extra = "") {
        const std::string element = "<DataArray type=\"Float64\" Name=\"" + XmlEscape(name) + "\"" +
                                    extra + " format=\"appended\" offset=\"" +
                                    std::to_string(m_bytes.size()) + "\"/>";
        AppendU64(m_bytes, 8 * static_cast<uint64_t>(data.size()));
        for (const double value : data)
            AppendDouble(m_bytes, value);
        return element;
    }
    const std::string& Bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};

void WriteFile(const std::string& path, const std::string& text) {
    CReplacedFile file(path, "VTK file");
    file.Write(text);
    file.Commit();
}

// An XML comment may not hold "--" nor end in "-"; unit labels are free text.
std::string XmlComment(std::string text) {
    for (size_t at; (at = text.find("--")) != std::string::npos;)
        text.insert(at + 1, " ");
    return "<!-- " + text + " -->";
}

std::string ExtentText(const CModelGrid& grid) {
    return "0 " + std::to_string(grid.m_nCols - 1) + " 0 " + std::to_string(grid.m_nRows - 1) +
           " 0 0";
}

} // namespace

void WriteVtrFile(const std::string& path, const CModelGrid& grid,
                  const std::vector<std::string>& names, const std::vector<double>& values,
                  const std::vector<int>& entries, int record, double time) {
    CAppendedArrays arrays;
    const std::string timeArray = arrays.Add("TimeValue", {time}, " NumberOfTuples=\"1\"");

    std::string pointData;
    std::vector<double> entry(static_cast<size_t>(grid.m_nNodes));
    for (const int k : entries) {
        for (int n = 0; n < grid.m_nNodes; ++n)
            entry[static_cast<size_t>(n)] =
                values[static_cast<size_t>(n) * static_cast<size_t>(grid.m_nComp) +
                       static_cast<size_t>(k)];
        pointData += "        " + arrays.Add(names[static_cast<size_t>(k)], entry) + "\n";
    }
    const std::string x = arrays.Add("x", grid.m_colCoord);
    const std::string y = arrays.Add("y", grid.m_rowCoord);
    const std::string z = arrays.Add("z", {0.0});

    const std::string extent = ExtentText(grid);
    std::string text = "<?xml version=\"1.0\"?>\n" +
                       XmlComment(VtkTitle(grid, entries, record, time)) +
                       "\n<VTKFile type=\"RectilinearGrid\" version=\"1.0\" "
                       "byte_order=\"LittleEndian\" header_type=\"UInt64\">\n"
                       "  <RectilinearGrid WholeExtent=\"" +
                       extent +
                       "\">\n"
                       "    <FieldData>\n"
                       "      " +
                       timeArray +
                       "\n"
                       "    </FieldData>\n"
                       "    <Piece Extent=\"" +
                       extent +
                       "\">\n"
                       "      <PointData>\n" +
                       pointData +
                       "      </PointData>\n"
                       "      <CellData>\n"
                       "      </CellData>\n"
                       "      <Coordinates>\n"
                       "        " +
                       x + "\n        " + y + "\n        " + z +
                       "\n"
                       "      </Coordinates>\n"
                       "    </Piece>\n"
                       "  </RectilinearGrid>\n"
                       "  <AppendedData encoding=\"raw\">\n"
                       "   _";
    text += arrays.Bytes();
    text += "\n  </AppendedData>\n</VTKFile>\n";
    WriteFile(path, text);
}

std::string VtkTitle(const CModelGrid& grid, const std::vector<int>& entries, int record,
                     double time) {
    std::string title = "KOVA Compute record " + std::to_string(record) + " time " +
                        WithUnit(ExactText(time), grid.m_ext.m_timeUnit);
    const std::string units = UnitsNote(grid);
    if (!units.empty())
        title += "; " + units;
    std::string entryUnits;
    for (const int k : entries) {
        const std::string unit = EntryUnit(grid, k);
        if (!unit.empty())
            entryUnits += (entryUnits.empty() ? "; " : ", ") + EntryName(grid, k) + " " + unit;
    }
    return title + entryUnits;
}

void WritePvdFile(const std::string& path, const std::vector<CPvdEntry>& entries) {
    std::string text = "<?xml version=\"1.0\"?>\n"
                       "<VTKFile type=\"Collection\" version=\"1.0\" "
                       "byte_order=\"LittleEndian\">\n"
                       "  <Collection>\n";
    for (const CPvdEntry& entry : entries)
        text += "    <DataSet timestep=\"" + ExactText(entry.m_time) +
                "\" group=\"\" part=\"0\" file=\"" + XmlEscape(entry.m_file) + "\"/>\n";
    text += "  </Collection>\n</VTKFile>\n";
    WriteFile(path, text);
}
