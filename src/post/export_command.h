// kova-export BASE --format vtk|csv|netcdf [--records all|LIST]
//             [--entries LIST] [--hydraulic] [-o DIR]
//
// Every entry of the state by default; --entries (names or indices) and
// --hydraulic (the seven hydraulic entries) narrow it to those asked for.
//
// VTK: DIR/STEM_NNNN.vtr per record and DIR/STEM.pvd listing them with their
// times. CSV: DIR/STEM.csv in long format. NetCDF: DIR/STEM.nc (CF-1.8).
// STEM is BASE's file name, DIR defaults to BASE's directory. Every file is
// checked before anything is written, and each replaces the file before it
// only once it is whole (post/replaced_file.h): an export that fails, or is
// stopped by SIGINT, SIGTERM or SIGHUP (exit 130), leaves that file as it
// was.
#pragma once

#include "post/post_tool.h"

#include <ostream>
#include <string>
#include <vector>

struct CExportOptions : CPostToolOptions {
    std::string format; // "vtk", "csv" or "netcdf"
    std::string records = "all";
    std::vector<std::string> entries; // as given, resolved against the model
    bool hydraulic = false;
    std::string outDir; // empty: BASE's directory
};

CExportOptions ParseExportOptions(const std::vector<std::string>& args);

// Exports; the files written are listed on out, notes and errors go to err.
// Returns POST_EXIT_OK or POST_EXIT_FAILED.
int RunExport(const CExportOptions& options, std::ostream& out, std::ostream& err);

extern const char* const EXPORT_USAGE;
