#include "app/cli_options.h"

#include "model/limits.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>

const char* const CLI_USAGE =
    "usage: kova-compute [options] BASE\n"
    "Runs the model BASE.kvi (with BASE.kvx when there is one) and writes BASE.kvo (state\n"
    "records), BASE.kvt (record times), BASE.budget.csv (the mass budget) and, when the\n"
    "extension file names observation wells, BASE.obs.csv.\n"
    "BASE is every argument after the options, joined by single blanks.\n"
    "\n"
    "options:\n"
    "  --no-progress   no terminal display: one line per status change on stderr\n"
    "  --check         read and check BASE.kvi, print a summary of the model, run nothing\n"
    "  --threads N     compute with N threads (default: all hardware threads, fewer\n"
    "                  on a grid too small to share); every count gives the same results\n"
    "  --timings       print the wall time of each phase to stderr at the end\n"
    "  --no-budget     write no mass budget (BASE.budget.csv) and no summary of it\n"
    "  --continue      go on from the checkpoint BASE.kvr that a run killed, cancelled or\n"
    "                  finished left; the results equal those of a run never stopped\n"
    "  --until T       with --continue: go on to the end time T instead of the model's\n"
    "  --progress=json no display: the progress as one JSON object a line on stderr, at\n"
    "                  every status change and every second (status, time, start, end,\n"
    "                  fraction, step, reduced)\n"
    "  --help          this text\n"
    "  --version       the program's version\n"
    "  --reaction-types\n"
    "                  the reaction types as JSON: code, class, kind and the record's\n"
    "                  fields in file order (name, kind, label)\n"
    "  --              ends the options (for a BASE that starts with -)\n"
    "\n"
    "keys while the display runs: p pause, r resume, c or Ctrl-C cancel (asks first)\n"
    "exit codes: 0 finished, 1 failed, 2 usage error, 130 cancelled\n";

CRunSettings RunSettingsOf(const CCliOptions& options, int threads) {
    CRunSettings settings;
    settings.m_threads = threads;
    settings.m_threadsForced = options.threads > 0;
    settings.m_keepBudget = !options.noBudget;
    settings.m_continue = options.continueRun;
    settings.m_untilGiven = options.untilGiven;
    settings.m_until = options.until;
    return settings;
}

std::string JoinBasePath(const std::vector<std::string>& args) {
    std::string base;
    for (size_t k = 0; k < args.size(); ++k) {
        if (k > 0)
            base += ' ';
        base += args[k];
    }
    return base;
}

namespace {

// A thread count: a whole number from 1 to THREADS_MAX, nothing else; 0 when
// the text is none.
int ParseThreadCount(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return value >= 1 && value <= THREADS_MAX ? static_cast<int>(value) : 0;
}

// A time: a finite decimal number and nothing else; false when the text is none.
bool ParseTime(const std::string& text, double* time) {
    if (text.empty() || text.find_first_not_of("0123456789+-.eE") != std::string::npos)
        return false;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value))
        return false;
    *time = value;
    return true;
}

// Whether argument a is option name with a value: "NAME VALUE" or "NAME=VALUE".
bool TakesValue(const std::string& a, const std::string& name) {
    return a == name || a.rfind(name + "=", 0) == 0;
}

// The value of option name at args[k], from the argument after it (k moves
// on to it) or after its '='; empty when there is none.
std::string ValueOf(const std::vector<std::string>& args, size_t& k, const std::string& name) {
    const std::string& a = args[k];
    if (a != name)
        return a.substr(name.size() + 1);
    return k + 1 < args.size() ? args[++k] : std::string();
}

} // namespace

CCliOptions ParseCliOptions(const std::vector<std::string>& args) {
    CCliOptions options;
    size_t k = 0;
    for (; k < args.size(); ++k) {
        const std::string& a = args[k];
        if (a == "--") {
            ++k;
            break;
        }
        if (a.size() < 2 || a[0] != '-')
            break;
        if (a == "--help" || a == "-h")
            options.help = true;
        else if (a == "--version")
            options.version = true;
        else if (a == "--reaction-types")
            options.reactionTypes = true;
        else if (a == "--no-progress")
            options.noProgress = true;
        else if (a == "--check")
            options.check = true;
        else if (a == "--timings")
            options.timings = true;
        else if (a == "--no-budget")
            options.noBudget = true;
        else if (a == "--progress=json")
            options.progressJson = true;
        else if (a == "--continue")
            options.continueRun = true;
        else if (TakesValue(a, "--until")) {
            const std::string value = ValueOf(args, k, "--until");
            options.untilGiven = true;
            if (!ParseTime(value, &options.until)) {
                options.error = "--until needs a time (a finite number), not '" + value + "'";
                return options;
            }
        } else if (TakesValue(a, "--threads")) {
            const std::string value = ValueOf(args, k, "--threads");
            options.threads = ParseThreadCount(value);
            if (options.threads == 0) {
                options.error = "--threads needs a whole number from 1 to " +
                                std::to_string(THREADS_MAX) + ", not '" + value + "'";
                return options;
            }
        } else {
            options.error = "unknown option " + a;
            return options;
        }
    }
    options.base = JoinBasePath(
        std::vector<std::string>(args.begin() + static_cast<std::ptrdiff_t>(k), args.end()));
    if (options.base.empty() && !options.help && !options.version && !options.reactionTypes)
        options.error = "no model given";
    else if (options.untilGiven && !options.continueRun)
        options.error = "--until goes with --continue: a new run ends at its model's end time";
    else if (options.continueRun && options.check)
        options.error = "--check reads a model and runs nothing: it does not go on with --continue";
    return options;
}
