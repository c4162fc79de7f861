#include "post/export_command.h"

#include "post/base_path.h"
#include "post/csv_writer.h"
#include "post/entry_names.h"
#include "post/interrupt_cleanup.h"
#include "post/netcdf_writer.h"
#include "post/record_selection.h"
#include "post/replaced_file.h"
#include "post/result_exception.h"
#include "post/run_results.h"
#include "post/vtk_writer.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

const char* const EXPORT_USAGE =
    "usage: kova-export BASE --format vtk|csv|netcdf [--records all|LIST]\n"
    "                   [--entries LIST] [--hydraulic] [-o DIR]\n"
    "  Exports the results of the run BASE (BASE.kvi, BASE.kvt, BASE.kvo).\n"
    "  --format vtk   one STEM_NNNN.vtr file per record and STEM.pvd with the record\n"
    "                 times (open the .pvd in ParaView)\n"
    "  --format csv   STEM.csv, one row per node and record:\n"
    "                 record,time,i,j,x,y and a column per entry\n"
    "  --format netcdf  STEM.nc, CF-1.8 NetCDF: time, y, x and one variable per entry\n"
    "                 with its units (xarray, ParaView and QGIS open it); time units\n"
    "                 such as \"days since 1970-01-01 00:00:00\", where that date\n"
    "                 stands for model time 0\n"
    "  --records      all (the default), or indices and ranges such as 0,4,10-20,last\n"
    "  --entries LIST only these entries, in this order: names from the extension file\n"
    "                 (benzene,O2), immobile_0.., mobile_0.., hydraulic names (head,\n"
    "                 flux_row, ...) or indices; may be repeated\n"
    "  --hydraulic    the seven hydraulic entries (head, source, porosity, k_row, k_col,\n"
    "                 flux_row, flux_col), before any --entries; without either\n"
    "                 option every entry is exported\n"
    "  -o DIR         where the files go (created if missing; default: BASE's directory);\n"
    "                 a file there is replaced only once the new one is whole\n";

namespace {

std::string RecordFileName(const std::string& stem, int record, int recordCount) {
    int width = 4;
    for (int limit = 10000; recordCount > limit && width < 10; limit *= 10)
        ++width;
    char number[16];
    std::snprintf(number, sizeof number, "%0*d", width, record);
    return stem + "_" + number + ".vtr";
}

void MakeDirectory(const std::string& dir) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error || !std::filesystem::is_directory(dir))
        throw ResultException(dir + ": cannot create the output directory");
}

// Every file of the export, checked before any is written: a folder, a
// device or a FIFO where one belongs refuses the export, not half of it.
void CheckTargets(const std::vector<std::string>& paths, const std::string& what) {
    for (const std::string& path : paths)
        CheckReplaceable(path, what);
}

void ExportVtk(CRunResults& run, const std::vector<int>& records, const std::vector<int>& chosen,
               const std::string& dir, std::ostream& out) {
    const std::string stem = BaseStem(run.m_base);
    const std::string pvd = dir + "/" + stem + ".pvd";
    std::vector<std::string> targets = {pvd};
    for (const int r : records)
        targets.push_back(dir + "/" + RecordFileName(stem, r, run.m_files.RecordCount()));
    CheckTargets(targets, "VTK file");
    std::vector<CPvdEntry> entries;
    std::vector<double> values;
    for (const int r : records) {
        run.m_files.ReadRecord(r, values);
        CPvdEntry entry;
        entry.m_time = run.m_files.RecordTime(r);
        entry.m_file = RecordFileName(stem, r, run.m_files.RecordCount());
        WriteVtrFile(dir + "/" + entry.m_file, run.m_grid, run.m_names, values, chosen, r,
                     entry.m_time);
        entries.push_back(entry);
    }
    // Last, so that an export stopped half-way leaves the collection before.
    WritePvdFile(pvd, entries);
    out << pvd << " (" << entries.size() << " record files beside it)\n";
}

void ExportCsv(CRunResults& run, const std::vector<int>& records, const std::vector<int>& chosen,
               const std::string& dir, std::ostream& out) {
    CReplacedFile csv(dir + "/" + BaseStem(run.m_base) + ".csv", "CSV file");
    WriteCsvHeader(csv, run.m_names, chosen);
    std::vector<double> values;
    for (const int r : records) {
        run.m_files.ReadRecord(r, values);
        WriteCsvRecord(csv, run.m_grid, r, run.m_files.RecordTime(r), values, chosen);
    }
    csv.Commit();
    out << csv.OutPath() << " (" << records.size() << " records)\n";
}

void ExportNetcdf(CRunResults& run, const std::vector<int>& records, const std::vector<int>& chosen,
                  const std::string& dir, std::ostream& out) {
    const std::string path = dir + "/" + BaseStem(run.m_base) + ".nc";
    WriteNetcdfFile(path, run, records, chosen);
    out << path << " (" << records.size() << " records)\n";
}

// The names of one --entries; an empty one (a doubled or a trailing comma)
// is a slip, not a request for nothing.
void TakeEntries(CPostToolArgs& line, CExportOptions& options) {
    std::string list;
    if (!line.TakeValue(list))
        return;
    size_t begin = 0;
    while (true) {
        const size_t comma = list.find(',', begin);
        const std::string name = list.substr(begin, comma - begin);
        if (name.empty()) {
            options.error = "--entries \"" + list + "\" has an empty name";
            return;
        }
        options.entries.push_back(name);
        if (comma == std::string::npos)
            return;
        begin = comma + 1;
    }
}

} // namespace

CExportOptions ParseExportOptions(const std::vector<std::string>& args) {
    CExportOptions options;
    CPostToolArgs line(args, options);
    while (line.Next()) {
        const std::string& arg = line.Arg();
        if (arg == "--format")
            line.TakeValue(options.format);
        else if (arg == "--records")
            line.TakeValue(options.records);
        else if (arg == "--entries")
            TakeEntries(line, options);
        else if (arg == "--hydraulic")
            options.hydraulic = true;
        else if (arg == "-o" || arg == "--output")
            line.TakeValue(options.outDir);
        else
            line.TakeShared();
    }
    if (!line.Complete())
        return options;
    if (options.format.empty())
        options.error = "no --format given";
    else if (options.format != "vtk" && options.format != "csv" && options.format != "netcdf")
        options.error = "--format " + options.format + " is none of vtk, csv, netcdf";
    return options;
}

int RunExport(const CExportOptions& options, std::ostream& out, std::ostream& err) {
    // Stopped while it writes, the tool removes the file it was writing; the
    // file it was to replace stays as it was.
    const CInterruptCleanup cleanup("kova-export");
    return RunOnResults("kova-export", options.base, err, [&](CRunResults& run) {
        const std::vector<int> records =
            ParseRecordSelection(options.records, run.m_files.RecordCount());
        if (records.empty())
            throw ResultException(run.m_files.DataPath() + ": no records to export");
        const std::vector<int> chosen = SelectEntries(
            run.m_grid, options.entries, options.hydraulic, "--entries", options.base + ".kvi");
        const std::string dir =
            options.outDir.empty() ? BaseDirectory(options.base) : options.outDir;
        MakeDirectory(dir);
        if (options.format == "vtk")
            ExportVtk(run, records, chosen, dir, out);
        else if (options.format == "netcdf")
            ExportNetcdf(run, records, chosen, dir, out);
        else
            ExportCsv(run, records, chosen, dir, out);
    });
}
