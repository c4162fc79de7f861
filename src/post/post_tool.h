// The frame both post-processing tools (kova-export, kova-plot) run in: the
// part of the command line they share (one BASE, -h/--help, options that take
// a value), a tool's work on a run's results with its failures reported as
// "TOOL: detail", and what main does with help and an unusable command line.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

class CRunResults;

constexpr int POST_EXIT_OK = 0;
constexpr int POST_EXIT_FAILED = 1; // a file that is missing, bad or cannot be written
constexpr int POST_EXIT_USAGE = 2;

// What the options of every post tool hold.
struct CPostToolOptions {
    bool help = false;
    std::string base;
    std::string error; // non-empty when the command line is unusable
};

// Walks a tool's command line once, front to back. The tool takes its own
// options itself and hands every other argument to TakeShared; the walk stops
// at the first error.
class CPostToolArgs {
public:
    // Both are borrowed for the walk.
    CPostToolArgs(const std::vector<std::string>& args, CPostToolOptions& options)
        : m_args(args), m_options(options) {}

    // Moves to the next argument; false at the end or after an error.
    bool Next();
    const std::string& Arg() const { return m_args[m_current]; }
    // Takes the argument after the current option as its value, or records
    // "OPTION needs a value" and returns false.
    bool TakeValue(std::string& value);
    // -h/--help; else an option the tool does not know; else BASE (a result
    // file's name stands for it), which may be given once.
    void TakeShared();
    // After the walk: true when the tool's own checks follow; false after
    // -h/--help, after an error, or without BASE ("no BASE given").
    bool Complete();

private:
    const std::vector<std::string>& m_args;
    CPostToolOptions& m_options;
    size_t m_current = 0;
    size_t m_next = 0;
};

// Runs work, reporting a failure on err as "TOOL: detail". Returns
// POST_EXIT_OK or POST_EXIT_FAILED.
int RunReported(const char* tool, std::ostream& err, const std::function<void()>& work);

// Opens the run BASE, notes on err when it did not finish (and when its last
// record was cut short and is skipped), and hands it to work. A failure of
// either is reported on err as "TOOL: detail". Returns POST_EXIT_OK or
// POST_EXIT_FAILED.
int RunOnResults(const char* tool, const std::string& base, std::ostream& err,
                 const std::function<void(CRunResults&)>& work);

// A tool's main once its command line is parsed: the usage on out for
// -h/--help; the error and the usage on err for an unusable command line
// (POST_EXIT_USAGE); else what run returns.
int PostToolMain(const char* tool, const char* usage, const CPostToolOptions& options,
                 std::ostream& out, std::ostream& err, const std::function<int()>& run);
