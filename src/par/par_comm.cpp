#include "par/par_comm.h"

#include "model/exceptions.h"
#include "run/run_progress.h"

#include <chrono>
#include <climits>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

// The class of a failure as it travels between ranks.
enum EFailureKind : int {
    FAILURE_GENERAL = 0,
    FAILURE_INPUT,
    FAILURE_COMPUTE,
    FAILURE_NOT_SUPPORTED,
    FAILURE_TIME,
    FAILURE_MEMORY,
    FAILURE_OTHER, // a std::exception that is none of the run's own classes
};

// The run sequence tells the classes apart in this order (sim/run.cpp).
int64_t OrderOf(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const Exception& e) {
        return e.Order();
    } catch (...) {
        return EXCEPTION_ORDER_UNSET;
    }
}

EFailureKind Describe(const std::exception_ptr& failure, std::string& detail) {
    try {
        std::rethrow_exception(failure);
    } catch (const TimeException& e) {
        detail = e.Detail();
        return FAILURE_TIME;
    } catch (const NotSupportedException& e) {
        detail = e.Detail();
        return FAILURE_NOT_SUPPORTED;
    } catch (const InputException& e) {
        detail = e.Detail();
        return FAILURE_INPUT;
    } catch (const ComputeException& e) {
        detail = e.Detail();
        return FAILURE_COMPUTE;
    } catch (const Exception& e) {
        detail = e.Detail();
        return FAILURE_GENERAL;
    } catch (const std::bad_alloc&) {
        return FAILURE_MEMORY;
    } catch (const std::exception& e) {
        detail = e.what();
        return FAILURE_OTHER;
    } catch (...) {
        detail = "an unknown failure";
        return FAILURE_OTHER;
    }
}

[[noreturn]] void Throw(int kind, const std::string& detail) {
    switch (kind) {
    case FAILURE_TIME:
        throw TimeException(detail);
    case FAILURE_NOT_SUPPORTED:
        throw NotSupportedException(detail);
    case FAILURE_INPUT:
        throw InputException(detail);
    case FAILURE_COMPUTE:
        throw ComputeException(detail);
    case FAILURE_MEMORY:
        throw std::bad_alloc();
    case FAILURE_OTHER:
        throw std::runtime_error(detail);
    default:
        throw Exception(detail);
    }
}

} // namespace

CParComm::CParComm(MPI_Comm comm) : m_comm(comm) {
    MPI_Comm_rank(comm, &m_rank);
    MPI_Comm_size(comm, &m_size);
}

void CParComm::Agree(std::exception_ptr failure) const {
    // The failure that comes first in a one-process run's order, and of
    // those the lowest rank's.
    struct {
        long order;
        int rank;
    } mine{failure ? static_cast<long>(OrderOf(failure)) : LONG_MAX, m_rank}, first{LONG_MAX, 0};
    MPI_Request request;
    MPI_Iallreduce(&mine, &first, 1, MPI_LONG_INT, MPI_MINLOC, m_comm, &request);
    Wait(request);
    if (first.order == LONG_MAX)
        return;
    const int lowest = first.rank;
    std::string detail;
    int header[2] = {0, 0};
    if (m_rank == lowest) {
        header[0] = Describe(failure, detail);
        header[1] = static_cast<int>(detail.size());
    }
    MPI_Bcast(header, 2, MPI_INT, lowest, m_comm);
    detail.resize(static_cast<size_t>(header[1]));
    MPI_Bcast(&detail[0], header[1], MPI_CHAR, lowest, m_comm);
    if (m_rank == lowest)
        std::rethrow_exception(failure);
    Throw(header[0], detail);
}

bool CParComm::Continue(CRunProgress* progress) const {
    int go = IsRoot() ? progress->CheckContinue() : 1;
    MPI_Request request;
    MPI_Ibcast(&go, 1, MPI_INT, 0, m_comm, &request);
    Wait(request);
    return go != 0;
}

void CParComm::Wait(MPI_Request& request) const {
    using Clock = std::chrono::steady_clock;
    constexpr auto SPIN = std::chrono::milliseconds(2);
    constexpr auto NAP = std::chrono::microseconds(500);
    const Clock::time_point start = Clock::now();
    for (;;) {
        int done = 0;
        MPI_Test(&request, &done, MPI_STATUS_IGNORE);
        if (done)
            return;
        if (Clock::now() - start > SPIN)
            std::this_thread::sleep_for(NAP);
    }
}
