// kova-compute [options] BASE: runs the model BASE.kvi, writes BASE.kvo and
// BASE.kvt; with --check only reads the model and prints its summary.
#include "app/cli_options.h"
#include "app/frontend.h"
#include "app/model_check.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const CCliOptions options = ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
        std::cout << CLI_USAGE;
        return EXIT_RUN_OK;
    }
    if (options.version) {
        std::cout << "kova-compute " << KOVA_VERSION << '\n';
        return EXIT_RUN_OK;
    }
    if (!options.error.empty()) {
        std::cerr << "kova-compute: " << options.error << '\n' << CLI_USAGE;
        return EXIT_USAGE;
    }
    if (options.check)
        return RunModelCheck(options.base);
    return RunFrontEnd(options);
}
