#include "app/terminal_session.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Saved terminal state, readable from signal handlers.
struct termios g_savedTermios;
volatile sig_atomic_t g_termiosSaved = 0;
volatile sig_atomic_t g_cursorFd = -1;
int g_signalPipe[2] = {-1, -1};

const char SHOW_CURSOR[] = "\x1b[?25h";
const char HIDE_CURSOR[] = "\x1b[?25l";

// Only async-signal-safe calls: used from the fatal-signal handler too.
void RestoreTerminal() {
    if (g_termiosSaved)
        tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTermios);
    if (g_cursorFd >= 0) {
        ssize_t ignored = write(g_cursorFd, SHOW_CURSOR, sizeof SHOW_CURSOR - 1);
        (void)ignored;
    }
}

void OnFatalSignal(int sig) {
    RestoreTerminal();
    signal(sig, SIG_DFL);
    raise(sig);
}

const int FATAL_SIGNALS[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

void InstallFatalHandlers() {
    for (int sig : FATAL_SIGNALS)
        signal(sig, OnFatalSignal);
}

void OnCancelSignal(int) {
    const int saved = errno;
    const char byte = 1;
    ssize_t ignored = write(g_signalPipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

// Each cancels the run: a closed terminal (SIGHUP) or a quit key (SIGQUIT)
// ends it as properly as Ctrl-C does.
const int CANCEL_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int CANCEL_SIGNAL_COUNT = sizeof CANCEL_SIGNALS / sizeof CANCEL_SIGNALS[0];
struct sigaction g_oldActions[CANCEL_SIGNAL_COUNT];

} // namespace

CRawKeyboard::CRawKeyboard(bool enable) {
    if (!enable || !isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &g_savedTermios) != 0)
        return;
    struct termios raw = g_savedTermios;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    g_termiosSaved = 1;
    InstallFatalHandlers();
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) {
        g_termiosSaved = 0;
        return;
    }
    m_active = true;
}

CRawKeyboard::~CRawKeyboard() {
    if (!m_active)
        return;
    tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTermios);
    g_termiosSaved = 0;
}

CSignalWatch::CSignalWatch() {
    if (pipe(g_signalPipe) != 0) {
        g_signalPipe[0] = g_signalPipe[1] = -1;
        return;
    }
    for (int fd : g_signalPipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnCancelSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int k = 0; k < CANCEL_SIGNAL_COUNT; ++k)
        sigaction(CANCEL_SIGNALS[k], &action, &g_oldActions[k]);
}

CSignalWatch::~CSignalWatch() {
    if (g_signalPipe[0] < 0)
        return;
    for (int k = 0; k < CANCEL_SIGNAL_COUNT; ++k)
        sigaction(CANCEL_SIGNALS[k], &g_oldActions[k], nullptr);
    close(g_signalPipe[0]);
    close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
}

int CSignalWatch::ReadFd() const {
    return g_signalPipe[0];
}

bool CSignalWatch::Drain() {
    bool any = false;
    char buffer[64];
    while (g_signalPipe[0] >= 0 && read(g_signalPipe[0], buffer, sizeof buffer) > 0)
        any = true;
    return any;
}

CHiddenCursor::CHiddenCursor(int fd) : m_fd(fd) {
    g_cursorFd = fd;
    InstallFatalHandlers();
    WriteAll(fd, HIDE_CURSOR, sizeof HIDE_CURSOR - 1);
}

CHiddenCursor::~CHiddenCursor() {
    WriteAll(m_fd, SHOW_CURSOR, sizeof SHOW_CURSOR - 1);
    g_cursorFd = -1;
}

bool DrawableTerminal() {
    const char* term = std::getenv("TERM");
    if (!term || !*term)
        return false;
    const std::string name = term;
    return name != "dumb" && name != "unknown";
}

int TerminalWidth(int fd) {
    struct winsize size;
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

CTerminalSize TerminalSize(int fd) {
    CTerminalSize result;
    struct winsize size;
    if (ioctl(fd, TIOCGWINSZ, &size) == 0) {
        result.rows = size.ws_row;
        result.cols = size.ws_col;
    }
    return result;
}

void WriteAll(int fd, const char* text, unsigned long length) {
    while (length > 0) {
        const ssize_t n = write(fd, text, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        text += n;
        length -= static_cast<unsigned long>(n);
    }
}
