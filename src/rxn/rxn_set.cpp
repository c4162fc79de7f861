#include "rxn/rxn_set.h"

#include "model/exceptions.h"
#include "model/index.h"
#include "model/limits.h"
#include "run/run_progress.h"
#include "rxn/rxn.h"
#include "rxn/rxn_work.h"

#include <cmath>
#include <istream>
#include <string>

namespace {

// trunc(1 / fraction) x HOLD_STEPS_PER_FRACTION, saturated: at fractions of
// 2^-15 and below the product no longer fits an int.
int HoldFor(double fraction) {
    const double steps = std::trunc(1.0 / fraction) * HOLD_STEPS_PER_FRACTION;
    if (!(steps < static_cast<double>(HOLD_MAX)))
        return HOLD_MAX;
    return static_cast<int>(steps);
}

// Not inlined: its texts would give Integrate a stack frame on every call.
[[noreturn]] __attribute__((noinline, cold)) void ThrowWorkTooSmall(int workComp, int setComp) {
    throw Exception("reaction work arrays of " + std::to_string(workComp) +
                    " entries for a set of " + std::to_string(setComp));
}

void ReadList(std::istream& in, const std::vector<std::unique_ptr<CRxn>>& rxns,
              std::vector<CRxn*>& list, int& count, const char* which) {
    count = 0;
    int n = 0;
    in >> n;
    if (in.fail())
        throw BadFileException(std::string("Bad File: missing count of ") + which + " reactions");
    for (int k = 0; k < n; ++k) {
        int index = 0;
        in >> index;
        if (in.fail())
            throw BadFileException(std::string("Bad File: missing ") + which + " reaction index " +
                                   std::to_string(k));
        if (index < 0 || index >= static_cast<int>(rxns.size()))
            throw InputException("reaction index " + std::to_string(index) + " outside 0.." +
                                 std::to_string(static_cast<int>(rxns.size()) - 1) + " in the " +
                                 which + " list");
        list.push_back(rxns[ToSize(index)].get());
    }
    count = static_cast<int>(list.size());
}

} // namespace

static_assert(sizeof(CRxnSet) <= RXN_SET_BYTES, "the memory check counts RXN_SET_BYTES a set");

CRxnSet::CRxnSet(CRunProgress* progress) : m_progress(progress) {}

CRxnSet::~CRxnSet() = default;

void CRxnSet::Read(std::istream& in, const std::vector<std::unique_ptr<CRxn>>& rxns, int nComp,
                   int nMobile, double opzero) {
    m_nComp = nComp;
    m_firstMobile = nComp - nMobile;
    m_opzero = opzero;
    ReadList(in, rxns, m_equi, m_nEqui, "equilibrium");
    for (const CRxn* rxn : m_equi)
        rxn->CheckEquilibriumListing();
    ReadList(in, rxns, m_kinetic, m_nKinetic, "kinetic");
    MakeLedgerSlots();
}

void CRxnSet::MakeLedgerSlots() {
    m_ledgerSlots.clear();
    for (int r = 0; r < m_nKinetic + m_nEqui; ++r)
        for (int i = SLOT_COUNT; i < m_nComp; ++i) {
            const double change = LedgerReaction(r)->ChangePerAmount(i, r >= m_nKinetic);
            if (change != 0.0)
                m_ledgerSlots.push_back(CLedgerSlot{r, i, change});
        }
}

void CRxnSet::Free() {
    m_equi.clear();
    m_equi.shrink_to_fit();
    m_kinetic.clear();
    m_kinetic.shrink_to_fit();
    m_nEqui = 0;
    m_nKinetic = 0;
}

void CRxnSet::Integrate(const double* start, double* state, const double* transport,
                        double globalStep, double* fraction, int* hold, CRxnWork& work) const {
    IntegrateWith(false, start, state, transport, globalStep, fraction, hold, work);
}

void CRxnSet::IntegrateAfterTransport(const double* start, double* state, const double* transport,
                                      double globalStep, double* fraction, int* hold,
                                      CRxnWork& work) const {
    IntegrateWith(true, start, state, transport, globalStep, fraction, hold, work);
}

void CRxnSet::IntegrateWith(bool atOnce, const double* start, double* state,
                            const double* transport, double globalStep, double* fraction, int* hold,
                            CRxnWork& work) const {
    work.m_rxn = nullptr;
    if (work.m_nComp < m_nComp)
        ThrowWorkTooSmall(work.m_nComp, m_nComp);
    if (work.m_ledgerPass == nullptr)
        IntegrateSteps<false>(atOnce, start, state, transport, globalStep, fraction, hold, work);
    else
        IntegrateSteps<true>(atOnce, start, state, transport, globalStep, fraction, hold, work);
}

// Compiled twice, so that a node without a ledger runs no code of it.
template <bool LEDGER>
void CRxnSet::IntegrateSteps(bool atOnce, const double* start, double* state,
                             const double* transport, double globalStep, double* fraction,
                             int* hold, CRxnWork& work) const {
    const CRxnWorkScope current(work);
    const int n = m_nComp;
    const double dt = globalStep;
    double* sourceRate = work.m_sourceRate;
    double* increment = work.m_increment;
    double* base = work.m_base;

    // 1. The first local step is the node's fraction of the global step.
    work.m_localStep = dt * *fraction;
    work.m_elapsed = 0.0;

    // 2. Transport acts as a constant source over the step (or, atOnce, is
    //    all applied before the first local step); the change over the
    //    previous global step, scaled, predicts the first local step.
    for (int i = 0; i < n; ++i)
        sourceRate[i] = 0.0;
    for (int i = 0; i < n; ++i)
        base[i] = start[i];
    if (atOnce)
        for (int i = m_firstMobile; i < n; ++i)
            base[i] = start[i] + transport[i];
    else
        for (int i = m_firstMobile; i < n; ++i)
            sourceRate[i] = transport[i] / dt;
    for (int i = 0; i < n; ++i)
        increment[i] = state[i] * *fraction;

    // 3. Local steps until the global step is covered.
    bool carried = false; // the work's carry holds earlier steps' amounts
    for (;;) {
        for (int i = 0; i < n; ++i)
            state[i] = base[i] + increment[i];
        try {
            Correct<LEDGER>(state, work);
        } catch (const TimeException&) {
            // Recoverable: an iteration limit inside the step. Retry the same
            // step from its start with half the length. What ends the run
            // from here on is no reaction's failure.
            work.m_rxn = nullptr;
            HalveAfterFailure(state, fraction, hold, work);
            // Past this the local steps of one global step could not be
            // counted in a lifetime; the run ends as below opzero.
            if (work.m_localStep < dt * RXN_MIN_LOCAL_STEP_FRACTION)
                throw ComputeException("Local Timestep reduced below 2^-24 of the global step");
            continue;
        }
        const double elapsed = work.m_elapsed + work.m_localStep;
        if (!(elapsed > work.m_elapsed)) {
            work.m_rxn = nullptr;
            throw ComputeException("Local Timestep too small to advance the local clock");
        }
        work.m_elapsed = elapsed;
        if (!(work.m_elapsed < dt))
            break;
        if (LEDGER) {
            CarryLedger(work, carried);
            carried = true;
        }
        // The next step starts where this one ended and is predicted to
        // change the state as much as this one did.
        for (int i = 0; i < n; ++i) {
            increment[i] = state[i] - base[i];
            base[i] = state[i];
        }
    }

    if (LEDGER && carried)
        AddCarriedLedger(work);

    // 5. A reduced node holds its fraction for a while, then doubles it back.
    if (*fraction < 1.0) {
        if (*hold > 0) {
            *hold -= 1;
        } else {
            *fraction = *fraction * 2;
            if (*fraction < 1.0)
                *hold = HoldFor(*fraction);
        }
    }
}

namespace {

bool HasNaN(const double* state, int n) {
    for (int i = 0; i < n; ++i)
        if (std::isnan(state[i]))
            return true;
    return false;
}

} // namespace

// The corrector of one local step: kinetic rates and equilibrium sweeps until
// the state moves by no more than opzero. Throws TimeException at its pass
// limit (or from a reaction); the caller halves the step.
// Inlined into the local steps, both ways (g++ inlined only the one without
// the ledger by itself; as a call the other cost a first-order chain with the
// budget 27 instructions a node and global step).
template <bool LEDGER>
__attribute__((always_inline)) inline void CRxnSet::Correct(double* state, CRxnWork& work) const {
    const int n = m_nComp;
    const double* sourceRate = work.m_sourceRate;
    const double* base = work.m_base;
    double* delta = work.m_delta;
    double* prevIter = work.m_prevIter;
    const double h = work.m_localStep;

    CRxn* const* const kinetic = m_kinetic.data();
    CRxn* const* const kineticEnd = kinetic + m_nKinetic;
    double* const pass = work.m_ledgerPass; // a row per reaction, RXN_LEDGER_STRIDE apart
    int passes = 0;
    for (;;) {
        if (++passes > RXN_MAX_CORRECTOR_PASSES)
            throw TimeException("corrector did not converge");
        for (int i = 0; i < n; ++i)
            prevIter[i] = state[i];
        for (int i = 0; i < n; ++i)
            delta[i] = sourceRate[i] * h;
        double* row = pass;
        for (CRxn* const* k = kinetic; k != kineticEnd; ++k) {
            work.m_rxn = *k; // named by a failure that ends the run
            const double amount = (*k)->CompRate(state, base, delta, h);
            if (LEDGER) {
                *row = amount;
                row += RXN_LEDGER_STRIDE;
            }
        }
        for (int i = 0; i < n; ++i)
            state[i] = base[i] + delta[i];
        if (m_nEqui > 0)
            SweepEquilibrium<LEDGER>(state, work);
        double s = 0.0;
        for (int i = 0; i < n; ++i)
            s += std::fabs(state[i] - prevIter[i]);
        // The step is accepted: what this pass applied is what it changed,
        // and it is in the ledger already.
        if (!(s > m_opzero)) {
            // A pass that left a value that is no number at all has diverged:
            // the step is too large for the reactions' rates. (An infinite
            // value that stays put is the state's own; the record check
            // names it.)
            if (std::isnan(s) && HasNaN(state, n))
                throw TimeException("corrector diverged");
            return;
        }
    }
}

// Equilibrium sweeps until one sweep moves the state by no more than opzero.
template <bool LEDGER> void CRxnSet::SweepEquilibrium(double* state, CRxnWork& work) const {
    const int n = m_nComp;
    double* snapshot = work.m_delta;
    CRxn* const* equi = m_equi.data();
    // Each equilibrium reaction's row sums its amounts over the sweeps.
    double* const rows = LEDGER ? work.m_ledgerPass + m_nKinetic * RXN_LEDGER_STRIDE : nullptr;
    double& amount = CRxnWork::LedgerAmountSlot();
    if (LEDGER)
        for (int r = 0; r < m_nEqui; ++r)
            rows[r * RXN_LEDGER_STRIDE] = 0.0;
    int sweeps = 0;
    double s = 0.0;
    do {
        // A set whose equilibria never settle is a failed local step.
        if (++sweeps > RXN_MAX_EQUI_SWEEPS)
            throw TimeException("equilibrium sweeps did not settle");
        for (int i = 0; i < n; ++i)
            snapshot[i] = state[i];
        for (int r = 0; r < m_nEqui; ++r) {
            work.m_rxn = equi[r]; // named by a failure that ends the run
            amount = LEDGER ? rows[r * RXN_LEDGER_STRIDE] : 0.0;
            equi[r]->CompEqui(state);
            if (LEDGER)
                rows[r * RXN_LEDGER_STRIDE] = amount;
        }
        s = 0.0;
        for (int i = 0; i < n; ++i)
            s += std::fabs(snapshot[i] - state[i]);
    } while (s > m_opzero);
}

// The ledger keeps the amounts each reaction reports (its extent, or what
// it set an entry to less what was there): in a corrector pass each
// reaction reports into its own row of the node's column (an equilibrium
// reaction over all its calls in the sweeps), so the accepted pass leaves
// what it applied there, which the budget weights with the node's pore
// volume. A node of several local steps carries the amounts of each accepted
// step but its last in the work and adds them to the last one's at the end.
void CRxnSet::CarryLedger(CRxnWork& work, bool add) const {
    const double* pass = work.m_ledgerPass;
    double* carry = work.m_ledgerCarry;
    for (int r = 0; r < m_nKinetic + m_nEqui; ++r)
        carry[r] = add ? carry[r] + pass[r * RXN_LEDGER_STRIDE] : pass[r * RXN_LEDGER_STRIDE];
}

void CRxnSet::AddCarriedLedger(CRxnWork& work) const {
    double* pass = work.m_ledgerPass;
    const double* carry = work.m_ledgerCarry;
    for (int r = 0; r < m_nKinetic + m_nEqui; ++r)
        pass[r * RXN_LEDGER_STRIDE] += carry[r];
}

void CRxnSet::HalveAfterFailure(double* state, double* fraction, int* hold, CRxnWork& work) const {
    const int n = m_nComp;
    double* increment = work.m_increment;
    const double* base = work.m_base;

    if (*hold < HOLD_MAX)
        *hold += 1;
    work.m_localStep = work.m_localStep * 0.5;
    for (int i = 0; i < n; ++i) {
        increment[i] = increment[i] * 0.5;
        state[i] = base[i] + increment[i];
    }
    if (*hold > HOLD_FAIL_LIMIT) {
        // A node that keeps failing takes a smaller step for many global steps.
        *fraction = *fraction * 0.5;
        *hold = HoldFor(*fraction);
        ReportMinLocalStep(*fraction);
    }
    // A step that has shrunk to nothing (possible only with opzero <= 0) could
    // never cover the global step: it ends the run like one below opzero.
    if (work.m_localStep < m_opzero || !(work.m_localStep > 0.0))
        throw ComputeException("Local Timestep reduced below opzero");
}

// The run control's smallest local step becomes min(its value, fraction), in
// one step under its lock so that no thread's report is lost; it happens only
// when a node's fraction halves.
void CRxnSet::ReportMinLocalStep(double fraction) const {
    if (m_progress)
        m_progress->LowerMinLocalStep(fraction);
}
