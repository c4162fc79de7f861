#include "post/interrupt_cleanup.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace {

const int STOP_SIGNALS[3] = {SIGINT, SIGTERM, SIGHUP};

// A plot has its picture, its data and its script, and one scratch folder;
// room for a few more costs nothing.
constexpr int PATH_SLOTS = 8;
std::atomic<const char*> g_files[PATH_SLOTS];
std::atomic<const char*> g_folders[PATH_SLOTS];
std::atomic<pid_t> g_child{0};
std::atomic<const char*> g_tool{nullptr};
std::atomic<const char*> g_note{nullptr};

static_assert(std::atomic<const char*>::is_always_lock_free, "the handler reads these");
static_assert(std::atomic<pid_t>::is_always_lock_free, "the handler reads this");

void Say(const char* text) {
    if (!text)
        return;
    size_t length = std::strlen(text);
    while (length > 0) {
        const ssize_t n = write(STDERR_FILENO, text, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text += n;
        length -= static_cast<size_t>(n);
    }
}

// Only async-signal-safe calls. The child goes first: it may be writing
// into the files that are removed next.
void OnStopSignal(int) {
    const pid_t child = g_child.load();
    if (child > 0) {
        // The child leads a group of its own; what it started goes with it.
        if (kill(-child, SIGKILL) != 0)
            kill(child, SIGKILL);
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    for (auto& slot : g_files)
        if (const char* path = slot.load())
            unlink(path);
    for (auto& slot : g_folders)
        if (const char* path = slot.load())
            rmdir(path);
    Say(g_tool.load());
    Say(": interrupted");
    Say(g_note.load());
    Say("\n");
    _exit(INTERRUPT_EXIT);
}

} // namespace

CInterruptCleanup::CInterruptCleanup(const char* tool) {
    g_tool.store(tool);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // While one stop signal is handled the others wait: the cleanup runs once.
    for (const int sig : STOP_SIGNALS)
        sigaddset(&action.sa_mask, sig);
    for (int k = 0; k < 3; ++k) {
        if (sigaction(STOP_SIGNALS[k], nullptr, &m_previous[k]) != 0 ||
            m_previous[k].sa_handler == SIG_IGN)
            continue;
        m_installed[k] = sigaction(STOP_SIGNALS[k], &action, nullptr) == 0;
    }
}

CInterruptCleanup::~CInterruptCleanup() {
    for (int k = 0; k < 3; ++k)
        if (m_installed[k])
            sigaction(STOP_SIGNALS[k], &m_previous[k], nullptr);
}

CCleanupPath::CCleanupPath(std::string path, bool folder) : m_path(std::move(path)) {
    std::atomic<const char*>* slots = folder ? g_folders : g_files;
    for (int k = 0; k < PATH_SLOTS && m_slot < 0; ++k) {
        const char* empty = nullptr;
        if (slots[k].compare_exchange_strong(empty, m_path.c_str()))
            m_slot = k + (folder ? PATH_SLOTS : 0);
    }
}

CCleanupPath::~CCleanupPath() {
    if (m_slot >= PATH_SLOTS)
        g_folders[m_slot - PATH_SLOTS].store(nullptr);
    else if (m_slot >= 0)
        g_files[m_slot].store(nullptr);
}

CInterruptNote::CInterruptNote(std::string text) : m_text(std::move(text)) {
    g_note.store(m_text.c_str());
}

CInterruptNote::~CInterruptNote() {
    Withdraw();
}

void CInterruptNote::Withdraw() {
    const char* mine = m_text.c_str();
    g_note.compare_exchange_strong(mine, nullptr);
}

CStopSignalsHeld::CStopSignalsHeld() {
    sigset_t stop;
    sigemptyset(&stop);
    for (const int sig : STOP_SIGNALS)
        sigaddset(&stop, sig);
    sigprocmask(SIG_BLOCK, &stop, &m_previous);
}

CStopSignalsHeld::~CStopSignalsHeld() {
    sigprocmask(SIG_SETMASK, &m_previous, nullptr);
}

void NoteChild(pid_t pid) {
    g_child.store(pid);
}
