// The AMG solve's module (heads/amg_module.h): conjugate gradients with one
// BoomerAMG V-cycle on MPI_COMM_SELF, and the process's MPI.
#include "heads/amg_module.h"

#include "heads/hypre_handles.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KOVA_LEAK_CHECKER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KOVA_LEAK_CHECKER 1
#endif
#if KOVA_LEAK_CHECKER
#include <sanitizer/lsan_interface.h>
#endif

// The rows of the engine's CSparseRows go to hypre as they are: Debian's
// hypre has 32-bit indices, as they do.
static_assert(std::is_same_v<HYPRE_BigInt, int> && std::is_same_v<HYPRE_Int, int>);

namespace {

// What OpenMPI allocates as it starts and leaves behind when it ends (some of
// it in plug-ins it has unloaded by then) is not ours to free: the leak
// checker of the sanitizer builds passes over the allocations of those calls.
class CMpiLeaksIgnored {
public:
#if KOVA_LEAK_CHECKER
    CMpiLeaksIgnored() {
        __lsan_disable();
    }
    ~CMpiLeaksIgnored() {
        __lsan_enable();
    }
#else
    CMpiLeaksIgnored() = default;
#endif
    CMpiLeaksIgnored(const CMpiLeaksIgnored&) = delete;
    CMpiLeaksIgnored& operator=(const CMpiLeaksIgnored&) = delete;
};

// MPI for a process that has not started it. OpenMPI's singleton start
// would spawn a daemon to talk to an mpirun that is not there; the isolated
// singleton skips it (0.23 against 0.34 s here), and a user's own setting of
// it is kept. Started on the thread that solves the heads, which is the only
// one that ever calls MPI in such a process (MPI_THREAD_SERIALIZED lets it be
// another than main's); ended by the exit's destructors, after every solver.
class CProcessMpi {
public:
    CProcessMpi() {
        int started = 0;
        MPI_Initialized(&started);
        if (started)
            return;
        setenv("OMPI_MCA_ess_singleton_isolated", "1", 0);
        int provided = 0;
        [[maybe_unused]] const CMpiLeaksIgnored ignored;
        if (MPI_Init_thread(nullptr, nullptr, MPI_THREAD_SERIALIZED, &provided) != MPI_SUCCESS)
            throw std::runtime_error("the AMG solve of the heads could not start MPI for this "
                                     "process");
        m_owned = true;
    }
    ~CProcessMpi() {
        int ended = 0;
        MPI_Finalized(&ended);
        if (m_owned && !ended) {
            [[maybe_unused]] const CMpiLeaksIgnored ignored;
            MPI_Finalize();
        }
    }
    CProcessMpi(const CProcessMpi&) = delete;
    CProcessMpi& operator=(const CProcessMpi&) = delete;

private:
    bool m_owned = false;
};

void NeedMpi() {
    static const CProcessMpi mpi;
}

// One V-cycle per application, as the distributed heads take it: Falgout
// coarsening and a symmetric Gauss-Seidel smoother keep the preconditioner
// symmetric, as conjugate gradients need. (HMIS coarsening with extended
// interpolation measured slower here on one process: 1.0 s setup and 1.4 s
// solve against 0.7 and 1.2 s for a 1000 x 1000 grid.)
void ConfigureAmg(HYPRE_Solver amg) {
    HYPRE_BoomerAMGSetPrintLevel(amg, 0);
    HYPRE_BoomerAMGSetCoarsenType(amg, 6);
    HYPRE_BoomerAMGSetRelaxType(amg, 6);
    HYPRE_BoomerAMGSetNumSweeps(amg, 1);
    HYPRE_BoomerAMGSetTol(amg, 0.0);
    HYPRE_BoomerAMGSetMaxIter(amg, 1);
}

void ConfigurePcg(HYPRE_Solver pcg) {
    HYPRE_PCGSetAbsoluteTol(pcg, 0.0);
    HYPRE_PCGSetTwoNorm(pcg, 1);
    HYPRE_PCGSetPrintLevel(pcg, 0);
    HYPRE_PCGSetLogging(pcg, 1);
}

[[noreturn]] void ThrowRefused(const char* stage, HYPRE_Int code) {
    char text[256] = ""; // hypre writes a few words per error bit
    HYPRE_DescribeError(code, text);
    HYPRE_ClearAllErrors();
    throw std::runtime_error(std::string("the AMG solver refused the equations in its ") + stage +
                             ": " + text);
}

size_t Count(int n) {
    return static_cast<size_t>(n);
}

// The solver of one matrix: the hierarchy set up on construction.
class CAmgEngine {
public:
    CAmgEngine(int n, const int* rowStart, const int* column, const double* value);
    CAmgEngine(const CAmgEngine&) = delete;
    CAmgEngine& operator=(const CAmgEngine&) = delete;

    void Solve(const double* b, double* x, double residual, int maxIterations, int& iterations,
               double& reached);
    double CorrectionSum(const double* b, const double* x);

private:
    void Put(CHypreVector& v, const double* values) {
        v.Set(static_cast<HYPRE_Int>(m_rows.size()), m_rows.data(), values);
    }
    void Take(CHypreVector& v, double* values) {
        v.Get(static_cast<HYPRE_Int>(m_rows.size()), m_rows.data(), values);
    }

    // Declared in the order they are needed; destroyed the other way round,
    // hypre's global state last.
    CHypreLibrary m_library;
    std::vector<HYPRE_BigInt> m_rows; // 0 .. n-1, the rows every vector call names
    std::vector<HYPRE_Int> m_sizes;   // entries per row
    std::vector<double> m_diagonal;
    CHypreMatrix m_matrix;
    CHypreVector m_b;
    CHypreVector m_x;
    CHypreVector m_r;
    HYPRE_ParCSRMatrix m_a = nullptr;
    HYPRE_ParVector m_bObject = nullptr;
    HYPRE_ParVector m_xObject = nullptr;
    HYPRE_ParVector m_rObject = nullptr;
    CHyprePcg m_pcg;
    CHypreAmg m_amg;
};

std::vector<HYPRE_Int> RowSizes(int n, const int* rowStart) {
    std::vector<HYPRE_Int> sizes(Count(n));
    for (int r = 0; r < n; ++r)
        sizes[Count(r)] = rowStart[r + 1] - rowStart[r];
    return sizes;
}

std::vector<double> Diagonal(int n, const int* rowStart, const int* column, const double* value) {
    std::vector<double> diagonal(Count(n), 0.0);
    for (int r = 0; r < n; ++r)
        for (int e = rowStart[r]; e < rowStart[r + 1]; ++e)
            if (column[e] == r)
                diagonal[Count(r)] = value[e];
    return diagonal;
}

CAmgEngine::CAmgEngine(int n, const int* rowStart, const int* column, const double* value)
    : m_rows(Count(n)), m_sizes(RowSizes(n, rowStart)),
      m_diagonal(Diagonal(n, rowStart, column, value)),
      m_matrix(MPI_COMM_SELF, 0, n - 1, m_sizes.data()), m_b(MPI_COMM_SELF, 0, n - 1),
      m_x(MPI_COMM_SELF, 0, n - 1), m_r(MPI_COMM_SELF, 0, n - 1) {
    for (int r = 0; r < n; ++r)
        m_rows[Count(r)] = r;
    m_matrix.SetRows(n, m_sizes.data(), m_rows.data(), column, value);
    m_sizes = std::vector<HYPRE_Int>();
    m_a = m_matrix.Assemble();
    m_bObject = m_b.Assemble();
    m_xObject = m_x.Assemble();
    m_rObject = m_r.Assemble();

    HYPRE_ParCSRPCGCreate(MPI_COMM_SELF, m_pcg.Out());
    HYPRE_BoomerAMGCreate(m_amg.Out());
    ConfigurePcg(m_pcg.Get());
    ConfigureAmg(m_amg.Get());
    HYPRE_PCGSetPrecond(m_pcg.Get(), reinterpret_cast<HYPRE_PtrToSolverFcn>(HYPRE_BoomerAMGSolve),
                        reinterpret_cast<HYPRE_PtrToSolverFcn>(HYPRE_BoomerAMGSetup), m_amg.Get());
    // The hierarchy, once: the vectors only give it their layout.
    if (const HYPRE_Int code = HYPRE_ParCSRPCGSetup(m_pcg.Get(), m_a, m_bObject, m_xObject))
        ThrowRefused("setup", code);
}

void CAmgEngine::Solve(const double* b, double* x, double residual, int maxIterations,
                       int& iterations, double& reached) {
    Put(m_b, b);
    Put(m_x, x);
    HYPRE_PCGSetTol(m_pcg.Get(), residual);
    HYPRE_PCGSetMaxIter(m_pcg.Get(), maxIterations);
    const HYPRE_Int code = HYPRE_ParCSRPCGSolve(m_pcg.Get(), m_a, m_bObject, m_xObject);
    // Stopping above the residual is an outcome the caller judges, not a
    // failure of hypre's.
    if (code && !HYPRE_CheckError(code, HYPRE_ERROR_CONV))
        ThrowRefused("solve", code);
    HYPRE_ClearAllErrors();
    HYPRE_Int count = 0;
    HYPRE_PCGGetNumIterations(m_pcg.Get(), &count);
    HYPRE_PCGGetFinalRelativeResidualNorm(m_pcg.Get(), &reached);
    iterations = count;
    Take(m_x, x);
}

double CAmgEngine::CorrectionSum(const double* b, const double* x) {
    Put(m_r, b);
    Put(m_x, x);
    HYPRE_ParCSRMatrixMatvec(-1.0, m_a, m_xObject, 1.0, m_rObject);
    std::vector<double> r(m_rows.size());
    Take(m_r, r.data());
    double sum = 0.0;
    for (size_t k = 0; k < r.size(); ++k)
        sum += std::fabs(r[k]) / std::fabs(m_diagonal[k]);
    return sum;
}

// Runs f; a failure becomes its status and text.
template <typename F> int Guarded(SAmgModuleText* failure, F f) {
    try {
        f();
        return AMG_MODULE_DONE;
    } catch (const std::bad_alloc&) {
        return AMG_MODULE_NO_MEMORY;
    } catch (const std::exception& e) {
        if (failure)
            std::snprintf(failure->m_text, sizeof failure->m_text, "%s", e.what());
        return AMG_MODULE_FAILED;
    }
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int KovaAmgMpiStarted() {
    int started = 0;
    MPI_Initialized(&started);
    return started;
}

__attribute__((visibility("default"))) void* KovaAmgCreate(int n, const int* rowStart,
                                                           const int* column, const double* value,
                                                           int* status, SAmgModuleText* failure) {
    CAmgEngine* engine = nullptr;
    *status = Guarded(failure, [&] {
        NeedMpi();
        engine = new CAmgEngine(n, rowStart, column, value);
    });
    return engine;
}

__attribute__((visibility("default"))) int KovaAmgSolve(void* solver, const double* b, double* x,
                                                        double residual, int maxIterations,
                                                        int* iterations, double* reached,
                                                        SAmgModuleText* failure) {
    return Guarded(failure, [&] {
        static_cast<CAmgEngine*>(solver)->Solve(b, x, residual, maxIterations, *iterations,
                                                *reached);
    });
}

__attribute__((visibility("default"))) int KovaAmgCorrectionSum(void* solver, const double* b,
                                                                const double* x, double* sum) {
    return Guarded(nullptr, [&] { *sum = static_cast<CAmgEngine*>(solver)->CorrectionSum(b, x); });
}

__attribute__((visibility("default"))) void KovaAmgDestroy(void* solver) {
    delete static_cast<CAmgEngine*>(solver);
}
}
