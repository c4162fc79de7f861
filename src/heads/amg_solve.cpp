#include "heads/amg_solve.h"

#include "heads/amg_module.h"
#include "model/exceptions.h"
#include "model/limits.h"
#include "run/platform.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <new>
#include <string>

namespace {

// The module's functions, once it is loaded.
struct CAmgModule {
    PAmgMpiStarted m_mpiStarted = nullptr;
    PAmgCreate m_create = nullptr;
    PAmgSolve m_solve = nullptr;
    PAmgCorrectionSum m_correctionSum = nullptr;
    PAmgDestroy m_destroy = nullptr;
};

// The folder of the running program.
std::string ProgramFolder() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return "";
    const std::string program(path, static_cast<size_t>(length));
    return program.substr(0, program.rfind('/'));
}

// Beside the program (the build's kova-compute), in lib/kova beside its bin
// folder (an installed one), else where the build put it (the tests' and the
// benchmarks' programs, in folders of their own). Global, so that the
// plug-ins OpenMPI loads in turn find the MPI library's symbols.
void* OpenModule(std::string& tried) {
    const std::string folder = ProgramFolder();
    const std::string candidates[] = {folder + "/" + AMG_MODULE_FILE,
                                      folder + "/../lib/kova/" + AMG_MODULE_FILE,
                                      KOVA_AMG_MODULE_BUILT};
    for (const std::string& path : candidates) {
        if (void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL))
            return handle;
        const char* why = dlerror();
        tried += std::string(tried.empty() ? "" : "; ") + (why ? why : path);
    }
    return nullptr;
}

template <typename F> F Function(void* handle, const char* name) {
    void* symbol = dlsym(handle, name);
    if (!symbol)
        throw ComputeException(std::string("the AMG solve's module has no ") + name);
    return reinterpret_cast<F>(symbol);
}

// Loaded by the first solver that needs it and kept to the process's end
// (its MPI ends with the process).
const CAmgModule& Module() {
    static const CAmgModule module = [] {
        std::string tried;
        void* handle = OpenModule(tried);
        if (!handle)
            throw ComputeException("the AMG solve of the heads could not load its module: " +
                                   tried);
        CAmgModule m;
        m.m_mpiStarted = Function<PAmgMpiStarted>(handle, AMG_MODULE_MPI_STARTED);
        m.m_create = Function<PAmgCreate>(handle, AMG_MODULE_CREATE);
        m.m_solve = Function<PAmgSolve>(handle, AMG_MODULE_SOLVE);
        m.m_correctionSum = Function<PAmgCorrectionSum>(handle, AMG_MODULE_CORRECTION_SUM);
        m.m_destroy = Function<PAmgDestroy>(handle, AMG_MODULE_DESTROY);
        return m;
    }();
    return module;
}

// OpenMPI's start and hypre's allocations end the process when memory runs
// out, where no caller can catch it: under a limit of the address space
// (ulimit -v) the room for them (and for loading their libraries, before
// the module is loaded) is checked first, and its lack is refused as an
// allocation refuses.
void CheckRoom(int rows, bool mpiStarted) {
    const double need = static_cast<double>(rows) * HEAD_AMG_BYTES_PER_NODE +
                        (mpiStarted ? 0.0 : HEAD_AMG_MPI_START_BYTES);
    if (static_cast<double>(AddressSpaceLeftBytes()) < need)
        throw std::bad_alloc();
}

void Check(int status, const SAmgModuleText& failure) {
    if (status == AMG_MODULE_NO_MEMORY)
        throw std::bad_alloc();
    if (status != AMG_MODULE_DONE)
        throw ComputeException(failure.m_text);
}

bool g_moduleLoaded = false;

} // namespace

struct CAmgSolver::CImpl {
    const CAmgModule* m_module = nullptr;
    void* m_solver = nullptr;
};

CAmgSolver::CAmgSolver(const CSparseRows& a) : m_size(a.m_n), m_impl(std::make_unique<CImpl>()) {
    if (!HEAD_AMG_BUILT)
        throw ComputeException("this build has no AMG solver (hypre and MPI were not found)");
    CheckRoom(a.m_n, g_moduleLoaded && Module().m_mpiStarted());
    const CAmgModule& module = Module();
    g_moduleLoaded = true;
    int status = AMG_MODULE_DONE;
    SAmgModuleText failure{};
    m_impl->m_solver = module.m_create(a.m_n, a.m_rowStart.data(), a.m_column.data(),
                                       a.m_value.data(), &status, &failure);
    Check(status, failure);
    m_impl->m_module = &module;
}

CAmgSolver::~CAmgSolver() {
    if (m_impl && m_impl->m_solver)
        m_impl->m_module->m_destroy(m_impl->m_solver);
}

CAmgResult CAmgSolver::Solve(const std::vector<double>& b, std::vector<double>& x, double residual,
                             int maxIterations) {
    CAmgResult result;
    SAmgModuleText failure{};
    Check(m_impl->m_module->m_solve(m_impl->m_solver, b.data(), x.data(), residual, maxIterations,
                                    &result.m_iterations, &result.m_residual, &failure),
          failure);
    return result;
}

double CAmgSolver::CorrectionSum(const std::vector<double>& b, const std::vector<double>& x) {
    double sum = 0.0;
    const SAmgModuleText failure{};
    Check(m_impl->m_module->m_correctionSum(m_impl->m_solver, b.data(), x.data(), &sum), failure);
    return sum;
}
