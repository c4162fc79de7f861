#include "app/progress_lines.h"

#include <algorithm>

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

// The rows that lines of these lengths take in a window `cols` wide when
// the terminal wraps them (a terminal that rewraps its lines on a resize
// does so); each takes one row at least.
int RowsTaken(const std::vector<size_t>& lengths, int cols) {
    int rows = 0;
    for (const size_t length : lengths)
        rows += cols > 0 && length > 0 ? static_cast<int>((length + static_cast<size_t>(cols) - 1) /
                                                          static_cast<size_t>(cols))
                                       : 1;
    return rows;
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

int DisplayWidth(CTerminalSize size) {
    return size.cols > 0 ? size.cols : 80;
}

std::vector<std::pair<int, std::string>>
CDisplayPainter::Paint(const std::vector<std::string>& lines,
                       const std::vector<std::pair<int, std::string>>& above, CTerminalSize size) {
    const size_t room = size.rows > 1 ? static_cast<size_t>(size.rows - 1) : 0;
    const size_t shown = size.rows > 0 ? std::min(lines.size(), room) : lines.size();
    const bool resized = size != m_size;

    std::vector<std::pair<int, std::string>> writes;
    std::string out;
    if (!m_drawnLengths.empty()) {
        if (!resized && above.empty() && shown == m_drawnLengths.size()) {
            // The same rows again: each line is erased as it is rewritten.
            out += "\x1b[" + std::to_string(shown) + "A\r";
        } else {
            // The old block goes before anything else is written. After a
            // resize the terminal may have rewrapped its lines, so the way
            // up is as many rows as they can take now: past the top of the
            // window the cursor stops, so going too far erases at worst a
            // few lines above the block, while too short would leave old
            // lines standing. Rows are erased one by one on the way, not
            // with one erase-below: some terminals (tmux among them) save a
            // screen erased from its top-left corner into the scrollback,
            // which in a small window would be every time.
            int up = resized ? RowsTaken(m_drawnLengths, size.cols)
                             : static_cast<int>(m_drawnLengths.size());
            if (size.rows > 0)
                up = std::min(up, size.rows - 1);
            out += "\r\x1b[2K";
            for (int k = 0; k < up; ++k)
                out += "\x1b[A\x1b[2K";
        }
    }
    for (const auto& [fd, text] : above) {
        if (fd == m_fd) {
            out += "\r\x1b[2K" + text + "\n";
            continue;
        }
        if (!out.empty())
            writes.emplace_back(m_fd, out);
        out.clear();
        writes.emplace_back(fd, text + "\n");
    }
    m_drawnLengths.clear();
    for (size_t k = lines.size() - shown; k < lines.size(); ++k) {
        out += "\r\x1b[2K" + lines[k] + "\n";
        m_drawnLengths.push_back(lines[k].size());
    }
    m_size = size;
    if (!out.empty())
        writes.emplace_back(m_fd, out);
    return writes;
}
