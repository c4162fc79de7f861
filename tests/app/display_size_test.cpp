// The progress display in windows smaller than it and in windows resized
// while it runs. The painter's bytes are checked as they are and fed to a
// small terminal model (cursor moves, line erases, wrapping, scrolling into a
// scrollback, and a resize with or without rewrapping), which shows what a
// person would see: no draw may push lines into the scrollback once the block
// stands, and no old line of the block may stay on the screen.
#include "app/progress_lines.h"
#include "model/index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace {

constexpr int DISPLAY_FD = 2;
constexpr int OTHER_FD = 1;

// A terminal as far as the display uses one. Rows remember whether the text
// ran on into the next row (autowrap), so that a rewrapping resize can join
// them again as terminals with reflow do.
class CTerminalModel {
public:
    CTerminalModel(int rows, int cols) : m_rows(rows), m_cols(cols) {
        m_screen.assign(static_cast<size_t>(rows), Row());
    }

    void Feed(const std::string& bytes) {
        for (size_t k = 0; k < bytes.size(); ++k) {
            const char c = bytes[k];
            if (c == '\r') {
                m_x = 0;
            } else if (c == '\n') {
                m_x = 0; // the tty's output processing sends "\r\n" (ONLCR)
                LineFeed();
            } else if (c == '\x1b') {
                ASSERT_LT(k + 1, bytes.size());
                ASSERT_EQ(bytes[k + 1], '[') << "only CSI sequences are expected";
                size_t end = k + 2;
                while (end < bytes.size() && (std::isdigit(bytes[end]) || bytes[end] == ';'))
                    ++end;
                ASSERT_LT(end, bytes.size());
                const std::string param = bytes.substr(k + 2, end - k - 2);
                Csi(param, bytes[end]);
                k = end;
            } else {
                Put(c);
            }
        }
    }

    // A resize: shorter windows push their top rows into the scrollback as
    // far as needed to keep the cursor's row; with reflow the rows are
    // rewrapped to the new width first.
    void Resize(int rows, int cols, bool reflow) {
        if (reflow && cols != m_cols)
            Rewrap(cols);
        m_cols = cols;
        for (auto& row : m_screen)
            if (row.text.size() > static_cast<size_t>(cols))
                row.text.resize(static_cast<size_t>(cols)); // no reflow: cut off
        while (m_y >= rows) {
            ScrollUp();
            --m_y;
        }
        m_screen.resize(static_cast<size_t>(rows), Row());
        while (static_cast<int>(m_screen.size()) < rows)
            m_screen.push_back(Row());
        m_rows = rows;
        m_x = std::min(m_x, cols - 1);
    }

    int Scrolled() const { return m_scrolled; }
    int CursorRow() const { return m_y; }
    int CursorCol() const { return m_x; }
    // Row r as shown, trailing blanks dropped.
    std::string Text(int r) const {
        std::string text = m_screen[static_cast<size_t>(r)].text;
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        return text;
    }
    int Rows() const { return m_rows; }

private:
    struct Row {
        std::string text;
        bool wrapped = false; // ran on into the next row
    };

    void Csi(const std::string& param, char command) {
        const int n = param.empty() ? 0 : std::stoi(param);
        switch (command) {
        case 'A':
            m_y = std::max(0, m_y - std::max(n, 1));
            break;
        case 'J':
            ASSERT_EQ(n, 0) << "only erase below is expected";
            if (m_x == 0 && m_y == 0) {
                // As tmux does: a screen erased from its top-left corner is
                // kept in the scrollback, down to its last used row.
                int used = 0;
                for (int r = 0; r < m_rows; ++r)
                    if (!m_screen[static_cast<size_t>(r)].text.empty())
                        used = r + 1;
                m_scrolled += used;
            }
            Cut(m_y, m_x);
            for (int r = m_y + 1; r < m_rows; ++r)
                m_screen[static_cast<size_t>(r)] = Row();
            break;
        case 'K':
            ASSERT_EQ(n, 2) << "only erase line is expected";
            m_screen[static_cast<size_t>(m_y)] = Row();
            break;
        default:
            FAIL() << "unexpected CSI " << param << command;
        }
    }

    void Cut(int r, int x) {
        Row& row = m_screen[static_cast<size_t>(r)];
        if (row.text.size() > static_cast<size_t>(x))
            row.text.resize(static_cast<size_t>(x));
        row.wrapped = false;
    }

    void Put(char c) {
        if (m_x >= m_cols) { // autowrap
            m_screen[static_cast<size_t>(m_y)].wrapped = true;
            m_x = 0;
            LineFeed();
        }
        std::string& text = m_screen[static_cast<size_t>(m_y)].text;
        if (text.size() <= static_cast<size_t>(m_x))
            text.resize(static_cast<size_t>(m_x) + 1, ' ');
        text[static_cast<size_t>(m_x)] = c;
        ++m_x;
    }

    void LineFeed() {
        if (m_y + 1 < m_rows) {
            ++m_y;
            return;
        }
        ScrollUp();
    }

    void ScrollUp() {
        m_screen.erase(m_screen.begin());
        m_screen.push_back(Row());
        ++m_scrolled;
    }

    // Joins the rows into the lines they were written as and wraps them at
    // the new width; the cursor stays at its place in its line.
    void Rewrap(int cols) {
        std::vector<std::string> logical;
        size_t cursorLine = 0, cursorOffset = 0;
        std::string current;
        for (int r = 0; r < m_rows; ++r) {
            const Row& row = m_screen[static_cast<size_t>(r)];
            if (r == m_y) {
                cursorLine = logical.size();
                cursorOffset = current.size() + static_cast<size_t>(m_x);
            }
            current += row.wrapped ? row.text + std::string(ToSize(m_cols) - row.text.size(), ' ')
                                   : row.text;
            if (!row.wrapped) {
                logical.push_back(current);
                current.clear();
            }
        }
        if (!current.empty())
            logical.push_back(current);
        std::vector<Row> rows;
        int cursorRow = 0, cursorCol = 0;
        for (size_t l = 0; l < logical.size(); ++l) {
            const std::string& text = logical[l];
            const size_t width = ToSize(cols);
            const size_t pieces = std::max<size_t>(1, (text.size() + width - 1) / width);
            for (size_t p = 0; p < pieces; ++p) {
                Row row;
                row.text = text.substr(p * width, width);
                row.wrapped = p + 1 < pieces;
                if (l == cursorLine && cursorOffset / width == p) {
                    cursorRow = static_cast<int>(rows.size());
                    cursorCol = static_cast<int>(cursorOffset % width);
                }
                rows.push_back(row);
            }
        }
        // Blank rows below the cursor are not content; they do not push the
        // rows above into the scrollback.
        while (static_cast<int>(rows.size()) > m_rows &&
               static_cast<int>(rows.size()) - 1 > cursorRow && rows.back().text.empty())
            rows.pop_back();
        while (static_cast<int>(rows.size()) > m_rows) {
            rows.erase(rows.begin());
            --cursorRow;
            ++m_scrolled;
        }
        rows.resize(static_cast<size_t>(m_rows));
        m_screen = rows;
        m_y = cursorRow;
        m_x = cursorCol;
    }

    int m_rows;
    int m_cols;
    std::vector<Row> m_screen;
    int m_x = 0;
    int m_y = 0;
    int m_scrolled = 0;
};

// Display-like lines: distinct texts, the longer ones filling the width less one.
std::vector<std::string> Lines(int width, int tick) {
    const size_t limit = static_cast<size_t>(std::max(width - 1, 1));
    std::vector<std::string> lines = {
        "KOVA title",
        "File             /some/long/path/to/a/model/with/a/long/name/plume",
        "Simulation Time  Starting 0          Current " + std::to_string(tick) + " Ending 100",
        "Timestep         Global   0.1        Min. Local 0.05 # Reduced Nodes 0",
        "[" + std::string(static_cast<size_t>(tick % 50), '#') + "] " + std::to_string(tick) + "%",
        "Simulating ... " + std::to_string(tick),
        "p pause   c cancel"};
    for (auto& line : lines)
        if (line.size() > limit)
            line.resize(limit);
    return lines;
}

void Draw(CDisplayPainter& painter, CTerminalModel& terminal, int tick) {
    for (const auto& write : painter.Paint(Lines(80, tick), {}, {terminal.Rows(), 80}))
        terminal.Feed(write.second);
}

std::string Trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

// After a draw: the cursor rests at the start of the row below the block,
// the rows above it hold the last lines of the display, the rows below are
// blank, and no other row holds a line of the display.
void ExpectBlockShown(const CTerminalModel& terminal, const std::vector<std::string>& lines,
                      size_t shown) {
    ASSERT_EQ(terminal.CursorCol(), 0);
    const int top = terminal.CursorRow() - static_cast<int>(shown);
    ASSERT_GE(top, 0);
    for (size_t k = 0; k < shown; ++k)
        EXPECT_EQ(terminal.Text(top + static_cast<int>(k)),
                  Trimmed(lines[lines.size() - shown + k]))
            << "row " << top + static_cast<int>(k);
    for (int r = terminal.CursorRow(); r < terminal.Rows(); ++r)
        EXPECT_EQ(terminal.Text(r), "") << "row " << r << " below the block";
    for (int r = 0; r < top; ++r)
        for (const char* start : {"KOVA", "File ", "Simulation", "Timestep", "[", "p pause"})
            EXPECT_NE(terminal.Text(r).rfind(start, 0), 0u)
                << "an old line stands above the block, row " << r << ": " << terminal.Text(r);
}

TEST(DisplaySize, TheBlockIsRewrittenInPlace) {
    CDisplayPainter painter(DISPLAY_FD);
    const std::vector<std::string> lines = {"a", "bb", "ccc"};
    auto first = painter.Paint(lines, {}, {24, 80});
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].second, "\r\x1b[2Ka\n\r\x1b[2Kbb\n\r\x1b[2Kccc\n");
    auto again = painter.Paint(lines, {}, {24, 80});
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].second, "\x1b[3A\r\r\x1b[2Ka\n\r\x1b[2Kbb\n\r\x1b[2Kccc\n");

    // Messages: the block goes, erased row by row on the way up; they take
    // its place, the block follows.
    auto messages = painter.Paint(lines, {{DISPLAY_FD, "warning"}, {OTHER_FD, "out"}}, {24, 80});
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], std::make_pair(DISPLAY_FD, std::string("\r\x1b[2K\x1b[A\x1b[2K\x1b[A"
                                                                  "\x1b[2K\x1b[A\x1b[2K"
                                                                  "\r\x1b[2Kwarning\n")));
    EXPECT_EQ(messages[1], std::make_pair(OTHER_FD, std::string("out\n")));
    EXPECT_EQ(messages[2].second, "\r\x1b[2Ka\n\r\x1b[2Kbb\n\r\x1b[2Kccc\n");
}

TEST(DisplaySize, ASmallWindowShowsTheLastLinesThatFit) {
    struct CCase {
        int rows;
        size_t shown;
    };
    // rows 0: the terminal does not say; everything is drawn.
    const CCase cases[] = {{0, 7}, {1, 0}, {2, 1}, {4, 3}, {7, 6}, {8, 7}, {50, 7}};
    const std::vector<std::string> lines = Lines(80, 3);
    for (const CCase& c : cases) {
        SCOPED_TRACE("rows " + std::to_string(c.rows));
        CDisplayPainter painter(DISPLAY_FD);
        std::string drawn;
        for (int k = 0; k < 2; ++k) {
            drawn.clear();
            for (const auto& write : painter.Paint(lines, {}, {c.rows, 80}))
                drawn += write.second;
        }
        EXPECT_EQ(painter.DrawnLines(), c.shown);
        std::string expected = c.shown > 0 ? "\x1b[" + std::to_string(c.shown) + "A\r" : "";
        for (size_t k = lines.size() - c.shown; k < lines.size(); ++k)
            expected += "\r\x1b[2K" + lines[k] + "\n";
        EXPECT_EQ(drawn, expected);
    }
}

TEST(DisplaySize, RedrawsInASmallWindowNeverFloodTheScrollback) {
    for (const int rows : {2, 3, 5, 7, 8, 12}) {
        SCOPED_TRACE("rows " + std::to_string(rows));
        CTerminalModel terminal(rows, 80);
        terminal.Feed("$ kova-compute plume\r\n");
        CDisplayPainter painter(DISPLAY_FD);
        Draw(painter, terminal, 0);
        const int scrolled = terminal.Scrolled();
        for (int tick = 1; tick < 20; ++tick) {
            Draw(painter, terminal, tick);
            ASSERT_EQ(terminal.Scrolled(), scrolled) << "draw " << tick;
            ExpectBlockShown(terminal, Lines(80, tick), std::min<size_t>(7, ToSize(rows - 1)));
        }
    }
}

TEST(DisplaySize, MessagesInASmallWindowAreAllThatGoesToTheScrollback) {
    for (const int rows : {2, 3, 5, 8}) {
        SCOPED_TRACE("rows " + std::to_string(rows));
        CTerminalModel terminal(rows, 80);
        CDisplayPainter painter(DISPLAY_FD);
        for (int tick = 0; tick < 3; ++tick)
            Draw(painter, terminal, tick);
        for (int tick = 3; tick < 10; ++tick) {
            const int before = terminal.Scrolled();
            const std::vector<std::pair<int, std::string>> messages(
                static_cast<size_t>(tick % 3), {DISPLAY_FD, "a message " + std::to_string(tick)});
            const std::vector<std::string> lines = Lines(80, tick);
            for (const auto& write : painter.Paint(lines, messages, {rows, 80}))
                terminal.Feed(write.second);
            EXPECT_LE(terminal.Scrolled() - before, static_cast<int>(messages.size()))
                << "draw " << tick;
            const size_t shown = std::min<size_t>(7, static_cast<size_t>(rows - 1));
            ExpectBlockShown(terminal, lines, shown);
            // The messages stand right above the block, as far as they fit.
            const int top = terminal.CursorRow() - static_cast<int>(shown);
            for (int r = top - 1, m = static_cast<int>(messages.size()) - 1; r >= 0 && m >= 0;
                 --r, --m)
                EXPECT_EQ(terminal.Text(r), messages[static_cast<size_t>(m)].second);
        }
    }
}

TEST(DisplaySize, AResizedWindowKeepsNoOldLines) {
    struct CCase {
        const char* what;
        int rows, cols;
        bool reflow;
    };
    const CCase cases[] = {
        {"narrower, rewrapped", 24, 30, true},
        {"narrower, cut off", 24, 30, false},
        {"much narrower, rewrapped", 24, 12, true},
        {"wider", 24, 120, true},
        {"shorter than the block", 5, 80, true},
        {"shorter and narrower, rewrapped", 6, 25, true},
        {"shorter and narrower, cut off", 6, 25, false},
        {"taller", 40, 80, false},
        {"a single row", 1, 80, false},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.what);
        CTerminalModel terminal(24, 80);
        terminal.Feed("$ kova-compute plume\r\nsome output before the run\r\n");
        CDisplayPainter painter(DISPLAY_FD);
        for (int tick = 0; tick < 3; ++tick)
            for (const auto& write : painter.Paint(Lines(80, tick), {}, {24, 80}))
                terminal.Feed(write.second);

        terminal.Resize(c.rows, c.cols, c.reflow);
        const int scrolled = terminal.Scrolled();
        for (int tick = 3; tick < 6; ++tick) {
            const std::vector<std::string> lines = Lines(c.cols, tick);
            for (const auto& write : painter.Paint(lines, {}, {c.rows, c.cols}))
                terminal.Feed(write.second);
            EXPECT_EQ(terminal.Scrolled(), scrolled) << "draw " << tick;
            ExpectBlockShown(terminal, lines, std::min<size_t>(7, ToSize(c.rows - 1)));
        }
    }
}

TEST(DisplaySize, AResizeMovesUpAsFarAsTheOldLinesCanReach) {
    CDisplayPainter painter(DISPLAY_FD);
    const std::vector<std::string> wide = {std::string(79, 'x'), "", std::string(30, 'y')};
    painter.Paint(wide, {}, {24, 80});
    // At 20 columns the old lines take 4 + 1 + 2 rows, each erased on the way up.
    std::string erase7 = "\r\x1b[2K";
    for (int k = 0; k < 7; ++k)
        erase7 += "\x1b[A\x1b[2K";
    const auto narrow = painter.Paint({"a", "b", "c"}, {}, {24, 20});
    ASSERT_EQ(narrow.size(), 1u);
    EXPECT_EQ(narrow[0].second, erase7 + "\r\x1b[2Ka\n\r\x1b[2Kb\n\r\x1b[2Kc\n");
    // Unchanged since: back to the plain redraw.
    const auto same = painter.Paint({"a", "b", "c"}, {}, {24, 20});
    EXPECT_EQ(same[0].second.rfind("\x1b[3A\r\r", 0), 0u) << same[0].second;
    // No further up than the window is high.
    painter.Paint(wide, {}, {24, 80});
    const auto flat = painter.Paint({"a"}, {}, {3, 20});
    EXPECT_EQ(flat[0].second, "\r\x1b[2K\x1b[A\x1b[2K\x1b[A\x1b[2K\r\x1b[2Ka\n");
}

} // namespace
