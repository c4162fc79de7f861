// What a post tool leaves while it works (a temporary picture or export file
// beside its target, a scratch folder, a running gnuplot and what that
// started) must not outlive it when SIGINT, SIGTERM or SIGHUP ends it. The
// handler ends the child's process group (kill, then waitpid on the child),
// removes the noted files, then the noted folders, says on stderr what
// happened and exits with 130, as kova-compute does after a cancel.
//
// The handler reads only lock-free atomics, each published after the text it
// points to is complete and withdrawn before that text goes, so it sees an
// entry whole or not at all.
#pragma once

#include <csignal>
#include <string>
#include <sys/types.h>

constexpr int INTERRUPT_EXIT = 130;

// Installs the handler for the signals that were not ignored when the tool
// started (under nohup, or in the background of a script, they stay ignored,
// as the caller wanted); the previous actions come back when the object goes.
class CInterruptCleanup {
public:
    explicit CInterruptCleanup(const char* tool);
    ~CInterruptCleanup();
    CInterruptCleanup(const CInterruptCleanup&) = delete;
    CInterruptCleanup& operator=(const CInterruptCleanup&) = delete;

private:
    bool m_installed[3] = {};
    struct sigaction m_previous[3];
};

// A file, or a folder (removed after the files, so it is empty by then), that
// the handler removes while the object lives. What the path names is left
// alone when the object goes: its owner removes or keeps it.
class CCleanupPath {
public:
    CCleanupPath(std::string path, bool folder);
    ~CCleanupPath();
    CCleanupPath(const CCleanupPath&) = delete;
    CCleanupPath& operator=(const CCleanupPath&) = delete;
    const std::string& Path() const { return m_path; }

private:
    const std::string m_path;
    int m_slot = -1;
};

// The line the handler writes (after "TOOL: interrupted") while the object
// lives, such as "; FILE.png is left as it was".
class CInterruptNote {
public:
    explicit CInterruptNote(std::string text);
    ~CInterruptNote();
    CInterruptNote(const CInterruptNote&) = delete;
    CInterruptNote& operator=(const CInterruptNote&) = delete;
    // Withdraws the note early (the picture is in place).
    void Withdraw();

private:
    const std::string m_text;
};

// Holds off SIGINT, SIGTERM and SIGHUP while the object lives: a step that
// must not be cut in two (a child started and noted, a file renamed and its
// note withdrawn) runs whole, and a signal that came meanwhile acts after it.
class CStopSignalsHeld {
public:
    CStopSignalsHeld();
    ~CStopSignalsHeld();
    CStopSignalsHeld(const CStopSignalsHeld&) = delete;
    CStopSignalsHeld& operator=(const CStopSignalsHeld&) = delete;
    // The mask from before, which a child should start with.
    const sigset_t& Previous() const { return m_previous; }

private:
    sigset_t m_previous;
};

// The child the handler ends, with the process group it must lead; 0 for
// none. Note a child while the stop signals are held, and forget it once it
// has ended but before it is reaped, so that its pid cannot belong to another
// process when the handler kills it.
void NoteChild(pid_t pid);
