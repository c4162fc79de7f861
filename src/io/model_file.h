// The one way a model is loaded: by the run, by --check, by the result-file
// tools, by the benchmarks and the tests (the fuzzer reads from memory with
// the same reader).
#pragma once

#include <string>

class CSimulation;
struct CReactions;

// BASE.kvi.
std::string ModelFileName(const std::string& base);

// The base a command line names: "run/model.kvi" is taken as "run/model"
// when there is no "run/model.kvi.kvi" but "run/model.kvi" exists.
std::string ModelBaseOf(const std::string& argument);

// Reads BASE.kvi into s as a run reads it, then BASE.kvx when there is one. Every failure is one of
// the run's exception classes whose detail ends with "(file BASE.kvi)": a file that cannot be
// opened is a BadFileException with the system's reason, one that is not a regular file (a FIFO
// that would block the run, a directory) an InputException. The reactions and reaction sets go into
// rx.
void LoadModel(CSimulation& s, CReactions& rx, const std::string& base);
// Its first part: BASE.kvi alone.
void LoadModelFile(CSimulation& s, CReactions& rx, const std::string& base);

// One run per base at a time: an advisory lock on the base's lock file
// (LockFileName, created when missing and left in place) and on BASE.kvi for
// the object's lifetime, released by the system when the process ends
// however it ends. The lock file holds where the model file is replaced by
// a rename during the run (an editor's save). A base another run holds is an
// InputException naming the model file and that run's process. A model file
// that cannot be opened is left to LoadModel; a folder that takes no lock
// file leaves the model file's lock alone.
class CModelLock {
public:
    explicit CModelLock(const std::string& base);
    ~CModelLock();
    CModelLock(const CModelLock&) = delete;
    CModelLock& operator=(const CModelLock&) = delete;

private:
    int m_fd = -1;     // BASE.kvi
    int m_lockFd = -1; // the lock file
};

// The lock file of a base: ".NAME.lock" beside BASE.kvi (dir/.m.lock for
// dir/m).
std::string LockFileName(const std::string& base);
