#include "post/netcdf_writer.h"

#include "model/index.h"
#include "post/cf_time.h"
#include "post/replaced_file.h"
#include "post/result_exception.h"
#include "post/unit_labels.h"

#include <netcdf.h>

#include <cerrno>
#include <cstring>

namespace {

// NetCDF gives EACCES for any file HDF5 could not create and an HDF error
// for any write that failed; errno, cleared before the call, holds what the
// system said (a full disk, say).
std::string Cause(int status, int error) {
    if (status > 0)
        return std::strerror(error != 0 ? error : status);
    std::string cause = nc_strerror(status);
    if (status == NC_EHDFERR && error != 0)
        cause += std::string(": ") + std::strerror(error);
    return cause;
}

bool g_leftOpen = false;

// The open file, written into the temporary of an export. Once a call has
// failed, HDF5 is not called again for it: neither a close nor an abort
// (nc_abort crashes after a failed write or close, in its report of the
// objects still open), so the file is left open, for the process to end
// without HDF5's exit-time cleanup, which crashes on it too.
class CNetcdfFile {
public:
    explicit CNetcdfFile(const CReplacedFile& file) : m_file(file) {
        errno = 0;
        const int status = nc_create(file.TempPath().c_str(), NC_CLOBBER | NC_NETCDF4, &m_id);
        if (status != NC_NOERR) {
            // HDF5 may hold what it made of the file before it failed.
            g_leftOpen = true;
            m_id = -1;
        }
        Check(status, "cannot create the file");
    }
    ~CNetcdfFile() {
        if (m_id >= 0)
            g_leftOpen = true;
    }
    CNetcdfFile(const CNetcdfFile&) = delete;
    CNetcdfFile& operator=(const CNetcdfFile&) = delete;

    // Throws ResultException for a failed call; a call that worked clears
    // errno for the next.
    void Check(int status, const std::string& what) const {
        const int error = errno;
        errno = 0;
        if (status != NC_NOERR)
            throw ResultException(m_file.OutPath() + ": " + what + " (" + Cause(status, error) +
                                  ")");
    }
    void Text(int var, const char* name, const std::string& value) const {
        if (!value.empty())
            Check(nc_put_att_text(m_id, var, name, value.size(), value.c_str()),
                  std::string("cannot write the attribute ") + name);
    }
    void Close() {
        Check(nc_close(m_id), "cannot close the file");
        m_id = -1;
    }
    int Id() const { return m_id; }

private:
    const CReplacedFile& m_file;
    int m_id = -1;
};

// NetCDF names begin with a letter, a digit or '_'; an entry name that
// begins otherwise ('-') gets a '_' in front.
std::string VariableName(const std::string& name) {
    return !name.empty() && name[0] == '-' ? "_" + name : name;
}

int Coordinate(CNetcdfFile& f, const char* name, int dim, const char* axis,
               const std::string& units, const std::string& longName) {
    int var = -1;
    f.Check(nc_def_var(f.Id(), name, NC_DOUBLE, 1, &dim, &var),
            std::string("cannot define the variable ") + name);
    f.Text(var, "axis", axis);
    f.Text(var, "units", units);
    f.Text(var, "long_name", longName);
    return var;
}

} // namespace

bool NetcdfFileLeftOpen() {
    return g_leftOpen;
}

void WriteNetcdfFile(const std::string& path, CRunResults& run, const std::vector<int>& records,
                     const std::vector<int>& entries) {
    const CModelGrid& grid = run.m_grid;
    CReplacedFile file(path, "NetCDF file");
    CNetcdfFile f(file);
    f.Text(NC_GLOBAL, "Conventions", "CF-1.8");
    f.Text(NC_GLOBAL, "title", "KOVA Compute results of " + run.m_base);
    f.Text(NC_GLOBAL, "source", "kova-export");
    f.Text(NC_GLOBAL, "comment", UnitsNote(grid));

    int dims[3] = {-1, -1, -1};
    f.Check(nc_def_dim(f.Id(), "time", records.size(), &dims[0]), "cannot define time");
    f.Check(nc_def_dim(f.Id(), "y", ToSize(grid.m_nRows), &dims[1]), "cannot define y");
    f.Check(nc_def_dim(f.Id(), "x", ToSize(grid.m_nCols), &dims[2]), "cannot define x");
    const CCfTime cfTime = CfTime(grid.m_ext.m_timeUnit);
    const int time = Coordinate(f, "time", dims[0], "T", cfTime.m_units, "model time");
    f.Text(time, "standard_name", "time");
    f.Text(time, "calendar", cfTime.m_calendar);
    f.Text(time, "comment", cfTime.m_comment);
    const int y = Coordinate(f, "y", dims[1], "Y", grid.m_ext.m_lengthUnit, "row coordinate");
    const int x = Coordinate(f, "x", dims[2], "X", grid.m_ext.m_lengthUnit, "column coordinate");

    std::vector<int> vars;
    for (const int k : entries) {
        int var = -1;
        const std::string& name = run.m_names[ToSize(k)];
        f.Check(nc_def_var(f.Id(), VariableName(name).c_str(), NC_DOUBLE, 3, dims, &var),
                "cannot define the variable " + name);
        // One record of one entry a chunk: what a reader of one map takes.
        const size_t chunk[3] = {1, ToSize(grid.m_nRows), ToSize(grid.m_nCols)};
        f.Check(nc_def_var_chunking(f.Id(), var, NC_CHUNKED, chunk), "cannot chunk " + name);
        f.Text(var, "long_name", name);
        f.Text(var, "units", EntryUnit(grid, k));
        vars.push_back(var);
    }
    f.Check(nc_enddef(f.Id()), "cannot end the definitions");

    f.Check(nc_put_var_double(f.Id(), y, grid.m_rowCoord.data()), "cannot write y");
    f.Check(nc_put_var_double(f.Id(), x, grid.m_colCoord.data()), "cannot write x");
    std::vector<double> values;
    std::vector<double> field(ToSize(grid.m_nNodes));
    for (size_t t = 0; t < records.size(); ++t) {
        const int r = records[t];
        const double when = run.m_files.RecordTime(r);
        f.Check(nc_put_var1_double(f.Id(), time, &t, &when), "cannot write the time");
        run.m_files.ReadRecord(r, values);
        for (size_t e = 0; e < entries.size(); ++e) {
            const int k = entries[e];
            // The record holds node after node; a variable holds entry after entry.
            for (int n = 0; n < grid.m_nNodes; ++n)
                field[ToSize(n)] = values[ToSize(n * grid.m_nComp + k)];
            const size_t start[3] = {t, 0, 0};
            const size_t count[3] = {1, ToSize(grid.m_nRows), ToSize(grid.m_nCols)};
            f.Check(nc_put_vara_double(f.Id(), vars[e], start, count, field.data()),
                    "cannot write record " + std::to_string(r) + " of " + run.m_names[ToSize(k)]);
        }
    }
    f.Close();
    file.Commit();
}
