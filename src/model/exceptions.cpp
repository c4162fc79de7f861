#include "model/exceptions.h"

ComputeException SystemFailure(const std::string& what) {
    return ComputeException(what + " (a failure of the system, not of the model)");
}

void Exception::AddWhere(const std::string& where) {
    if (where.empty())
        return;
    if (!m_detail.empty())
        m_detail += ' ';
    m_detail += where;
}
