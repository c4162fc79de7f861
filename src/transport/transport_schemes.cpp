// The four forms of the transport step: the explicit default, symmetric and
// tvd schemes and the implicit step, each a thin face over the functions of
// its scheme (transport/transport.h, transport/implicit_transport.h).
#include "transport/transport_schemes.h"

#include "model/exceptions.h"
#include "model/extension.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "transport/implicit_transport.h"
#include "transport/injection.h"
#include "transport/transport.h"

#include <algorithm>

namespace {

// The explicit forms keep nothing between steps and take no trial pass.
class CExplicitScheme : public CTransportScheme {
public:
    bool IsImplicit() const override { return false; }
    bool WarnsOfReverseFlow(const CSimulation&) const override { return false; }
    void Prepare(CSimulation&) override {}
    bool NeedsTrialPass(int) const override { return false; }
    void StartTrial(CSimulation&) override {}
    void EndTrial(CSimulation&) override {}
    bool NoteReactionRate(const CSimulation&) override { return true; }
};

// Lax-Wendroff with the signed flux: one row beyond the range.
class CDefaultScheme final : public CExplicitScheme {
public:
    double StableStep(const CSimulation& s, double duration, int* limiting, int rowBegin,
                      int rowEnd) const override {
        return StableStepWithinSelfShare(s, duration, limiting, false, rowBegin,
                                         std::min(rowEnd, s.m_nRows));
    }
    // It alone takes the faces against the index order worse than the others.
    bool WarnsOfReverseFlow(const CSimulation& s) const override { return s.m_nMobile > 0; }
    void Step(CSimulation& s) override {
        TransportStepGather(s);
        AddInjection(s);
    }
    void StepRows(CSimulation& s, int rowBegin, int rowEnd) override {
        TransportStepRows(s, rowBegin, rowEnd);
    }
    int HaloRows() const override { return 1; }
};

// The schemes that take every face from its upstream side.
class CUpstreamScheme : public CExplicitScheme {
public:
    void Step(CSimulation& s) override {
        TransportStepUpstream(s);
        AddInjection(s);
    }
    void StepRows(CSimulation& s, int rowBegin, int rowEnd) override {
        TransportStepUpstreamRows(s, rowBegin, rowEnd);
    }
    int HaloRows() const override { return TRANSPORT_UPSTREAM_HALO_ROWS; }
};

class CSymmetricScheme final : public CUpstreamScheme {
public:
    double StableStep(const CSimulation& s, double duration, int* limiting, int rowBegin,
                      int rowEnd) const override {
        return StableStepWithinSelfShare(s, duration, limiting, true, rowBegin,
                                         std::min(rowEnd, s.m_nRows));
    }
};

class CTvdScheme final : public CUpstreamScheme {
public:
    double StableStep(const CSimulation& s, double duration, int* limiting, int rowBegin,
                      int rowEnd) const override {
        return TvdStableStep(s, duration, limiting, rowBegin, rowEnd);
    }
};

class CImplicitScheme final : public CTransportScheme {
public:
    bool IsImplicit() const override { return true; }
    double StableStep(const CSimulation&, double duration, int* limiting, int, int) const override {
        *limiting = -1;
        return duration;
    }
    bool WarnsOfReverseFlow(const CSimulation&) const override { return false; }
    // A process that holds only some nodes leaves the solve to rank 0, which
    // holds them all.
    void Prepare(CSimulation& s) override {
        if (s.HoldsEveryNode())
            m_solver.Prepare(s);
        else
            m_solver.Release();
    }
    void Step(CSimulation& s) override {
        m_solver.Step(s);
        AddInjection(s);
    }
    void StepRows(CSimulation&, int, int) override {
        throw Exception("the implicit transport step solves the whole grid, not some rows");
    }
    int HaloRows() const override { return 1; }
    bool NeedsTrialPass(int passes) const override { return m_solver.NeedsAnotherPass(passes); }
    void StartTrial(CSimulation& s) override { m_solver.SaveStepStart(s); }
    void EndTrial(CSimulation& s) override { m_solver.RestoreStepStart(s); }
    bool NoteReactionRate(const CSimulation& s) override { return m_solver.NoteReactionRate(s); }
    std::vector<double> Carried() const override { return m_solver.Carried(); }
    bool TakeCarried(const std::vector<double>& carried) override {
        return m_solver.TakeCarried(carried);
    }

private:
    CImplicitSolver m_solver;
};

} // namespace

std::unique_ptr<CTransportScheme> MakeTransportScheme(const CSimulation& s) {
    if (s.m_ext.m_time == ETransportTime::IMPLICIT)
        return std::make_unique<CImplicitScheme>();
    switch (s.m_ext.m_scheme) {
    case ETransportScheme::SYMMETRIC:
        return std::make_unique<CSymmetricScheme>();
    case ETransportScheme::TVD:
        return std::make_unique<CTvdScheme>();
    case ETransportScheme::DEFAULT:
        break;
    }
    return std::make_unique<CDefaultScheme>();
}

CTransportChoice::CTransportChoice(CSimulation& s)
    : m_sim(s), m_scheme(MakeTransportScheme(s)), m_lent(s.m_transport) {
    s.m_transport = m_scheme.get();
}

CTransportChoice::~CTransportChoice() {
    m_sim.m_transport = m_lent;
}
