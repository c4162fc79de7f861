#include "sim/run.h"

#include "heads/heads.h"
#include "io/extension_file.h"
#include "io/model_file.h"
#include "io/output_files.h"
#include "io/run_tables.h"
#include "model/exceptions.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "run/message_sink.h"
#include "run/run_control.h"
#include "rxn/reactions.h"
#include "sim/run_checkpoint.h"
#include "sim/time_loop.h"
#include "transport/injection.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <new>
#include <string>

namespace {

// Shows the failure and stores the run's error text. The report depends on the
// class of the failure only; the detail says what failed and where.
void ReportFailure(CRunControl* runControl, const char* text, const char* errorText,
                   const std::string& detail) {
    if (CMessageSink* sink = runControl->GetMessageSink())
        sink->ShowMessage(RUN_ERROR_CAPTION, text, detail.c_str());
    runControl->SetError(errorText);
}

} // namespace

void SimulationThread(CRunControl* runControl) {
    runControl->SetStatus("Initalizing....");
    {
        CSimulation simulation(runControl);
        simulation.UseSettings(runControl->Settings());
        RunSimulation(simulation, *runControl);
        runControl->SetTimingReport(FormatPhaseTimes(simulation.m_times));
    }
    runControl->SetFinished();
}

void RunReportingFailures(CRunControl* runControl, const std::function<void()>& stages) {
    try {
        stages();
    } catch (const TimeException& e) {
        ReportFailure(runControl, "ERROR - A kova Time exception was caught", "Time Error",
                      e.Detail());
    } catch (const NotSupportedException& e) {
        ReportFailure(runControl, "ERROR - A kova Not Supported Exception was caught",
                      "Internal Error", e.Detail());
    } catch (const InputException& e) {
        ReportFailure(runControl, "ERROR - A kova Input Exception was caught", "Input Error",
                      e.Detail());
    } catch (const ComputeException& e) {
        ReportFailure(runControl, "ERROR - A kova Compute Exception was caught",
                      "Computational Error", e.Detail());
    } catch (const Exception& e) {
        ReportFailure(runControl, "ERROR - A kova general exception was caugh", "Internal Error",
                      e.Detail());
    } catch (const std::exception& e) {
        // Not one of the run's own classes (memory exhausted while growing a
        // list, say): reported like the general exception.
        ReportFailure(runControl, "ERROR - A kova general exception was caugh", "Internal Error",
                      e.what());
    }
}

int DefaultThreads(int offered, int nodes) {
    const int paying = nodes / THREADS_MIN_NODES_EACH;
    return std::max(1, std::min(offered, paying));
}

void RunSequence(CSimulation& s, CRunControl& runControl, CRunStages& stages) {
    s.m_times = CPhaseTimes();
    s.m_times.m_nThreads = s.m_nThreads;
    CRunControl* control = &runControl;
    const std::string base = control->GetFileName();
    const CStopwatch total;
    const bool abandonable = stages.Abandonable();

    if (abandonable)
        control->SetAbandonable();
    RunReportingFailures(control, [&] {
        // What the run was doing, for a failed allocation's report.
        const char* stage = "to read the model";
        try {
            CStopwatch watch;
            // Held until the files are closed: a second run on the base fails at once.
            std::unique_ptr<CModelLock> lock;
            stages.Agreed([&] {
                if (stages.Leads())
                    lock = std::make_unique<CModelLock>(base);
            });
            stages.Agreed([&] { stages.OpenCheckpoint(s, base, control->Settings().m_continue); });
            CReactions rx; // the model's reactions, for the run
            if (stages.Continue(runControl)) {
                // In two stages: a process that holds only some nodes
                // refuses a node's value in the model file, which must end
                // the run before another process's refusal of the extension
                // file.
                stages.Agreed([&] { LoadModelFile(s, rx, base); });
                stages.Agreed([&] { LoadExtension(s, base); });
                s.m_times.m_read = watch.Lap();
                s.m_times.m_nNodes = s.m_nNodes;
                stages.ChooseThreads(s, runControl);
            }
            stage = "for the initial heads";
            if (stages.Continue(runControl)) {
                watch.Lap();
                stages.SolveHeads(s);
                s.m_times.m_heads = watch.Lap();
                // Before the output files: a refused model leaves an
                // earlier run's results as they were.
                if (stages.Continue(runControl))
                    stages.Agreed([&] { CheckInjectedHeldNodes(s); });
            }
            stage = "in the time loop";
            if (stages.Continue(runControl) && (!abandonable || control->EndAbandonable()))
                stages.RunWithFiles(s, rx, base);
        } catch (const std::bad_alloc&) {
            throw ComputeException(std::string("not enough memory ") + stage);
        }
        control->SetStatus("Done.");
    });
    if (abandonable)
        control->EndAbandonable(); // a failure is reported in full
    s.FreeArrays();
    s.m_times.m_total = total.Elapsed();
}

namespace {

// Every node on this process, which the front end may abandon while it reads
// the model and solves the heads.
class COneProcessRun final : public CRunStages {
public:
    bool Abandonable() const override { return true; }
    bool Continue(CRunControl& control) const override { return control.CheckContinue(); }
    void Agreed(const std::function<void()>& stage) const override { stage(); }
    bool Leads() const override { return true; }
    void OpenCheckpoint(CSimulation& s, const std::string& base, bool continuing) override {
        m_checkpoint = std::make_unique<CRunCheckpoint>(base);
        if (continuing)
            m_checkpoint->OpenToContinue(s);
    }
    void ChooseThreads(CSimulation& s, CRunControl& control) const override {
        s.m_times.m_threadsOffered = s.m_nThreads;
        if (!control.Settings().m_threadsForced)
            s.m_nThreads = DefaultThreads(s.m_nThreads, s.m_nNodes);
        s.m_times.m_nThreads = s.m_nThreads;
    }
    void SolveHeads(CSimulation& s) override {
        InitHeads(s);
        s.m_times.m_headSolve = s.m_headSolve;
    }
    // Leaving by a failure closes the data file with the records written so
    // far; the time file keeps its marker.
    void RunWithFiles(CSimulation& s, CReactions& rx, const std::string& base) override {
        COutputFiles files(base);
        CRunTables tables(s, base);
        // The records first: their files fail as they always have. Every
        // file is opened before any is emptied.
        CRunOutputList output;
        output.Add(files);
        tables.AddTo(output);
        CStopwatch watch;
        // A run that goes on opens them when it takes its checkpoint back.
        // The checkpoint of an earlier run goes before its files are
        // emptied: it must never describe files that are not there.
        if (!m_checkpoint->Continues()) {
            output.OpenFiles();
            m_checkpoint->Forget();
            output.Start();
        }
        s.m_times.m_output += watch.Lap();
        TimeLoop(s, rx, output, m_checkpoint.get());
        watch.Lap();
        output.Finish(s);
        s.m_times.m_output += watch.Lap();
    }

private:
    std::unique_ptr<CRunCheckpoint> m_checkpoint; // made once the base is locked
};

} // namespace

void RunSimulation(CSimulation& s, CRunControl& runControl) {
    COneProcessRun stages;
    RunSequence(s, runControl, stages);
}
