#include "post/base_path.h"

std::string StripResultExtension(const std::string& path) {
    for (const char* extension : {".kvi", ".kvo", ".kvt", ".budget.csv", ".obs.csv"}) {
        const std::string ext = extension;
        if (path.size() > ext.size() &&
            path.compare(path.size() - ext.size(), ext.size(), ext) == 0)
            return path.substr(0, path.size() - ext.size());
    }
    return path;
}

std::string BaseStem(const std::string& base) {
    const size_t slash = base.find_last_of('/');
    return slash == std::string::npos ? base : base.substr(slash + 1);
}

std::string BaseDirectory(const std::string& base) {
    const size_t slash = base.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return base.substr(0, slash);
}

std::string BudgetPath(const std::string& base) {
    return base + ".budget.csv";
}

std::string ObservationPath(const std::string& base) {
    return base + ".obs.csv";
}
