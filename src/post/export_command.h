// kova-export BASE --format vtk|csv [--records all|LIST] [-o DIR]
//
// VTK: DIR/STEM_NNNN.vtr per record and DIR/STEM.pvd listing them with their
// times. CSV: DIR/STEM.csv in long format. STEM is BASE's file name, DIR
// defaults to BASE's directory. Every file is checked before anything is
// written.
#pragma once

#include <ostream>
#include <string>
#include <vector>

constexpr int EXPORT_EXIT_OK = 0;
constexpr int EXPORT_EXIT_FAILED = 1; // a file that is missing, bad or cannot be written
constexpr int EXPORT_EXIT_USAGE = 2;

struct CExportOptions {
    bool help = false;
    std::string base;
    std::string format; // "vtk" or "csv"
    std::string records = "all";
    std::string outDir; // empty: BASE's directory
    std::string error;  // non-empty when the command line is unusable
};

CExportOptions ParseExportOptions(const std::vector<std::string>& args);

// Exports; the files written are listed on out, notes and errors go to err.
// Returns one of the exit codes above.
int RunExport(const CExportOptions& options, std::ostream& out, std::ostream& err);

extern const char* const EXPORT_USAGE;
