// The terminal side of the front end: keyboard raw mode, cursor visibility and
// the signals that cancel a run. The terminal is restored on every way out:
// normal return, exceptions (destructors), and fatal signals (a handler
// restores it before the default action).
#pragma once

// Puts the keyboard (standard input, when it is a terminal) into raw mode:
// keys arrive one at a time, unechoed, and Ctrl-C arrives as a key.
class CRawKeyboard {
public:
    explicit CRawKeyboard(bool enable);
    ~CRawKeyboard();
    CRawKeyboard(const CRawKeyboard&) = delete;
    CRawKeyboard& operator=(const CRawKeyboard&) = delete;
    bool Active() const { return m_active; }

private:
    bool m_active = false;
};

// SIGINT, SIGTERM, SIGHUP (the terminal closed) and SIGQUIT become bytes on a pipe that the front
// end's loop polls; the previous handlers come back when the object goes.
class CSignalWatch {
public:
    CSignalWatch();
    ~CSignalWatch();
    CSignalWatch(const CSignalWatch&) = delete;
    CSignalWatch& operator=(const CSignalWatch&) = delete;
    int ReadFd() const;
    // Empties the pipe; returns true when a signal had arrived.
    bool Drain();
};

// Hides the cursor on a terminal while the display runs; shows it again when
// the object goes (or a fatal signal arrives).
class CHiddenCursor {
public:
    explicit CHiddenCursor(int fd);
    ~CHiddenCursor();
    CHiddenCursor(const CHiddenCursor&) = delete;
    CHiddenCursor& operator=(const CHiddenCursor&) = delete;

private:
    int m_fd;
};

// True when $TERM names a terminal that moves its cursor: not unset, empty,
// "dumb" or "unknown" (those get the plain status lines).
bool DrawableTerminal();

// Columns of the terminal on fd, or 80 when it does not say.
int TerminalWidth(int fd);

// A terminal's window in character cells; a side it does not tell is 0.
struct CTerminalSize {
    int rows = 0;
    int cols = 0;
    bool operator==(const CTerminalSize& other) const {
        return rows == other.rows && cols == other.cols;
    }
    bool operator!=(const CTerminalSize& other) const { return !(*this == other); }
};

// The window of the terminal on fd as it is now (TIOCGWINSZ); a window can
// be resized at any time, so ask again before each draw.
CTerminalSize TerminalSize(int fd);
// Writes all of text to fd (retrying short writes).
void WriteAll(int fd, const char* text, unsigned long length);
