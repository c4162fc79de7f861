// kova-compute BASE: runs the model BASE.kvi and writes BASE.kvo and BASE.kvt.
#include "app/cli_frontend.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::cerr << "usage: kova-compute BASE   (runs BASE.kvi)\n";
        return EXIT_USAGE;
    }
    return RunModel(JoinBasePath(args), std::cerr);
}
