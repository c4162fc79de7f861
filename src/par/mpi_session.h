// MPI for the length of a process: MPI_Init_thread on construction,
// MPI_Finalize when the object goes. Only the worker thread of a rank calls
// MPI (one thread at a time: MPI_THREAD_SERIALIZED); the threads of a rank's
// team never do.
#pragma once

#include <mpi.h>

class CMpiSession {
public:
    CMpiSession(int* argc, char*** argv);
    ~CMpiSession();
    CMpiSession(const CMpiSession&) = delete;
    CMpiSession& operator=(const CMpiSession&) = delete;

    int Rank() const { return m_rank; }
    int Size() const { return m_size; }
    // False when the MPI library cannot serve a worker thread other than
    // the main one.
    bool ThreadsServed() const { return m_threadsServed; }

private:
    int m_rank = 0;
    int m_size = 1;
    bool m_threadsServed = false;
};

// An MPI file, closed when the object goes (collectively over the
// communicator it was opened on: the records open it on MPI_COMM_SELF).
class CMpiFile {
public:
    CMpiFile() = default;
    ~CMpiFile() { Close(); }
    CMpiFile(const CMpiFile&) = delete;
    CMpiFile& operator=(const CMpiFile&) = delete;

    // MPI's error code, MPI_SUCCESS when open. Collective over comm.
    int Open(MPI_Comm comm, const char* name, int mode);
    // MPI's error code of the close; MPI_SUCCESS when none was open.
    // Collective over the communicator it was opened on.
    int Close();
    MPI_File Handle() const { return m_file; }

private:
    MPI_File m_file = MPI_FILE_NULL;
};
