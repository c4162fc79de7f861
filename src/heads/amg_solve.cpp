#include "heads/amg_solve.h"

#include "model/exceptions.h"

#if KOVA_AMG_HEADS

#include "heads/hypre_handles.h"
#include "model/index.h"
#include "model/limits.h"
#include "run/platform.h"

#include <cmath>
#include <cstdlib>
#include <new>
#include <string>
#include <type_traits>

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

// The rows of CSparseRows go to hypre as they are: Debian's hypre has 32-bit
// indices, as they do.
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
            throw ComputeException("the AMG solve of the heads could not start MPI for this "
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

// OpenMPI's start and hypre's allocations end the process when memory runs
// out, where no caller can catch it: under a limit of the address space
// (ulimit -v) the room for both is checked first, and its lack is refused
// as an allocation refuses.
void CheckRoom(int rows) {
    int started = 0;
    MPI_Initialized(&started);
    const double need = static_cast<double>(rows) * HEAD_AMG_BYTES_PER_NODE +
                        (started ? 0.0 : HEAD_AMG_MPI_START_BYTES);
    if (static_cast<double>(AddressSpaceLeftBytes()) < need)
        throw std::bad_alloc();
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
    throw ComputeException(std::string("the AMG solver refused the equations in its ") + stage +
                           ": " + text);
}

} // namespace

struct CAmgSolver::CImpl {
    explicit CImpl(const CSparseRows& a);

    void Put(CHypreVector& v, const std::vector<double>& values) {
        v.Set(static_cast<HYPRE_Int>(m_rows.size()), m_rows.data(), values.data());
    }
    void Take(CHypreVector& v, std::vector<double>& values) {
        v.Get(static_cast<HYPRE_Int>(m_rows.size()), m_rows.data(), values.data());
    }

    // Declared in the order they are needed; destroyed the other way round,
    // hypre's global state last.
    CHypreLibrary m_library;
    std::vector<HYPRE_BigInt> m_rows; // 0 .. n-1, the rows every vector call names
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

namespace {

std::vector<HYPRE_Int> RowSizes(const CSparseRows& a) {
    std::vector<HYPRE_Int> sizes(ToSize(a.m_n));
    for (int r = 0; r < a.m_n; ++r)
        sizes[ToSize(r)] = a.m_rowStart[ToSize(r + 1)] - a.m_rowStart[ToSize(r)];
    return sizes;
}

std::vector<double> Diagonal(const CSparseRows& a) {
    std::vector<double> diagonal(ToSize(a.m_n), 0.0);
    for (int r = 0; r < a.m_n; ++r)
        for (int e = a.m_rowStart[ToSize(r)]; e < a.m_rowStart[ToSize(r + 1)]; ++e)
            if (a.m_column[ToSize(e)] == r)
                diagonal[ToSize(r)] = a.m_value[ToSize(e)];
    return diagonal;
}

} // namespace

CAmgSolver::CImpl::CImpl(const CSparseRows& a)
    : m_rows(ToSize(a.m_n)), m_diagonal(Diagonal(a)),
      m_matrix(MPI_COMM_SELF, 0, a.m_n - 1, RowSizes(a).data()), m_b(MPI_COMM_SELF, 0, a.m_n - 1),
      m_x(MPI_COMM_SELF, 0, a.m_n - 1), m_r(MPI_COMM_SELF, 0, a.m_n - 1) {
    for (int r = 0; r < a.m_n; ++r)
        m_rows[ToSize(r)] = r;
    std::vector<HYPRE_Int> counts = RowSizes(a);
    m_matrix.SetRows(a.m_n, counts.data(), m_rows.data(), a.m_column.data(), a.m_value.data());
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

CAmgSolver::CAmgSolver(const CSparseRows& a) : m_size(a.m_n) {
    CheckRoom(a.m_n);
    NeedMpi();
    m_impl = std::make_unique<CImpl>(a);
}

CAmgSolver::~CAmgSolver() = default;

CAmgResult CAmgSolver::Solve(const std::vector<double>& b, std::vector<double>& x, double residual,
                             int maxIterations) {
    CImpl& impl = *m_impl;
    impl.Put(impl.m_b, b);
    impl.Put(impl.m_x, x);
    HYPRE_PCGSetTol(impl.m_pcg.Get(), residual);
    HYPRE_PCGSetMaxIter(impl.m_pcg.Get(), maxIterations);
    const HYPRE_Int code =
        HYPRE_ParCSRPCGSolve(impl.m_pcg.Get(), impl.m_a, impl.m_bObject, impl.m_xObject);
    // Stopping above the residual is an outcome the caller judges, not a
    // failure of hypre's.
    if (code && !HYPRE_CheckError(code, HYPRE_ERROR_CONV))
        ThrowRefused("solve", code);
    HYPRE_ClearAllErrors();
    CAmgResult result;
    HYPRE_Int iterations = 0;
    HYPRE_PCGGetNumIterations(impl.m_pcg.Get(), &iterations);
    HYPRE_PCGGetFinalRelativeResidualNorm(impl.m_pcg.Get(), &result.m_residual);
    result.m_iterations = iterations;
    impl.Take(impl.m_x, x);
    return result;
}

double CAmgSolver::CorrectionSum(const std::vector<double>& b, const std::vector<double>& x) {
    CImpl& impl = *m_impl;
    impl.Put(impl.m_r, b);
    impl.Put(impl.m_x, x);
    HYPRE_ParCSRMatrixMatvec(-1.0, impl.m_a, impl.m_xObject, 1.0, impl.m_rObject);
    std::vector<double> r(b.size());
    impl.Take(impl.m_r, r);
    double sum = 0.0;
    for (size_t k = 0; k < r.size(); ++k)
        sum += std::fabs(r[k]) / std::fabs(impl.m_diagonal[k]);
    return sum;
}

#else

struct CAmgSolver::CImpl {};

CAmgSolver::CAmgSolver(const CSparseRows& a) : m_size(a.m_n) {
    throw ComputeException("this build has no AMG solver (hypre and MPI were not found)");
}

CAmgSolver::~CAmgSolver() = default;

CAmgResult CAmgSolver::Solve(const std::vector<double>&, std::vector<double>&, double, int) {
    return {};
}

double CAmgSolver::CorrectionSum(const std::vector<double>&, const std::vector<double>&) {
    return 0.0;
}

#endif
