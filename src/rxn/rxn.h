// The reaction interface.
//
// A reaction acts on one node's state vector (m_nComp doubles: the hydraulic
// slots, then the immobile, then the mobile components). One object serves
// every node of every reaction set that lists it, so all per-node data comes
// in as arrays. A kinetic reaction answers CompRate, an equilibrium reaction
// CompEqui; the base answers neither and throws NotSupportedException.
//
// Record: every reaction record starts with m_nComp doubles (no count in
// front), the coefficient vector m_stoich: for most classes the change of each
// entry per unit of reaction extent. The class's own fields follow.
#pragma once

#include "rxn/rxn_work.h"

#include <iosfwd>
#include <memory>

class CRxnDescription;
class CSimulation;

class CRxn {
public:
    // Reads the coefficient vector; throws BadFileException when the stream is
    // no longer good afterwards (end of file included).
    CRxn(std::istream& in, int nComp, CSimulation* sim);
    virtual ~CRxn();
    CRxn(const CRxn&) = delete;
    CRxn& operator=(const CRxn&) = delete;

    // 1 when any hydraulic slot (entries 0..6) has a non-zero coefficient.
    virtual int AffectsHydraulic() const;
    // Adds the reaction's change over the local step h into delta and returns
    // the amount applied, for the mass budget (the extent along the
    // coefficient vector; 0 when the reaction did nothing).
    // conc: estimate of the state at the end of the step; base: at its start.
    virtual double CompRate(const double* conc, const double* base, double* delta, double h);
    // Brings the state to the reaction's equilibrium condition in place.
    virtual void CompEqui(double* conc);
    // Called when a reaction set lists this reaction among its equilibrium
    // reactions; throws InputException when the record cannot serve there.
    virtual void CheckEquilibriumListing() const {}
    // Whether the reaction, listed as an equilibrium, sets entry k to a
    // constant at the end of every step: the implicit transport keeps such a
    // node at its value through the step, as the explicit step sees it.
    virtual bool HoldsEntry(int /*k*/) const { return false; }
    // The change of state entry k (0..m_nComp-1) per unit of the amounts the
    // reaction reports to the mass budget's ledger, as a kinetic or as an
    // equilibrium reaction: its coefficient, for most classes. The budget
    // keeps a term for each entry with a change that is not 0.
    virtual double ChangePerAmount(int k, bool /*equilibrium*/) const {
        return m_stoich[static_cast<size_t>(k)];
    }
    // Tells the reaction's type and its record's fields by name, in record
    // order, for a model summary. Not used by a run.
    virtual void Describe(CRxnDescription& d) const;

    int GetNComp() const { return m_nComp; }

protected:
    // Throws InputException naming the field when index is outside
    // 0..m_nComp-1 (-1 passes when allowNone: the record's "none").
    void CheckIndex(int index, const char* field, bool allowNone = false) const;
    // Throws InputException naming the field when value is negative or not a
    // number.
    static void CheckNotNegative(double value, const char* field);
    // Throws BadFileException ("Bad File") when the stream is no longer good.
    static void CheckStream(const std::istream& in);
    // Reports an amount an equilibrium reaction applied: it is added to the
    // amount of the call in progress on this thread, which the reaction set
    // keeps in its ledger when it keeps one.
    static void ReportAmount(double amount) { CRxnWork::LedgerAmountSlot() += amount; }
    // Adds amount of extent along the coefficient vector: every entry of delta
    // gets amount * m_stoich[i]. Returns amount, what CompRate returns.
    double AddAlongStoich(double* delta, double amount) const {
        const double* stoich = m_stoich.get();
        for (int i = 0; i < m_nComp; ++i)
            delta[i] += amount * stoich[i];
        return amount;
    }
    // Advances the state by extent x in place: conc[i] = x * m_stoich[i] + conc[i].
    void ApplyExtent(double* conc, double x) const {
        ReportAmount(x);
        const double* stoich = m_stoich.get();
        for (int i = 0; i < m_nComp; ++i)
            conc[i] = x * stoich[i] + conc[i];
    }
    // Sets entry k to value; the change is the amount reported.
    static void AssignEntry(double* conc, int k, double value) {
        CRxnWork::LedgerAmountSlot() += value - conc[k];
        conc[k] = value;
    }

    int m_nComp;
    std::unique_ptr<double[]> m_stoich;
    CSimulation* m_sim; // borrowed: the owning model
};
