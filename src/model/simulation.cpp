#include "model/simulation.h"

#include "model/exceptions.h"
#include "model/index.h"
#include "run/platform.h"
#include "run/run_progress.h"
#include "run/thread_team.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <new>
#include <string>

namespace {

constexpr int64_t INT_LIMIT = std::numeric_limits<int>::max();

// A derived size that must fit the 32-bit counts of the model.
int CheckedCount(int64_t value, const char* what) {
    if (value > INT_LIMIT)
        throw InputException(std::string(what) + " " + std::to_string(value) +
                             " exceeds the limit of " + std::to_string(INT_LIMIT));
    return static_cast<int>(value);
}

// Initial capacity of the record-time list: trunc((end - start) / interval + 2),
// kept within 1..OUTPUT_TIMES_INITIAL_MAX (the list grows if needed).
size_t OutputTimesCapacity(double start, double end, double interval) {
    const double n = std::trunc((end - start) / interval + 2.0);
    if (!(n >= 1.0))
        return 1;
    if (n > OUTPUT_TIMES_INITIAL_MAX)
        return OUTPUT_TIMES_INITIAL_MAX;
    return static_cast<size_t>(n);
}

// A byte count in MiB, rounded up so that a small excess never reads as 0.
std::string MiB(double bytes) {
    return std::to_string(static_cast<long long>(std::ceil(bytes / 1048576.0)));
}

// What the sparse head solve takes at its peak, about: the matrix, the
// ordering and the factor of a grid's five-point equations, whose fill grows
// a little faster than the node count.
double SparseHeadBytes(EHeadSolve solve, int64_t nodes) {
    if (solve != EHeadSolve::SPARSE)
        return 0.0;
    const double n = static_cast<double>(nodes);
    return n * (SPARSE_HEAD_BYTES_PER_NODE + SPARSE_HEAD_BYTES_PER_NODE_LOG * std::log2(n));
}

} // namespace

CSimulation::CSimulation(CRunProgress* progress) : m_progress(progress) {}

CSimulation::~CSimulation() = default;

int CSimulation::NodeShareStart(int t) const {
    return CThreadTeam::ShareStart(m_nNodes, RXN_NODE_CHUNK, t, m_nThreads);
}

CThreadTeam& CSimulation::Team() {
    if (!m_team || m_team->Size() != m_nThreads) {
        m_team.reset();
        try {
            m_team = std::make_unique<CThreadTeam>(m_nThreads);
        } catch (const CTeamStartError& e) {
            throw ComputeException(std::string("the run's ") + std::to_string(m_nThreads) +
                                   " threads: " + e.what());
        }
    }
    return *m_team;
}

double SparseHeadSolveBytes(int64_t nodes) {
    return SparseHeadBytes(EHeadSolve::SPARSE, nodes);
}

std::string OutOfMemory(const std::string& what, double bytes) {
    return "not enough memory for " + what + " (" + MiB(bytes) + " MiB)";
}

int CSimulation::AllocateArrays() {
    if (!m_progress->CheckContinue())
        return 0;
    m_progress->SetStatus("Allocating Arrays ...");

    // Counts, computed wide and each checked before it enters the next
    // product, so that no product overflows: once nodes and values fit 32
    // bits, (2 x columns + 1) x nodes and nodes x mobile x 3 fit 64.
    const int64_t nodes = static_cast<int64_t>(m_nRows) * m_nCols;
    m_nNodes = CheckedCount(nodes, "number of nodes");
    const int64_t comp = static_cast<int64_t>(SLOT_COUNT) + m_nImmobile + m_nMobile;
    m_nComp = CheckedCount(comp, "state entries per node");
    const int64_t values = nodes * comp;
    m_nValues = CheckedCount(values, "number of state values");
    const int64_t dispCoef = nodes * m_nMobile * 3;
    m_nDispCoef = CheckedCount(dispCoef, "number of transport coefficients");
    // The band elimination works in m_work; a sparse solve keeps its matrix and
    // factor elsewhere and leaves m_work to the two step arrays.
    const int64_t band = (2 * static_cast<int64_t>(m_nCols) + 1) * nodes;
    m_headSolve =
        static_cast<double>(band) * 8.0 <= static_cast<double>(m_settings.m_headBandMaxBytes)
            ? EHeadSolve::BAND
            : EHeadSolve::SPARSE;
    const int64_t matrix = m_headSolve == EHeadSolve::BAND ? band : 0;
    const int64_t work = matrix >= 2 * values ? matrix : 2 * values;
    m_workSize = CheckedCount(work, "work buffer size");

    // The nodes the process holds: the parts of the node arrays it writes.
    const CNodeRange held = m_holdOnRead ? m_holdOnRead(m_nRows, m_nCols) : CNodeRange{0, m_nNodes};
    const double share =
        m_nNodes > 0 ? static_cast<double>(held.m_end - held.m_first) / m_nNodes : 1.0;

    // Refuse a model whose arrays cannot fit the machine before touching
    // memory: every array below (of the node arrays the share the process
    // holds; the reaction sets and node types of every node), the empty
    // reaction sets with the work arrays each will size once its record is
    // read, the record-time list and the sparse head solve's factor (which
    // only a process that holds the whole model computes).
    // The 64-bit counts are below 2^53 here (each fits int), so they convert to
    // double exactly.
    const double setBytes =
        static_cast<double>(RXN_SET_BYTES) + 5.0 * 8.0 * static_cast<double>(comp);
    const double nodeBytes = 8.0 * (static_cast<double>(dispCoef) + static_cast<double>(work) +
                                    static_cast<double>(values) + static_cast<double>(nodes)) +
                             4.0 * static_cast<double>(nodes);
    const double bytes =
        nodeBytes * share + 8.0 * (3.0 * m_nMobile + 2.0 * m_nRows + 2.0 * m_nCols) +
        2.0 * static_cast<double>(nodes) + 8.0 * m_nRxn + setBytes * m_nRxnSets +
        8.0 * static_cast<double>(OutputTimesCapacity(m_settings.m_startTime, m_settings.m_endTime,
                                                      m_settings.m_outputInterval)) +
        (m_holdOnRead ? 0.0 : SparseHeadBytes(m_headSolve, nodes));
    const uint64_t memory =
        m_settings.m_memoryLimit > 0 ? m_settings.m_memoryLimit : AvailableMemoryBytes();
    if (memory > 0 && bytes > static_cast<double>(memory))
        throw InputException("the model's arrays need " + MiB(bytes) + " MiB, more than the " +
                             MiB(static_cast<double>(memory)) + " MiB of memory available");

    // Huge pages where the process writes every node.
    const bool whole = held.m_first == 0 && held.m_end == m_nNodes;
    try {
        if (m_nDispCoef > 0)
            m_dispCoef = ZeroedNodeArray<double>(ToSize(m_nDispCoef), whole);
        if (m_nMobile > 0) {
            m_dispersivityL = ZeroedNodeArray<double>(ToSize(m_nMobile), whole);
            m_dispersivityT = ZeroedNodeArray<double>(ToSize(m_nMobile), whole);
            m_diffusion = ZeroedNodeArray<double>(ToSize(m_nMobile), whole);
        }
        m_work = ZeroedNodeArray<double>(ToSize(m_workSize), whole);
        m_state = m_work.get();
        m_transportDelta = m_work.get() + m_nValues;
        m_stateNew = ZeroedNodeArray<double>(ToSize(m_nValues), whole);
        m_clock.m_outputTimes.reserve(OutputTimesCapacity(
            m_settings.m_startTime, m_settings.m_endTime, m_settings.m_outputInterval));
        m_nodeRxnSet = ZeroedNodeArray<unsigned char>(ToSize(m_nNodes), whole);
        m_grid.m_nodeType =
            ZeroedNodeArray<unsigned char>(ToSize(m_nNodes), whole); // every node NODE_NORMAL
        m_localFraction = ZeroedNodeArray<double>(ToSize(m_nNodes), whole);
        m_localHold = ZeroedNodeArray<int>(ToSize(m_nNodes), whole);
        m_grid.m_rowCoord = ZeroedNodeArray<double>(ToSize(m_nRows), whole);
        m_grid.m_colCoord = ZeroedNodeArray<double>(ToSize(m_nCols), whole);
        m_grid.m_rowWidth = ZeroedNodeArray<double>(ToSize(m_nRows), whole);
        m_grid.m_colWidth = ZeroedNodeArray<double>(ToSize(m_nCols), whole);
    } catch (const std::bad_alloc&) {
        throw InputException("not enough memory for the arrays of the " + std::to_string(m_nRows) +
                             " x " + std::to_string(m_nCols) + " grid");
    }

    // The bytes of the four coordinate and width arrays; nothing reads this.
    const std::string line = "     " +
                             std::to_string((static_cast<long long>(m_nRows) + m_nCols) * 16LL) +
                             " for Coorinates";
    m_progress->WriteDiagnostic(line.c_str());

    HoldNodes(held.m_first, held.m_end);
    return 1;
}

void CSimulation::HoldNodes(int first, int end) {
    m_heldFirst = first;
    m_heldEnd = end;
    double* fraction = m_localFraction.get();
    for (int n = first; n < end; ++n)
        fraction[n] = 1.0;
}

void CSimulation::FreeArrays() {
    m_dispCoef.reset();
    m_work.reset();
    m_state = nullptr;
    m_transportDelta = nullptr;
    m_stateNew.reset();
    m_nodeRxnSet.reset();
    m_clock.m_outputTimes.clear();
    m_clock.m_outputTimes.shrink_to_fit();
    m_clock.m_recordCount = 0; // the next run counts its records from the first
    m_dispersivityL.reset();
    m_dispersivityT.reset();
    m_diffusion.reset();
    m_grid.Free();
    m_localFraction.reset();
    m_localHold.reset();
    m_transportWork.Free();
    m_team.reset();
}

void CSimulation::UseSettings(const CRunSettings& settings) {
    m_nThreads = settings.m_threads;
    m_settings.m_writeBudget = settings.m_keepBudget;
    m_settings.m_untilGiven = settings.m_untilGiven;
    m_settings.m_until = settings.m_until;
}

CTransportScheme& CSimulation::Transport() const {
    if (!m_transport)
        throw Exception("no transport form was chosen for the model");
    return *m_transport;
}
