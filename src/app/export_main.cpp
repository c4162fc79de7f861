// kova-export BASE --format vtk|csv [--records all|LIST] [-o DIR]: turns the
// result files of a run into VTK or CSV files.
#include "post/export_command.h"
#include "run/platform.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    EnsureStandardDescriptors();
    const CExportOptions options =
        ParseExportOptions(std::vector<std::string>(argv + 1, argv + argc));
    return PostToolMain("kova-export", EXPORT_USAGE, options, std::cout, std::cerr,
                        [&] { return RunExport(options, std::cout, std::cerr); });
}
