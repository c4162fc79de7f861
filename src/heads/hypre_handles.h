// hypre's objects for the heads' conjugate gradients (the one-process solve of
// heads/amg_solve.h and the distributed heads of par/), each destroyed when
// its owner goes (the solve may end in a throw at any stage). hypre's IJ interface
// takes the rows of a matrix and the entries of a vector from the rank that
// owns them; the ParCSR solvers then work on the assembled objects.
#pragma once

#include <mpi.h>

#include <HYPRE.h>
#include <HYPRE_parcsr_ls.h>

// hypre's global state for the length of one solve.
class CHypreLibrary {
public:
    CHypreLibrary() { HYPRE_Init(); }
    ~CHypreLibrary() { HYPRE_Finalize(); }
    CHypreLibrary(const CHypreLibrary&) = delete;
    CHypreLibrary& operator=(const CHypreLibrary&) = delete;
};

// A square matrix in ParCSR form whose rows first .. last (inclusive) are
// this rank's (last = first - 1: none). rowSizes, when given, holds how many
// entries each of those rows will take, so that hypre sizes its arrays once.
class CHypreMatrix {
public:
    CHypreMatrix(MPI_Comm comm, HYPRE_BigInt first, HYPRE_BigInt last,
                 const HYPRE_Int* rowSizes = nullptr) {
        HYPRE_IJMatrixCreate(comm, first, last, first, last, &m_matrix);
        HYPRE_IJMatrixSetObjectType(m_matrix, HYPRE_PARCSR);
        if (rowSizes)
            HYPRE_IJMatrixSetRowSizes(m_matrix, rowSizes);
        HYPRE_IJMatrixInitialize(m_matrix);
    }
    ~CHypreMatrix() { HYPRE_IJMatrixDestroy(m_matrix); }
    CHypreMatrix(const CHypreMatrix&) = delete;
    CHypreMatrix& operator=(const CHypreMatrix&) = delete;

    void SetRow(HYPRE_BigInt row, HYPRE_Int count, const HYPRE_BigInt* columns,
                const HYPRE_Real* values) {
        HYPRE_IJMatrixSetValues(m_matrix, 1, &count, &row, columns, values);
    }
    // Rows rows[0..count-1], each with counts[r] entries, one after the other.
    void SetRows(HYPRE_Int count, HYPRE_Int* counts, const HYPRE_BigInt* rows,
                 const HYPRE_BigInt* columns, const HYPRE_Real* values) {
        HYPRE_IJMatrixSetValues(m_matrix, count, counts, rows, columns, values);
    }
    // Collective: the rows become one ParCSR matrix.
    HYPRE_ParCSRMatrix Assemble() {
        HYPRE_IJMatrixAssemble(m_matrix);
        void* object = nullptr;
        HYPRE_IJMatrixGetObject(m_matrix, &object);
        return static_cast<HYPRE_ParCSRMatrix>(object);
    }

private:
    HYPRE_IJMatrix m_matrix = nullptr;
};

// A vector with the same rows as the matrix.
class CHypreVector {
public:
    CHypreVector(MPI_Comm comm, HYPRE_BigInt first, HYPRE_BigInt last) {
        HYPRE_IJVectorCreate(comm, first, last, &m_vector);
        HYPRE_IJVectorSetObjectType(m_vector, HYPRE_PARCSR);
        HYPRE_IJVectorInitialize(m_vector);
    }
    ~CHypreVector() { HYPRE_IJVectorDestroy(m_vector); }
    CHypreVector(const CHypreVector&) = delete;
    CHypreVector& operator=(const CHypreVector&) = delete;

    void Set(HYPRE_Int count, const HYPRE_BigInt* rows, const HYPRE_Real* values) {
        HYPRE_IJVectorSetValues(m_vector, count, rows, values);
    }
    void Get(HYPRE_Int count, const HYPRE_BigInt* rows, HYPRE_Real* values) {
        HYPRE_IJVectorGetValues(m_vector, count, rows, values);
    }
    HYPRE_ParVector Assemble() {
        HYPRE_IJVectorAssemble(m_vector);
        void* object = nullptr;
        HYPRE_IJVectorGetObject(m_vector, &object);
        return static_cast<HYPRE_ParVector>(object);
    }

private:
    HYPRE_IJVector m_vector = nullptr;
};

// A solver or preconditioner made by create and ended by destroy.
template <HYPRE_Int (*DESTROY)(HYPRE_Solver)> class CHypreSolver {
public:
    CHypreSolver() = default;
    ~CHypreSolver() {
        if (m_solver)
            DESTROY(m_solver);
    }
    CHypreSolver(const CHypreSolver&) = delete;
    CHypreSolver& operator=(const CHypreSolver&) = delete;

    HYPRE_Solver* Out() { return &m_solver; }
    HYPRE_Solver Get() const { return m_solver; }

private:
    HYPRE_Solver m_solver = nullptr;
};

using CHyprePcg = CHypreSolver<HYPRE_ParCSRPCGDestroy>;
using CHypreAmg = CHypreSolver<HYPRE_BoomerAMGDestroy>;
