#include "rxn/ordered.h"

#include "model/exceptions.h"
#include "rxn/rxn_description.h"

#include <cmath>
#include <istream>
#include <string>

COrdered::COrdered(std::istream& in, int nComp, CSimulation* sim) : CRxn(in, nComp, sim) {
    in >> m_order >> m_species >> m_rate;
    // The order is tested first: a record whose order field cannot be read
    // may report the order with whatever value the field holds.
    if (m_order < 0 || m_order > ORDERED_MAX_ORDER)
        throw InputException("Ordered Reaction can not support order of " +
                             std::to_string(m_order));
    CheckStream(in);
    CheckIndex(m_species, "species");
}

double COrdered::Amount(double b, double e, double h) const {
    using std::pow;
    const double k = m_rate;
    switch (m_order) {
    case 0:
        return h * k;
    case 1:
        return (e + b) * k * h * 0.5;
    case 2:
        return (pow(e, 2) + pow(b, 2) + e * b) * k * h / 3;
    case 3:
        return (pow(e, 2) * b + pow(b, 2) * e + pow(b, 3) + pow(e, 3)) * k * h * 0.25;
    case 4:
        return (pow(e, 2) * pow(b, 2) + pow(e, 3) * b + pow(b, 3) * e + pow(b, 4) + pow(e, 4)) * k *
               h * 0.2;
    case 5:
        return (pow(b, 2) * pow(e, 3) + pow(b, 3) * pow(e, 2) + pow(e, 4) * b + pow(b, 4) * e +
                pow(b, 5) + pow(e, 5)) *
               k * h / 6;
    case 6:
        return (pow(b, 2) * pow(e, 4) + pow(b, 3) * pow(e, 3) + pow(b, 4) * pow(e, 2) +
                pow(e, 5) * b + pow(b, 5) * e + pow(b, 6) + pow(e, 6)) *
               k * h / 7;
    default:
        // The constructor refuses every other order.
        throw NotSupportedException("Ordered Reaction can not support order of " +
                                    std::to_string(m_order));
    }
}

double COrdered::CompRate(const double* conc, const double* base, double* delta, double h) {
    const double amount = Amount(base[m_species], conc[m_species], h);
    return AddAlongStoich(delta, amount);
}

void COrdered::Describe(CRxnDescription& d) const {
    d.SetType(2);
    d.AddVector("coefficients", m_stoich.get(), m_nComp);
    d.AddInteger("order", m_order);
    d.AddEntry("entry", m_species);
    d.AddReal("k", m_rate);
}
