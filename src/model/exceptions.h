// The failures of a run. Every failure is thrown by value as one of these
// classes; what the user is told depends only on the class (see Run). The
// text given at the throw site is kept as a detail for diagnostics, and
// callers that know more (the record being read, say) add where it happened.
//
// Only TimeException is recoverable: the local integration answers it by
// halving its step. Everything else travels to the top of the run sequence.
#pragma once

#include <cstdint>
#include <string>

constexpr int64_t EXCEPTION_ORDER_UNSET = int64_t(1) << 62;

class Exception {
public:
    Exception() = default;
    explicit Exception(const char* text) : m_detail(text ? text : "") {}
    explicit Exception(std::string text) : m_detail(std::move(text)) {}
    virtual ~Exception() = default;

    // What failed, followed by where, e.g. "Bad File in reaction record 3".
    const std::string& Detail() const { return m_detail; }
    // Appends the place of the failure (" in reaction record 3") to the detail.
    void AddWhere(const std::string& where);
    // Where the failure stands in the order in which a one-process run makes
    // its checks, when processes each check a part of the model and the one
    // that comes first must win (EXCEPTION_ORDER_UNSET: after every ordered
    // one; among unordered ones the lowest process wins).
    int64_t Order() const { return m_order; }
    void SetOrder(int64_t order) { m_order = order; }

private:
    std::string m_detail;
    int64_t m_order = EXCEPTION_ORDER_UNSET;
};

class InputException : public Exception {
public:
    using Exception::Exception;
};

// A stream that has failed: a missing file, a malformed or missing number.
class BadFileException : public InputException {
public:
    BadFileException() : InputException("Bad File") {}
    using InputException::InputException;
};

class ComputeException : public Exception {
public:
    using Exception::Exception;
};

// A failure of the system the run depends on (a result file that cannot be
// opened or written, a full disk, a file-size limit, a thread that will not
// start), not of the model or its computation: still a Computational Error,
// with a detail that says whose failure it is.
ComputeException SystemFailure(const std::string& what);

class NotSupportedException : public Exception {
public:
    using Exception::Exception;
};

// An iteration limit reached inside a local step; the local integration
// catches it and retries with half the step.
class TimeException : public Exception {
public:
    using Exception::Exception;
};
