// Kinetic base for rates written as a ratio of two polynomials in the time t
// since the start of the local step, integrated over the step by the trapezoid
// rule on the ratio at t = h and t = 0.
//
// The coefficients are work space of one CompRate call. They live in a
// CRationalPoly on the caller's stack, not in the object, so that one reaction
// object can serve several nodes at once without sharing scratch memory.
// m_nNum and m_nDen fix how many coefficients a derived class uses.
#pragma once

#include "rxn/rxn.h"

// Numerator and denominator coefficients: m_num[i] and m_den[i] multiply t^i.
struct CRationalPoly {
    static constexpr int POLY_MAX_TERMS = 4; // up to cubic
    double m_num[POLY_MAX_TERMS];
    double m_den[POLY_MAX_TERMS];
};

class CIntegrated : public CRxn {
public:
    // Reads the common record only; the derived class sets the term counts.
    CIntegrated(std::istream& in, int nComp, CSimulation* sim);

    // N(t) / D(t). Throws ComputeException ("Integrated Reaction divide by
    // zero") when the constant term of D is 0 (whatever t is) or D(t) is 0.
    double Evaluate(const CRationalPoly& poly, double t) const;
    // (Evaluate(h) + Evaluate(0)) x h x 0.5, evaluating at h first.
    double IntegrateStep(const CRationalPoly& poly, double h) const;

protected:
    // Sets the number of coefficients used (each 0..CRationalPoly::POLY_MAX_TERMS).
    void SetTermCounts(int nNum, int nDen);

    int m_nNum = 0;
    int m_nDen = 0;
};
