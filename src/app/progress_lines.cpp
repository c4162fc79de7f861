#include "app/progress_lines.h"

namespace {

constexpr int BAR_WIDTH = 50;

std::string Pad(std::string text, size_t width) {
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

std::string Bar(int percent) {
    const int filled = percent * BAR_WIDTH / 100;
    return "[" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(BAR_WIDTH - filled), '-') + "] " +
           std::to_string(percent) + "%";
}

std::string Keys(const CButtonState& buttons, bool asking, bool keysActive) {
    if (asking)
        return ABORT_QUESTION;
    if (!keysActive)
        return "";
    std::string keys;
    if (buttons.pauseEnabled)
        keys += "p pause   ";
    if (buttons.resumeEnabled)
        keys += "r resume   ";
    return keys + "c cancel";
}

} // namespace

std::vector<std::string> RenderProgressLines(const CProgressView& view, const CButtonState& buttons,
                                             bool asking, bool keysActive, int width) {
    std::vector<std::string> lines = {
        PROGRESS_TITLE,
        "File             " + view.m_fileText,
        "Simulation Time  Starting " + Pad(view.m_startText, 10) + " Current " +
            Pad(view.m_currentText, 10) + " Ending " + view.m_endText,
        "Timestep         Global   " + Pad(view.m_globalStepText, 10) + " Min. Local " +
            Pad(view.m_minLocalText, 10) + " # Reduced Nodes " + view.m_reducedText,
        Bar(view.m_progress),
        view.m_statusText,
        Keys(buttons, asking, keysActive)};
    // A line longer than the terminal would wrap and shift the redraw.
    const size_t limit = width > 1 ? static_cast<size_t>(width - 1) : 1;
    for (auto& line : lines)
        if (line.size() > limit)
            line.resize(limit);
    return lines;
}
