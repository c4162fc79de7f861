#include "sim/run.h"

#include "run/message_sink.h"
#include "run/run_control.h"
#include "sim/exceptions.h"
#include "sim/simulation.h"

#include <exception>
#include <fstream>
#include <functional>
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
        simulation.m_nThreads = runControl->GetThreads();
        simulation.Run();
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

void CSimulation::Run() {
    m_nStateSlots = SLOT_COUNT;
    m_recordCount = 0;
    m_times = CPhaseTimes();
    m_times.m_nThreads = m_nThreads;
    const std::string base = m_runControl->GetFileName();
    const CStopwatch total;

    RunReportingFailures(m_runControl, [&] {
        CStopwatch watch;
        if (m_runControl->CheckContinue()) {
            // The file must exist: opening for reading never creates it. A file
            // that cannot be opened leaves the stream failed for the reader.
            const std::string path = base + ".kvi";
            std::ifstream in(path);
            try {
                ReadInput(in);
            } catch (Exception& e) {
                e.AddWhere("(file " + path + ")");
                throw;
            }
            m_times.m_read = watch.Lap();
            m_times.m_nNodes = m_nNodes;
        }
        if (m_runControl->CheckContinue()) {
            watch.Lap();
            InitHeads();
            m_times.m_heads = watch.Lap();
            m_times.m_headSolve = m_headSolve;
        }
        if (m_runControl->CheckContinue()) {
            watch.Lap();
            OpenOutput(base.c_str());
            m_times.m_output += watch.Lap();
            TimeLoop();
            watch.Lap();
            CloseOutput(base.c_str());
            m_times.m_output += watch.Lap();
        }
        m_runControl->SetStatus("Done.");
    });
    FreeArrays();
    m_times.m_total = total.Elapsed();
}
