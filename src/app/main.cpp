// kova-compute [options] BASE: runs the model BASE.kvi, writes BASE.kvo and
// BASE.kvt; with --check only reads the model and prints its summary.
#include "app/cli_options.h"
#include "app/frontend.h"
#include "app/model_check.h"
#include "app/rxn_types_json.h"
#include "io/model_file.h"
#include "run/platform.h"

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

namespace {

// What was printed reached stdout, or the run fails as --check does when it
// cannot write its summary (a full device, a closed pipe).
int Printed(const char* what) {
    if (std::cout.flush())
        return EXIT_RUN_OK;
    std::cerr << "kova-compute: could not write the " << what << " to standard output\n";
    return EXIT_RUN_FAILED;
}

} // namespace

int main(int argc, char** argv) {
    EnsureStandardDescriptors();
    CCliOptions options = ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help || options.version || options.reactionTypes) {
        std::signal(SIGPIPE, SIG_IGN);
        if (options.help) {
            std::cout << CLI_USAGE;
            return Printed("usage");
        }
        if (options.version) {
            std::cout << "kova-compute " << KOVA_VERSION << '\n';
            return Printed("version");
        }
        std::cout << RxnTypesJson();
        return Printed("reaction types");
    }
    if (!options.error.empty()) {
        std::cerr << "kova-compute: " << options.error << '\n' << CLI_USAGE;
        return EXIT_USAGE;
    }
    // The model file's own name is accepted for its base.
    options.base = ModelBaseOf(options.base);
    if (options.check) {
        // A closed pipe is a failed write, reported by the check itself.
        std::signal(SIGPIPE, SIG_IGN);
        return RunModelCheck(options.base);
    }
    return RunFrontEnd(options);
}
