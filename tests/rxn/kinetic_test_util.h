// Helpers shared by the kinetic reaction tests.
#pragma once

#include "model/exceptions.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

class CSimulation;

namespace kova_test {

// Builds a reaction of class T from its record (coefficient vector, then the
// class's fields). A blank is appended so that reading the last number does
// not reach the end of the stream.
template <class T>
std::unique_ptr<T> MakeRxn(const std::string& record, int nComp, CSimulation* sim = nullptr) {
    auto in = ModelStream(record + " ");
    return std::make_unique<T>(*in, nComp, sim);
}

// The detail of the InputException that building T from record throws; a
// BadFileException (or none) fails the test.
template <class T> std::string InputErrorOf(const std::string& record, int nComp) {
    try {
        MakeRxn<T>(record, nComp);
    } catch (const BadFileException& e) {
        ADD_FAILURE() << "Bad File instead of an input error for \"" << record
                      << "\": " << e.Detail();
        return "";
    } catch (const InputException& e) {
        return e.Detail();
    }
    ADD_FAILURE() << "no input error for \"" << record << "\"";
    return "";
}

// Relative closeness, printing both values.
inline ::testing::AssertionResult NearRel(double actual, double expected, double rel = 1e-12) {
    const double scale = std::fabs(expected) > 1e-300 ? std::fabs(expected) : 1.0;
    if (std::fabs(actual - expected) <= rel * scale)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "actual " << actual << " expected " << expected
                                         << " (relative tolerance " << rel << ")";
}

// Composite Simpson rule for an independent check of closed forms.
template <class F> double Simpson(F f, double lo, double hi, int intervals) {
    const double w = (hi - lo) / intervals;
    double sum = f(lo) + f(hi);
    for (int k = 1; k < intervals; ++k)
        sum += (k % 2 ? 4.0 : 2.0) * f(lo + k * w);
    return sum * w / 3.0;
}

} // namespace kova_test
