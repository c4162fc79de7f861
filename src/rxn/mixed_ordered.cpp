#include "rxn/mixed_ordered.h"

#include "model/exceptions.h"
#include "model/index.h"
#include "rxn/ordered.h"
#include "rxn/rxn_description.h"

#include <istream>
#include <string>

namespace {

// w(m) = m! (n - m)! / (n + 1)!, one correctly rounded division per weight.
double SubsetWeight(int n, int m) {
    double top = 1.0;
    for (int k = 2; k <= m; ++k)
        top *= k;
    for (int k = 2; k <= n - m; ++k)
        top *= k;
    double bottom = 1.0;
    for (int k = 2; k <= n + 1; ++k)
        bottom *= k;
    return top / bottom;
}

} // namespace

CMixedOrdered::CMixedOrdered(std::istream& in, int nComp, CSimulation* sim) : CRxn(in, nComp, sim) {
    in >> m_rate >> m_order;
    if (m_order < 0 || m_order > ORDERED_MAX_ORDER)
        throw InputException("Mixed Ordered Reaction can not support order of " +
                             std::to_string(m_order));
    CheckStream(in);
    if (m_order > 0) {
        m_species.reset(new int[ToSize(m_order)]());
        int* species = m_species.get();
        for (int j = 0; j < m_order; ++j)
            in >> species[j];
        // A missing index would leave a factor unset.
        if (in.fail())
            throw BadFileException("Bad File: missing factor index of a mixed ordered reaction");
        for (int j = 0; j < m_order; ++j)
            CheckIndex(species[j], "factor");
    }
}

double CMixedOrdered::SubsetSum(int n, const double* start, const double* end) {
    double weights[ORDERED_MAX_ORDER + 1];
    for (int m = 0; m <= n; ++m)
        weights[m] = SubsetWeight(n, m);

    double sum = 0.0;
    const unsigned nSubsets = 1u << n;
    for (unsigned mask = 0; mask < nSubsets; ++mask) {
        int m = 0;
        for (int j = 0; j < n; ++j)
            if (mask & (1u << j))
                ++m;
        double term = weights[m];
        for (int j = 0; j < n; ++j)
            if (mask & (1u << j))
                term *= end[j];
        for (int j = 0; j < n; ++j)
            if (!(mask & (1u << j)))
                term *= start[j];
        sum += term;
    }
    return sum;
}

double CMixedOrdered::Amount(const double* start, const double* end, double h) const {
    const double k = m_rate;
    switch (m_order) {
    case 0:
        return h * k;
    case 1:
        return (end[0] + start[0]) * k * h * 0.5;
    case 2:
        return (end[1] * (2 * end[0] + start[0]) + start[1] * (2 * start[0] + end[0])) * k * h / 6;
    default:
        return k * h * SubsetSum(m_order, start, end);
    }
}

double CMixedOrdered::CompRate(const double* conc, const double* base, double* delta, double h) {
    double start[ORDERED_MAX_ORDER];
    double end[ORDERED_MAX_ORDER];
    const int* species = m_species.get();
    for (int j = 0; j < m_order; ++j) {
        start[j] = base[species[j]];
        end[j] = conc[species[j]];
    }
    const double amount = Amount(start, end, h);
    return AddAlongStoich(delta, amount);
}

void CMixedOrdered::Describe(CRxnDescription& d) const {
    d.SetType(3);
    d.AddVector("coefficients", m_stoich.get(), m_nComp);
    d.AddReal("k", m_rate);
    d.AddInteger("order", m_order);
    d.AddEntries("entries", m_species.get(), m_order);
}
