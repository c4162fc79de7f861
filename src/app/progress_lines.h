// The progress display as lines of text, ready for a terminal.
#pragma once

#include "app/progress_view.h"
#include "app/terminal_session.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

constexpr const char* PROGRESS_TITLE = "KOVA Vellum Compute";
constexpr const char* ABORT_QUESTION = "Do you want to abort this simulation? [y/N]";

// The display's lines (always the same number), each cut to `width` columns.
// keysActive: the run can still be paused or cancelled from the keyboard.
std::vector<std::string> RenderProgressLines(const CProgressView& view, const CButtonState& buttons,
                                             bool asking, bool keysActive, int width);

// The width to render the lines for in a window of `size`: its columns, or
// 80 when the terminal does not tell.
int DisplayWidth(CTerminalSize size);

// Draws the display in place on a terminal: each draw moves the cursor back
// to the first line of the block drawn before and rewrites it.
//
// The block never takes more rows than the window has: the cursor rests on
// the row below it, so a window of R rows shows the last R - 1 lines (the
// bar, the status and the keys are kept longest). A taller block would push
// its first lines into the scrollback at every draw. When the window's size
// changed since the last draw, the terminal may have rewrapped the old block,
// so the draw goes up as many rows as the old lines can take now, erasing
// them, before drawing afresh.
class CDisplayPainter {
public:
    // fd: the terminal the block is drawn on.
    explicit CDisplayPainter(int fd) : m_fd(fd) {}

    // The writes of one draw, in order, each with its file descriptor:
    // `above` (message lines, kept above the block; those for other file
    // descriptors go there as they are), then the block of `lines` for a
    // window of `size` (rows 0: as many as there are lines).
    std::vector<std::pair<int, std::string>>
    Paint(const std::vector<std::string>& lines,
          const std::vector<std::pair<int, std::string>>& above, CTerminalSize size);

    // The lines on the terminal since the last draw.
    size_t DrawnLines() const { return m_drawnLengths.size(); }

private:
    int m_fd;
    CTerminalSize m_size; // at the last draw
    std::vector<size_t> m_drawnLengths;
};
