#include "app/progress_view.h"

#include "run/run_control.h"

#include <climits>
#include <cmath>
#include <cstdio>

int UpdateCachedText(std::optional<std::string>& cache, const std::optional<std::string>& text) {
    if (cache == text)
        return 0;
    cache = text;
    return 1;
}

int ProgressPercent(double current, double start, double end) {
    const double span = end - start;
    if (span == 0.0)
        return 0;
    const double percent = std::trunc((current - start) * 100.0 / span);
    if (!std::isfinite(percent))
        return 0;
    if (percent > INT_MAX)
        return INT_MAX;
    if (percent < INT_MIN)
        return INT_MIN;
    return static_cast<int>(percent);
}

std::string FormatValue(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3g", value);
    return buffer;
}

namespace {

bool UpdateValue(double value, double& cache, std::string& text) {
    if (value == cache)
        return false;
    cache = value;
    text = FormatValue(value);
    return true;
}

} // namespace

bool CProgressView::Refresh(CRunControl& runControl) {
    if (!runControl.IsChanged())
        return false;
    bool changed = UpdateValue(runControl.GetStartTime(), m_start, m_startText);
    changed |= UpdateValue(runControl.GetEndTime(), m_end, m_endText);
    if (UpdateValue(runControl.GetCurrentTime(), m_current, m_currentText)) {
        // The bar moves with the current time only, from the cached values.
        const int percent = ProgressPercent(m_current, m_start, m_end);
        m_progress = percent < 0 ? 0 : percent > 100 ? 100 : percent;
        changed = true;
    }
    changed |= UpdateValue(runControl.GetGlobalStep(), m_globalStep, m_globalStepText);
    changed |= UpdateValue(runControl.GetMinLocalStep(), m_minLocal, m_minLocalText);
    const int reduced = runControl.GetReducedNodes();
    if (reduced != m_reduced) {
        m_reduced = reduced;
        m_reducedText = std::to_string(reduced);
        changed = true;
    }
    if (UpdateCachedText(m_statusCache, runControl.GetStatus())) {
        m_statusText = m_statusCache.value_or("");
        changed = true;
    }
    if (UpdateCachedText(m_fileCache, std::string(runControl.GetFileName()))) {
        m_fileText = m_fileCache.value_or("");
        changed = true;
    }
    runControl.ClearChanged();
    return changed;
}
