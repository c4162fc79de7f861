#include "post/post_tool.h"

#include "post/base_path.h"
#include "post/result_exception.h"
#include "post/run_results.h"

#include <exception>

bool CPostToolArgs::Next() {
    if (!m_options.error.empty() || m_next >= m_args.size())
        return false;
    m_current = m_next++;
    return true;
}

bool CPostToolArgs::TakeValue(std::string& value) {
    if (m_next >= m_args.size()) {
        m_options.error = Arg() + " needs a value";
        return false;
    }
    value = m_args[m_next++];
    return true;
}

void CPostToolArgs::TakeShared() {
    const std::string& arg = Arg();
    if (arg == "-h" || arg == "--help")
        m_options.help = true;
    else if (arg.size() > 1 && arg[0] == '-')
        m_options.error = "unknown option " + arg;
    else if (!m_options.base.empty())
        m_options.error = "more than one BASE given (" + m_options.base + ", " + arg + ")";
    else
        m_options.base = StripResultExtension(arg);
}

bool CPostToolArgs::Complete() {
    if (m_options.help || !m_options.error.empty())
        return false;
    if (m_options.base.empty()) {
        m_options.error = "no BASE given";
        return false;
    }
    return true;
}

int RunReported(const char* tool, std::ostream& err, const std::function<void()>& work) {
    try {
        work();
    } catch (const ResultException& e) {
        err << tool << ": " << e.Detail() << '\n';
        return POST_EXIT_FAILED;
    } catch (const std::exception& e) {
        err << tool << ": " << e.what() << '\n';
        return POST_EXIT_FAILED;
    }
    return POST_EXIT_OK;
}

int RunOnResults(const char* tool, const std::string& base, std::ostream& err,
                 const std::function<void(CRunResults&)>& work) {
    return RunReported(tool, err, [&] {
        CRunResults run(base);
        for (const std::string& notice : {run.UnfinishedNotice(), run.SkippedRecordNotice()})
            if (!notice.empty())
                err << tool << ": " << notice << '\n';
        work(run);
    });
}

int PostToolMain(const char* tool, const char* usage, const CPostToolOptions& options,
                 std::ostream& out, std::ostream& err, const std::function<int()>& run) {
    if (options.help) {
        out << usage;
        return POST_EXIT_OK;
    }
    if (!options.error.empty()) {
        err << tool << ": " << options.error << '\n' << usage;
        return POST_EXIT_USAGE;
    }
    return run();
}
