// kova-export BASE --format vtk|csv|netcdf [--records all|LIST]
//             [--entries LIST] [--hydraulic] [-o DIR]:
// turns the result files of a run into VTK, CSV or NetCDF files.
#include "post/export_command.h"
#include "post/netcdf_writer.h"
#include "run/platform.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    EnsureStandardDescriptors();
    const CExportOptions options =
        ParseExportOptions(std::vector<std::string>(argv + 1, argv + argc));
    const int code = PostToolMain("kova-export", EXPORT_USAGE, options, std::cout, std::cerr,
                                  [&] { return RunExport(options, std::cout, std::cerr); });
    if (NetcdfFileLeftOpen()) {
        // HDF5's exit-time cleanup would crash on the file that failed.
        std::cout.flush();
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}
