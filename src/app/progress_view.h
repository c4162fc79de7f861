// What the progress display shows, refreshed from the run control.
//
// Every value is compared with a cached copy and its text is rewritten only
// when it differs, so a value that never changes from 0.0 keeps its initial
// text "0". The refresh is skipped when the run control reports no change.
#pragma once

#include <optional>
#include <string>

class CRunControl;

// Enabled state of the Pause and Resume buttons: they toggle each other, and
// Resume starts disabled.
struct CButtonState {
    bool pauseEnabled = true;
    bool resumeEnabled = false;
};

class CProgressView {
public:
    // Brings the texts up to date; returns true when any text changed.
    bool Refresh(CRunControl& runControl);

    // Texts as shown.
    std::string m_startText = "0";
    std::string m_currentText = "0";
    std::string m_endText = "0";
    std::string m_globalStepText = "0";
    std::string m_minLocalText = "0";
    std::string m_reducedText = "0";
    std::string m_statusText = "Loading ...";
    std::string m_fileText;
    int m_progress = 0; // bar position, 0 to 100

    // Caches of the values last shown.
    double m_start = 0.0;
    double m_current = 0.0;
    double m_end = 0.0;
    double m_globalStep = 0.0;
    double m_minLocal = 0.0;
    int m_reduced = 0;
    std::optional<std::string> m_statusCache;
    std::optional<std::string> m_fileCache;
};

// Replaces the cached copy when the text differs (null and non-null differ);
// returns 1 when the cache changed.
int UpdateCachedText(std::optional<std::string>& cache, const std::optional<std::string>& text);

// (current - start) x 100 / (end - start), truncated toward zero; 0 when end
// equals start or the result is not a finite number.
int ProgressPercent(double current, double start, double end);

// A value with three significant digits ("0.1", "12.5", "1.23e+06").
std::string FormatValue(double value);
