#include "par/par_run.h"

#include "heads/heads.h"
#include "io/run_tables.h"
#include "model/exceptions.h"
#include "model/grid.h"
#include "model/simulation.h"
#include "par/par_comm.h"
#include "par/par_heads.h"
#include "par/par_output.h"
#include "par/par_time_loop.h"
#include "par/slab.h"
#include "run/platform.h"
#include "run/run_control.h"
#include "rxn/reactions.h"
#include "sim/run.h"
#include "sim/run_checkpoint.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

// The files of the run once the model is read and the heads are solved:
// rank 0 opens the time and data files and its tables as a one-process run
// does, then every rank opens the data file for its part of each record.
void RunRankWithFiles(CSimulation& s, CReactions& rx, const CParComm& comm, const std::string& base,
                      CHaloTraffic& traffic, bool stateFromRoot, CRunCheckpoint* checkpoint,
                      bool continues) {
    CParOutput output(base, comm);
    std::unique_ptr<CRunTables> tables;
    if (comm.IsRoot()) {
        tables = std::make_unique<CRunTables>(s, base);
        tables->AddTo(output.m_rootTables);
    }
    CStopwatch watch;
    comm.Agreed([&] {
        // Every file of rank 0 open before any is emptied, as in a
        // one-process run; a run that goes on opens them when it takes its
        // checkpoint back, and a run from the start removes an earlier one.
        output.m_records.AddRootFiles(output.m_rootFiles);
        output.m_rootFiles.Add(output.m_rootTables);
        if (continues)
            return;
        output.m_rootFiles.OpenFiles();
        if (checkpoint)
            checkpoint->Forget();
        output.m_rootFiles.Start();
    });
    comm.Agreed([&] { output.m_records.OpenShared(); });
    s.m_times.m_output += watch.Lap();
    ParTimeLoop(s, rx, output, comm, traffic, stateFromRoot, checkpoint, continues);
    watch.Lap();
    comm.Agreed([&] { output.m_records.CloseShared(); });
    comm.Agreed([&] {
        output.m_records.FinishOnRoot(s);
        output.m_rootTables.Finish(s);
    });
    s.m_times.m_output += watch.Lap();
}

// What the run reports below the phase times besides the halo traffic.
struct CParReport {
    CHaloTraffic m_traffic;
    bool m_distributedHeads = false;
    CParHeadReport m_heads;
};

// Rank 0 solves the default heads as a one-process run does; once it has
// the flow field too, it sends every other rank the state of the nodes that
// rank reads (ParTimeLoop), so every rank holds the one-process bits and the
// other ranks need neither the elimination nor the sparse factor, nor the
// state of any other node. The distributed heads are solved over the ranks,
// each holding its rows and SLAB_HELD_ROWS beyond them.
void SolveRankHeads(CSimulation& s, const CParComm& comm, CParReport& report) {
    if (!report.m_distributedHeads) {
        comm.Agreed([&] {
            if (comm.IsRoot()) {
                InitHeads(s);
            } else {
                SetCellWidths(s);
            }
        });
        s.m_times.m_headSolve = s.m_headSolve;
        return;
    }
    comm.Agreed([&] { ParInitHeads(s, comm, report.m_heads); });
    s.m_times.m_headSolve = EHeadSolve::DISTRIBUTED;
}

// The run sequence (sim/run.h) over the ranks: each stage agreed among
// them and each check for a cancel answered by rank 0. The run is never
// abandonable: the other ranks are in the middle of the same stage, and a
// rank 0 that left them would leave them to mpirun.
class CParRun final : public CRunStages {
public:
    CParRun(const CParComm& comm, CParReport& report) : m_comm(comm), m_report(report) {}

    bool Abandonable() const override { return false; }
    bool Continue(CRunControl& control) const override { return m_comm.Continue(&control); }
    void Agreed(const std::function<void()>& stage) const override { m_comm.Agreed(stage); }
    // Rank 0 holds the lock for the run.
    bool Leads() const override { return m_comm.IsRoot(); }
    // Every rank takes the threads it is offered.
    // Rank 0 keeps the checkpoints, as a one-process run does; with the
    // distributed heads no rank holds every node, and there are none.
    void OpenCheckpoint(CSimulation& s, const std::string& base, bool continuing) override {
        if (m_report.m_distributedHeads) {
            if (continuing)
                throw InputException("a run with --heads distributed keeps no checkpoint to go "
                                     "on from");
            return;
        }
        if (!m_comm.IsRoot())
            return;
        m_checkpoint = std::make_unique<CRunCheckpoint>(base);
        if (continuing)
            m_checkpoint->OpenToContinue(s);
    }
    void ChooseThreads(CSimulation&, CRunControl&) const override {}
    void SolveHeads(CSimulation& s) override { SolveRankHeads(s, m_comm, m_report); }
    void RunWithFiles(CSimulation& s, CReactions& rx, const std::string& base) override {
        // Rank 0's answer: whether there was a checkpoint to go on from.
        int continues = m_checkpoint && m_checkpoint->Continues() ? 1 : 0;
        MPI_Bcast(&continues, 1, MPI_INT, 0, m_comm.Comm());
        RunRankWithFiles(s, rx, m_comm, base, m_report.m_traffic, !m_report.m_distributedHeads,
                         m_checkpoint.get(), continues == 1);
    }

private:
    const CParComm& m_comm; // borrowed from the rank's worker
    CParReport& m_report;   // borrowed from the rank's worker; filled by the run
    std::unique_ptr<CRunCheckpoint> m_checkpoint; // rank 0's; none elsewhere
};

// Below the phase times of --timings, which are rank 0's.
std::string TrafficLine(const CParComm& comm, const CParReport& report) {
    std::string line = "kova-compute-mpi: " + std::to_string(comm.Size()) +
                       " processes, the times above are rank 0's; per global step " +
                       std::to_string(report.m_traffic.m_messages) + " halo messages, " +
                       std::to_string(report.m_traffic.m_bytes) + " bytes\n";
    if (report.m_distributedHeads) {
        char heads[240];
        std::snprintf(heads, sizeof heads,
                      "kova-compute-mpi: distributed heads (hypre BoomerAMG-PCG, %d iterations, "
                      "relative residual %.2e, then %d sweeps): within 1e-10 relative of the "
                      "default heads, not bit for bit\n",
                      report.m_heads.m_iterations, report.m_heads.m_residual,
                      report.m_heads.m_sweeps);
        line += heads;
    }
    return line;
}

// Each process's peak resident memory, for the last line of --timings: rank
// 0's (the front end, the records and the budget's storage) and the largest
// of the others'. Every rank calls it.
std::string MemoryLine(const CParComm& comm) {
    uint64_t peak = PeakResidentBytes();
    std::vector<uint64_t> peaks(comm.IsRoot() ? ToSize(comm.Size()) : 0);
    MPI_Gather(&peak, 1, MPI_UINT64_T, peaks.data(), 1, MPI_UINT64_T, 0, comm.Comm());
    if (!comm.IsRoot() || comm.Size() < 2)
        return std::string();
    const uint64_t others = *std::max_element(peaks.begin() + 1, peaks.end());
    char line[200];
    std::snprintf(line, sizeof line,
                  "kova-compute-mpi: peak resident memory: rank 0 %.0f MiB, the other ranks at "
                  "most %.0f MiB\n",
                  static_cast<double>(peaks[0]) / 1048576.0,
                  static_cast<double>(others) / 1048576.0);
    return line;
}

// With the default heads rank 0 holds every node and the others none until
// rank 0 sends them their rows; with the distributed heads every rank holds
// its rows and SLAB_HELD_ROWS beyond them on each side.
void HoldOnRead(CSimulation& s, const CParComm& comm, bool distributedHeads) {
    const int rank = comm.Rank();
    const int ranks = comm.Size();
    if (distributedHeads) {
        s.m_holdOnRead = [rank, ranks](int rows, int cols) {
            const CSlab slab = SlabOf(rank, ranks, rows, cols, false, SLAB_HELD_ROWS);
            return CNodeRange{slab.m_needFirst, slab.m_needEnd};
        };
    } else if (!comm.IsRoot()) {
        s.m_holdOnRead = [](int, int) { return CNodeRange{0, 0}; };
    }
}

} // namespace

void ParSimulationThread(CRunControl* runControl, const CParSettings& settings) {
    runControl->SetStatus("Initalizing....");
    {
        const CParComm comm(MPI_COMM_WORLD);
        CSimulation simulation(runControl);
        simulation.UseSettings(runControl->Settings());
        HoldOnRead(simulation, comm, settings.m_distributedHeads);
        CParReport report;
        report.m_distributedHeads = settings.m_distributedHeads;
        CParRun stages(comm, report);
        RunSequence(simulation, *runControl, stages);
        const std::string memory = MemoryLine(comm);
        runControl->SetTimingReport(FormatPhaseTimes(simulation.m_times) +
                                    TrafficLine(comm, report) + memory);
    }
    runControl->SetFinished();
}
