#include "rxn/integrated.h"

#include "model/exceptions.h"

CIntegrated::CIntegrated(std::istream& in, int nComp, CSimulation* sim) : CRxn(in, nComp, sim) {}

void CIntegrated::SetTermCounts(int nNum, int nDen) {
    if (nNum < 0 || nNum > CRationalPoly::POLY_MAX_TERMS || nDen < 0 ||
        nDen > CRationalPoly::POLY_MAX_TERMS)
        throw NotSupportedException("Integrated Reaction polynomial degree too high");
    m_nNum = nNum;
    m_nDen = nDen;
}

double CIntegrated::Evaluate(const CRationalPoly& poly, double t) const {
    // Without a denominator there is no constant term to test either.
    if (m_nDen <= 0 || poly.m_den[0] == 0.0)
        throw ComputeException("Integrated Reaction divide by zero");

    double d = 0.0;
    double power = 1.0;
    for (int i = 0; i < m_nDen; ++i) {
        d += poly.m_den[i] * power;
        power *= t;
    }
    if (d == 0.0)
        throw ComputeException("Integrated Reaction divide by zero");

    double n = 0.0;
    power = 1.0;
    for (int i = 0; i < m_nNum; ++i) {
        n += poly.m_num[i] * power;
        power *= t;
    }
    return n / d;
}

double CIntegrated::IntegrateStep(const CRationalPoly& poly, double h) const {
    const double atEnd = Evaluate(poly, h);
    const double atStart = Evaluate(poly, 0.0);
    return (atEnd + atStart) * h * 0.5;
}
