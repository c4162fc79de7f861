#include "post/model_grid.h"

#include "io/model_file.h"
#include "model/exceptions.h"
#include "model/simulation.h"
#include "post/result_exception.h"
#include "run/message_sink.h"
#include "run/run_control.h"
#include "rxn/reactions.h"

#include <new>

namespace {

// The reader's allocation diagnostic is of no use to a tool's user.
class CDiscardSink : public CMessageSink {
public:
    void ShowMessage(const char*, const char*, const char*) override {}
    void WriteDiagnostic(const char*) override {}
};

CModelGrid GridOf(const CSimulation& sim) {
    CModelGrid grid;
    grid.m_nRows = sim.m_nRows;
    grid.m_nCols = sim.m_nCols;
    grid.m_nImmobile = sim.m_nImmobile;
    grid.m_nMobile = sim.m_nMobile;
    grid.m_nComp = sim.m_nComp;
    grid.m_nNodes = sim.m_nNodes;
    grid.m_rowCoord.assign(sim.m_grid.m_rowCoord.get(), sim.m_grid.m_rowCoord.get() + sim.m_nRows);
    grid.m_colCoord.assign(sim.m_grid.m_colCoord.get(), sim.m_grid.m_colCoord.get() + sim.m_nCols);
    grid.m_startTime = sim.m_settings.m_startTime;
    grid.m_endTime = sim.m_settings.m_endTime;
    grid.m_outputInterval = sim.m_settings.m_outputInterval;
    grid.m_globalStep = sim.m_clock.m_globalStep;
    grid.m_ext = sim.m_ext;
    return grid;
}

} // namespace

CModelGrid LoadModelGrid(const std::string& base) {
    CDiscardSink sink;
    CRunControl control(base.c_str());
    control.SetMessageSink(&sink);
    CSimulation sim(&control);
    CReactions rx;
    try {
        LoadModel(sim, rx, base);
    } catch (const Exception& e) {
        throw ResultException(e.Detail());
    } catch (const std::bad_alloc&) {
        throw ResultException(ModelFileName(base) + ": not enough memory to read the model file");
    }
    return GridOf(sim);
}
