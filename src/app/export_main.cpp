// kova-export BASE --format vtk|csv [--records all|LIST] [-o DIR]: turns the
// result files of a run into VTK or CSV files.
#include "post/export_command.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const CExportOptions options =
        ParseExportOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
        std::cout << EXPORT_USAGE;
        return EXPORT_EXIT_OK;
    }
    if (!options.error.empty()) {
        std::cerr << "kova-export: " << options.error << '\n' << EXPORT_USAGE;
        return EXPORT_EXIT_USAGE;
    }
    return RunExport(options, std::cout, std::cerr);
}
