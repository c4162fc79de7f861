// A reaction set: the equilibrium and kinetic reactions acting at its nodes,
// and the adaptive local integration of one node over one global step.
//
// Each local step is solved by a predictor and a fixed-point corrector that
// alternates the kinetic rates with equilibrium sweeps until the state moves
// by no more than opzero. A failed local step is halved and retried; a node
// that keeps failing gets a smaller local step (a fraction 1/2^k of the global
// step) held for many global steps, recovering by doubling. The per-node
// control (fraction, hold) lives in the model; the work arrays and the local
// clock live in a CRxnWork of the calling thread, sized once, so Integrate
// allocates nothing and the set holds only its lists and constants: several
// threads may integrate nodes of the same set at once.
#pragma once

#include <iosfwd>
#include <memory>
#include <vector>

class CRunProgress;
class CRxn;
struct CRxnWork;

class CRxnSet {
public:
    explicit CRxnSet(CRunProgress* progress);
    ~CRxnSet();
    CRxnSet(const CRxnSet&) = delete;
    CRxnSet& operator=(const CRxnSet&) = delete;

    // Reads "e, e reaction indices, m, m reaction indices". Indices are
    // checked against rxns; a failed read throws BadFileException.
    void Read(std::istream& in, const std::vector<std::unique_ptr<CRxn>>& rxns, int nComp,
              int nMobile, double opzero);

    // Integrates one node over one global step.
    // start: the node's state at the start of the step; state: on entry the
    // change over the previous step, on return the new state; transport: the
    // transport change of the step; fraction, hold: the node's step control;
    // work: the calling thread's arrays (at least m_nComp doubles each), which
    // is the thread's current work while the call runs. When the work has a
    // ledger, the amounts each reaction applied in the accepted local steps
    // are left in its column (CRxnWork::m_ledgerPass).
    void Integrate(const double* start, double* state, const double* transport, double globalStep,
                   double* fraction, int* hold, CRxnWork& work) const;
    // The same with the transport change applied whole before the first
    // local step (operator splitting): the reactions then act only on what
    // the transport left, so they cannot take from a node what it no longer
    // holds, where a constant rate may overdraw an emptied node.
    void IntegrateAfterTransport(const double* start, double* state, const double* transport,
                                 double globalStep, double* fraction, int* hold,
                                 CRxnWork& work) const;

    void Free();

    int m_nComp = 0;
    int m_firstMobile = 0;
    int m_nEqui = 0;
    int m_nKinetic = 0;
    std::vector<CRxn*> m_equi;    // borrowed from CSimulation::m_rxns; not freed here
    std::vector<CRxn*> m_kinetic; // borrowed from CSimulation::m_rxns; not freed here
    double m_opzero = 0.0;
    CRunProgress* m_progress; // borrowed: reports the smallest local step; not freed here

    // The ledger's slots: every immobile or mobile entry a reaction changes,
    // with the change per unit of the amounts the reaction reports (its row
    // of the ledger: the kinetic reactions, then the equilibrium ones).
    struct CLedgerSlot {
        int m_row;
        int m_entry;
        double m_change;
    };
    std::vector<CLedgerSlot> m_ledgerSlots;
    // Sets the slots from the lists (Read does; a caller that changes the
    // lists afterwards calls it again).
    void MakeLedgerSlots();
    // The reaction of every row of the ledger, kinetic ones first.
    const CRxn* LedgerReaction(int row) const {
        return row < m_nKinetic ? m_kinetic[static_cast<size_t>(row)]
                                : m_equi[static_cast<size_t>(row - m_nKinetic)];
    }

private:
    // LEDGER: the work's ledger keeps the amounts of the reactions.
    void IntegrateWith(bool atOnce, const double* start, double* state, const double* transport,
                       double globalStep, double* fraction, int* hold, CRxnWork& work) const;
    template <bool LEDGER>
    void IntegrateSteps(bool atOnce, const double* start, double* state, const double* transport,
                        double globalStep, double* fraction, int* hold, CRxnWork& work) const;
    template <bool LEDGER> void Correct(double* state, CRxnWork& work) const;
    template <bool LEDGER> void SweepEquilibrium(double* state, CRxnWork& work) const;
    void HalveAfterFailure(double* state, double* fraction, int* hold, CRxnWork& work) const;
    void ReportMinLocalStep(double fraction) const;
    // Copies (add: adds) the amounts of an accepted local step that is not
    // the node's last into the work's carry; adds the carry to the last.
    void CarryLedger(CRxnWork& work, bool add) const;
    void AddCarriedLedger(CRxnWork& work) const;
};
