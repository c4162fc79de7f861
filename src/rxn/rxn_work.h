// The state of one local integration (CRxnSet::Integrate): the five work
// arrays, the local clock and the node. Every thread that integrates nodes has
// its own, sized to the model's m_nComp once before the time loop, so reaction
// sets and reactions hold no per-call state and one set can serve several
// nodes at once.
//
// While Integrate runs on a thread, its work is that thread's current work:
// the reaction clock (CSimulation::LocalTime, LocalEndTime) reads the elapsed
// time and the local step of the node being integrated on the calling thread.
#pragma once

#include "model/limits.h"

#include <memory>

class CRxn;

// Threads write their works all the time: each lies on cache lines of its
// own, and so do its arrays, so that no thread slows another down.
constexpr int RXN_WORK_LINE = 64;   // bytes of a cache line
constexpr int RXN_WORK_PAGE = 4096; // bytes of a page
// The rows of a node's amounts in the budget's chunk lie this far apart, so
// that one row of every node of a chunk is one contiguous array.
constexpr int RXN_LEDGER_STRIDE = RXN_NODE_CHUNK;

struct alignas(RXN_WORK_LINE) CRxnWork {
    CRxnWork() = default;
    explicit CRxnWork(int nComp) { Allocate(nComp); }

    // Sizes the five arrays to nComp doubles each, all 0.
    void Allocate(int nComp);

    // The calling thread's current work; null outside Integrate.
    static const CRxnWork* Current() { return CurrentSlot(); }

    // Borrowed: the work of the Integrate running on this thread (none:
    // null); not freed here.
    static const CRxnWork*& CurrentSlot() {
        static thread_local const CRxnWork* current = nullptr;
        return current;
    }

    int m_nComp = 0;
    int m_node = -1;          // node being integrated (-1: none given)
    double m_elapsed = 0.0;   // local time integrated so far in this global step
    double m_localStep = 0.0; // the current local step h
    // Borrowed: the reaction last called, which a failure that ends the run
    // names (null when the failure is not a reaction's); not freed here.
    const CRxn* m_rxn = nullptr;
    // The arrays, m_nComp doubles each; borrowed from m_storage.
    double* m_sourceRate = nullptr;      // transport change / global step (mobile entries)
    double* m_increment = nullptr;       // change over one local step: the predictor
    double* m_delta = nullptr;           // kinetic change; snapshot of an equilibrium sweep
    double* m_prevIter = nullptr;        // previous corrector iterate
    double* m_base = nullptr;            // state at the start of the local step
    std::unique_ptr<double[]> m_storage; // owns the arrays

    // The amounts each reaction applied, for the mass budget: one row per
    // reaction of the node's set (kinetic, then equilibrium).
    // Sizes the carried amounts for sets of up to rows reactions.
    void AllocateLedger(int rows);
    int m_ledgerRows = 0;
    // Borrowed from the budget: the node's column of its chunk's amounts,
    // row r at m_ledgerPass[r * RXN_LEDGER_STRIDE]. The corrector pass in
    // progress writes there what each reaction applied in it; at the end of
    // the node's integration the amounts of all its accepted local steps are
    // there. Null: the node keeps no ledger. The budget sets it only when
    // the column and m_ledgerRows have a row for every reaction of the
    // node's set.
    double* m_ledgerPass = nullptr;
    // The amounts of the node's accepted local steps before the one in
    // progress, a row each; borrowed from m_ledgerStorage.
    double* m_ledgerCarry = nullptr;

    // The amounts the equilibrium reaction being called on this thread
    // reports, summed; the reaction set sets it before each call and keeps
    // it after when its work keeps a ledger. (A kinetic reaction returns its
    // amount.)
    static double& LedgerAmountSlot() {
        static thread_local double amount = 0.0;
        return amount;
    }
    std::unique_ptr<double[]> m_ledgerStorage; // owns the ledger arrays
};

// Makes a work the calling thread's current work for the scope's lifetime and
// restores the previous one after.
class CRxnWorkScope {
public:
    explicit CRxnWorkScope(CRxnWork& work) : m_previous(CRxnWork::CurrentSlot()) {
        CRxnWork::CurrentSlot() = &work;
    }
    ~CRxnWorkScope() { CRxnWork::CurrentSlot() = m_previous; }
    CRxnWorkScope(const CRxnWorkScope&) = delete;
    CRxnWorkScope& operator=(const CRxnWorkScope&) = delete;

private:
    const CRxnWork* m_previous;
};

class CSimulation;

// The reaction clock at the start and at the end of the current local step of
// the node being integrated on the calling thread (s.m_clock.m_rxnBaseTime outside an
// integration).
double LocalTime(const CSimulation& s);
double LocalEndTime(const CSimulation& s);
