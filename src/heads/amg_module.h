// The AMG solve's module, libkova_amg.so: hypre and MPI behind a C interface,
// loaded by heads/amg_solve.cpp the first time a process needs the solve.
// Linked into the programs, their 30 shared libraries would be loaded by
// every run (9 ms of each start: 15 ms against 6 ms for kova-compute
// --version), the 43-number example's too. Nothing that throws crosses the
// interface: failures come back as a code with their text.
#pragma once

extern "C" {

// What a call of the module ended with.
enum EAmgModuleStatus { AMG_MODULE_DONE = 0, AMG_MODULE_NO_MEMORY = 1, AMG_MODULE_FAILED = 2 };

// The text of a failure (AMG_MODULE_FAILED).
struct SAmgModuleText {
    char m_text[256];
};

// Whether MPI has been started in this process (by the module or by the
// program itself).
typedef int (*PAmgMpiStarted)();
// A solver of the symmetric positive definite matrix of n rows in
// compressed rows (columns ascending), its hierarchy set up; null on failure.
typedef void* (*PAmgCreate)(int n, const int* rowStart, const int* column, const double* value,
                            int* status, SAmgModuleText* failure);
// Conjugate gradients from x to the relative residual or the iterations.
typedef int (*PAmgSolve)(void* solver, const double* b, double* x, double residual,
                         int maxIterations, int* iterations, double* reached,
                         SAmgModuleText* failure);
// The sum over the rows of |b - A x|_r / |a_rr|.
typedef int (*PAmgCorrectionSum)(void* solver, const double* b, const double* x, double* sum);
typedef void (*PAmgDestroy)(void* solver);
}

// The module's file name and its functions' names.
constexpr const char* AMG_MODULE_FILE = "libkova_amg.so";
constexpr const char* AMG_MODULE_MPI_STARTED = "KovaAmgMpiStarted";
constexpr const char* AMG_MODULE_CREATE = "KovaAmgCreate";
constexpr const char* AMG_MODULE_SOLVE = "KovaAmgSolve";
constexpr const char* AMG_MODULE_CORRECTION_SUM = "KovaAmgCorrectionSum";
constexpr const char* AMG_MODULE_DESTROY = "KovaAmgDestroy";
