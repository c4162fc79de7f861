// The processes of one run over MPI as the run sequence sees them: which
// rank this is, the agreement on a failure, and rank 0's continue flag.
//
// Every rank runs the same sequence. A stage that may fail on some ranks and
// not on others ends in Agree: when any rank failed, every rank throws the
// failure of the lowest failing rank (its class and its detail, the very
// exception on that rank), so rank 0 reports what a one-process run reports
// and every rank leaves the sequence at the same point: no rank waits for a
// message that never comes. Since ranks own ascending ranges of nodes, the
// lowest failing rank holds the lowest failing node, the serial run's.
#pragma once

#include <mpi.h>

#include <exception>

class CRunProgress;

class CParComm {
public:
    explicit CParComm(MPI_Comm comm);

    MPI_Comm Comm() const { return m_comm; }
    int Rank() const { return m_rank; }
    int Size() const { return m_size; }
    bool IsRoot() const { return m_rank == 0; }

    // failure: what this rank caught since the last agreement (null: none).
    void Agree(std::exception_ptr failure) const;
    // Runs stage and agrees on its failure (a template: nothing is
    // allocated unless something fails).
    template <typename Stage> void Agreed(Stage&& stage) const {
        std::exception_ptr failure;
        try {
            stage();
        } catch (...) {
            failure = std::current_exception();
        }
        Agree(failure);
    }
    // Rank 0's CheckContinue (which waits while the run is paused), the same
    // answer on every rank.
    bool Continue(CRunProgress* progress) const;
    // Waits for a request: at once while it completes quickly, then with
    // short sleeps, so that ranks waiting for a paused rank 0 leave their
    // cores to others.
    void Wait(MPI_Request& request) const;

private:
    MPI_Comm m_comm;
    int m_rank = 0;
    int m_size = 1;
};
