#include "model/exceptions.h"

void Exception::AddWhere(const std::string& where) {
    if (where.empty())
        return;
    if (!m_detail.empty())
        m_detail += ' ';
    m_detail += where;
}
