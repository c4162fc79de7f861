// The command line of kova-compute: options first, then the model's base path.
#pragma once

#include "run/run_settings.h"

#include <string>
#include <vector>

struct CCliOptions {
    bool help = false;
    bool version = false;
    bool reactionTypes = false; // print the table of reaction types as JSON
    bool noProgress = false;
    bool check = false;        // read and summarise the model, run nothing
    bool timings = false;      // phase times on stderr at the end of the run
    bool noBudget = false;     // no BASE.budget.csv
    bool progressJson = false; // progress as JSON lines on stderr, no display
    bool continueRun = false;  // go on from BASE.kvr
    bool untilGiven = false;   // --until: the end time of a run that goes on
    double until = 0.0;
    int threads = 0;   // threads to compute with; 0: all hardware threads (fewer on a small grid)
    std::string base;  // the remaining arguments joined by single blanks, unchanged
    std::string error; // non-empty when the command line is unusable
};

// Options are recognised until the first other argument or "--"; everything
// from there on is the base path.
CCliOptions ParseCliOptions(const std::vector<std::string>& args);

// The run's settings from the options, computing with threads threads.
CRunSettings RunSettingsOf(const CCliOptions& options, int threads);

// The model's base path: the arguments joined by single blanks, unchanged.
std::string JoinBasePath(const std::vector<std::string>& args);

extern const char* const CLI_USAGE;
