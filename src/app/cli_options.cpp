#include "app/cli_options.h"

const char* const CLI_USAGE =
    "usage: kova-compute [options] BASE\n"
    "Runs the model BASE.kvi and writes BASE.kvo (state records) and BASE.kvt (record times).\n"
    "BASE is every argument after the options, joined by single blanks.\n"
    "\n"
    "options:\n"
    "  --no-progress   no terminal display: one line per status change on stderr\n"
    "  --check         read and check BASE.kvi, print a summary of the model, run nothing\n"
    "  --help          this text\n"
    "  --version       the program's version\n"
    "  --              ends the options (for a BASE that starts with -)\n"
    "\n"
    "keys while the display runs: p pause, r resume, c or Ctrl-C cancel (asks first)\n"
    "exit codes: 0 finished, 1 failed, 2 usage error, 130 cancelled\n";

std::string JoinBasePath(const std::vector<std::string>& args) {
    std::string base;
    for (size_t k = 0; k < args.size(); ++k) {
        if (k > 0)
            base += ' ';
        base += args[k];
    }
    return base;
}

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
        else if (a == "--no-progress")
            options.noProgress = true;
        else if (a == "--check")
            options.check = true;
        else {
            options.error = "unknown option " + a;
            return options;
        }
    }
    options.base = JoinBasePath(std::vector<std::string>(args.begin() + k, args.end()));
    if (options.base.empty() && !options.help && !options.version)
        options.error = "no model given";
    return options;
}
