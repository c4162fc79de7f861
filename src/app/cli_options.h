// The command line of kova-compute: options first, then the model's base path.
#pragma once

#include <string>
#include <vector>

struct CCliOptions {
    bool help = false;
    bool version = false;
    bool noProgress = false;
    bool check = false;
    std::string base;  // the remaining arguments joined by single blanks, unchanged
    std::string error; // non-empty when the command line is unusable
};

// Options are recognised until the first other argument or "--"; everything
// from there on is the base path.
CCliOptions ParseCliOptions(const std::vector<std::string>& args);

// The model's base path: the arguments joined by single blanks, unchanged.
std::string JoinBasePath(const std::vector<std::string>& args);

extern const char* const CLI_USAGE;
