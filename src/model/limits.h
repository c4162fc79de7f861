// Algorithm limits and fixed constants of the engine, in one place.
#pragma once

#include <cstdint>

// State vector layout: the hydraulic slots at the front of every node's vector.
constexpr int SLOT_HEAD = 0;     // hydraulic head
constexpr int SLOT_SOURCE = 1;   // water source rate per unit pore volume (1/T)
constexpr int SLOT_POROSITY = 2; // porosity
constexpr int SLOT_KROW = 3;     // conductivity between row neighbours (L/T)
constexpr int SLOT_KCOL = 4;     // conductivity between column neighbours (L/T)
constexpr int SLOT_FLUXROW = 5;  // Darcy flux from (i, j) to (i+1, j) (L/T)
constexpr int SLOT_FLUXCOL = 6;  // Darcy flux from (i, j) to (i, j+1) (L/T)
constexpr int SLOT_COUNT = 7;

// Node types.
constexpr unsigned char NODE_NORMAL = 0; // head computed
constexpr unsigned char NODE_HEAD = 1;   // head held at its input value

// Local integration of a node's reactions over one global step.
constexpr int RXN_MAX_CORRECTOR_PASSES = 200;   // then the local step is halved
constexpr int RXN_MAX_EQUI_SWEEPS = 300;        // equilibrium sweeps per corrector pass
constexpr int HOLD_FAIL_LIMIT = 5;              // failures tolerated before the fraction halves
constexpr int HOLD_STEPS_PER_FRACTION = 100000; // hold = trunc(1 / fraction) x this
constexpr int32_t HOLD_MAX = INT32_MAX;         // the hold saturates here at tiny fractions
// A failed local step is halved; below this fraction of the global step a node
// would need more than 2^24 local steps in one global step (hours, and no
// cancel between them), so the run ends there as it does below opzero.
constexpr double RXN_MIN_LOCAL_STEP_FRACTION = 1.0 / (1 << 24);

// Reaction and reaction-set counts of the header. Real models have tens; the
// limits keep the tables, the empty sets and their work arrays, which are
// allocated before any record is read, from being sized by a corrupt count.
constexpr int RXN_MAX_REACTIONS = 1 << 16;
constexpr int RXN_MAX_SETS = 1 << 16;
// Bytes of one reaction set object without its lists, for the check that a
// model fits the machine before anything is allocated (the set's own unit
// asserts that it is no larger).
constexpr int RXN_SET_BYTES = 160;

// Equilibrium solvers.
constexpr int EQUI_MAX_SECANT_PASSES = 300;  // safeguarded secant extent solve
constexpr int EQUI_MAX_LINCOMB_PASSES = 300; // linear-combination passes

// Initial heads.
constexpr int HEAD_MAX_SWEEPS = 1000; // Gauss-Seidel sweeps after the direct solve
// The direct solve uses the band elimination while its matrix,
// m_nNodes x (2 m_nCols + 1) doubles, takes no more than this; larger grids
// are solved by conjugate gradients with AMG (where the build has hypre) or
// by a sparse factorization of the same equations.
constexpr int64_t HEAD_BAND_MAX_BYTES = int64_t(256) << 20;
// Beyond the band, grids of up to this many nodes still take the sparse
// factorization: it gives today's bits and is as fast as the AMG solve with
// its MPI start up to about 400 x 400 nodes (measured 2026-12-08, one
// thread: 300 x 300 0.40 s sparse against 0.51 s AMG, 400 x 400 0.72 and
// 0.71 s, 500 x 500 1.76 and 1.26 s, 700 x 700 6.45 and 2.13 s).
constexpr int64_t HEAD_SPARSE_MAX_NODES = 160000;
// Whether the build has the AMG solve (heads/amg_solve.h).
constexpr bool HEAD_AMG_BUILT = KOVA_AMG_HEADS != 0;
// The AMG solve stops at this relative residual (the Euclidean norm of
// b - A x over that of b), which puts the heads within about 1e-11 relative
// of the factorization's; the distributed heads stop at the same.
constexpr double HEAD_AMG_RESIDUAL = 1e-13;
// ... and goes on while one Jacobi pass would still change the heads by more
// than this share of opzero in all (the sweeps that follow stop once a sweep
// changes them by at most opzero), each round's residual no smaller than
// HEAD_AMG_TIGHTEN times the last one's nor than HEAD_AMG_MIN_RESIDUAL, below
// which rounding leaves the residual where it is.
constexpr double HEAD_AMG_SWEEP_SHARE = 0.1;
constexpr double HEAD_AMG_TIGHTEN = 0.1;
constexpr double HEAD_AMG_MIN_RESIDUAL = 1e-15;
constexpr int HEAD_AMG_MAX_ROUNDS = 4;
// Iterations of all rounds together; a five-point grid takes 10 to 40.
constexpr int HEAD_AMG_MAX_ITERATIONS = 200;
// Memory of the AMG solve per node at its peak (the equations, hypre's copy
// and its hierarchy), for the check that a model fits the machine.
constexpr double HEAD_AMG_BYTES_PER_NODE = 500.0;
// Address space OpenMPI's start maps (measured: 117 MiB, mostly its threads'
// stacks), with a margin.
constexpr double HEAD_AMG_MPI_START_BYTES = 192.0 * 1048576.0;
// Memory of the sparse solve per node, for the check that a model fits the
// machine: a + b log2(nodes) bytes. Measured: about 560 bytes a node on a
// 300 x 300 grid, 690 on a 1000 x 1000 grid; the formula gives some margin.
constexpr double SPARSE_HEAD_BYTES_PER_NODE = 100.0;
constexpr double SPARSE_HEAD_BYTES_PER_NODE_LOG = 40.0;

// Threads: nodes handed out at a time to the threads that integrate them (the
// cost of a node varies with its reactions and its place in a plume).
constexpr int RXN_NODE_CHUNK = 256;
constexpr int THREADS_MAX = 1024; // the most threads --threads accepts
// Unless --threads says how many, a run takes no more threads than give each
// at least this many nodes: on fewer, handing the work to a second thread
// costs more than it gains (two threads against one, idle machine: 10 x 10
// 0.74x, 20 x 20 0.91x, 40 x 40 1.15x, 60 x 60 1.30x).
constexpr int THREADS_MIN_NODES_EACH = 768;
// The band elimination of the heads hands the rows below each pivot to the
// threads from this band width (grid columns) on: a narrower band gives each
// block of pivots too little work for a job of the team (heads with two
// threads against one, the two CPUs far apart: 100 columns 21 against 17 ms,
// 128 columns 35 against 34 ms, 150 columns 63 against 75 ms).
constexpr int HEAD_BAND_THREADS_MIN_WIDTH = 128;
// Pivot rows the band elimination takes together to each row below them.
constexpr int HEAD_BAND_BLOCK = 8;

// A record's mobile value beyond this many times the largest initial or
// injected value (at least 1) is no result of transport but of a step that
// made it grow without bound: the run ends there.
constexpr double STATE_RANGE_FACTOR = 1e6;

// A computed global step that takes more steps than this over the run is
// said to be one that may never end (a node of tiny porosity sets it).
constexpr double STEP_COUNT_WARN = 1e6;

// A face carries water against the index order only when its flux passes
// this share of the largest flux; below it the flux is the heads' round-off.
constexpr double FLOW_REVERSE_RELATIVE = 1e-9;

// Stable global step (ComputeStableStep). Of the two candidate formulas for a
// node with dispersion D and velocity term V, the root form applies while
// sqrt(V) / D <= STABLE_STEP_SWITCH; they meet there. The square of the root
// coefficient is stored as a constant of its own.
constexpr double STABLE_STEP_SWITCH = 4.0016;
constexpr double STABLE_STEP_ROOT_COEF = 2.9991716;
constexpr double STABLE_STEP_ROOT_COEF_SQUARED = 8.995030286246559;
// The tvd scheme's step is its monotone limit times this, and its cross
// corrections take this share of the room a node has: at the limits
// themselves the rounding of the sums could carry a node a few units of the
// last place past its neighbourhood's range.
constexpr double TRANSPORT_TVD_MARGIN = 0.999;
// The rows beyond a range of rows that the symmetric and tvd steps of that
// range read: the limited cross corrections of a row's faces take the limits
// of the rows beside it, those take the faces of the row above them, and a
// face's van Leer slope reads one row beyond its two nodes.
constexpr int TRANSPORT_UPSTREAM_HALO_ROWS = 3;
// The implicit transport ([transport] time = "implicit"). Its step when the
// model gives none: this many times the time the fastest water takes through
// a cell's pore volume (a Courant number), and at most this share of the run.
constexpr double TRANSPORT_IMPLICIT_COURANT = 5.0;
constexpr int TRANSPORT_IMPLICIT_MIN_STEPS = 10;
// The iterative solve: the relative residual it stops at and the most
// iterations it may take.
constexpr double TRANSPORT_IMPLICIT_TOLERANCE = 1e-13;
constexpr int TRANSPORT_IMPLICIT_MAX_ITERATIONS = 1000;
// The reactions' rate the implicit step carries: while a pass changes it by
// more than this share of the entry's largest value (over the step), or it
// is unknown (the first step), the step is taken again, at most this many
// times, its trial passes solved to this relative residual.
constexpr double TRANSPORT_IMPLICIT_RATE_TOLERANCE = 1e-2;
constexpr int TRANSPORT_IMPLICIT_MAX_PASSES = 8;
constexpr double TRANSPORT_IMPLICIT_TRIAL_TOLERANCE = 1e-6;
// --check solves the heads to count faces with reverse flow only up to this
// many nodes: beyond, the heads take as long as a run's, and the run warns.
constexpr int CHECK_FLOW_MAX_NODES = 1 << 20;

// Output times: the initial capacity of the record-time list is capped here;
// the list grows if a run writes more records.
constexpr int OUTPUT_TIMES_INITIAL_MAX = 1 << 20;
// The time file counts its records in 32 bits.
constexpr int32_t OUTPUT_MAX_RECORDS = INT32_MAX;
