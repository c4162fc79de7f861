#include "post/csv_table.h"

#include "post/result_exception.h"
#include "post/result_files.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

// Longest field shown whole in an error; a line of garbage would drown it.
constexpr size_t SHOWN_FIELD_CHARS = 40;

bool IsDecimal(const std::string& text) {
    size_t k = 0;
    if (k < text.size() && (text[k] == '-' || text[k] == '+'))
        ++k;
    size_t digits = 0;
    for (; k < text.size() && text[k] >= '0' && text[k] <= '9'; ++k)
        ++digits;
    if (k < text.size() && text[k] == '.')
        for (++k; k < text.size() && text[k] >= '0' && text[k] <= '9'; ++k)
            ++digits;
    if (digits == 0)
        return false;
    if (k < text.size() && (text[k] == 'e' || text[k] == 'E')) {
        ++k;
        if (k < text.size() && (text[k] == '-' || text[k] == '+'))
            ++k;
        const size_t first = k;
        while (k < text.size() && text[k] >= '0' && text[k] <= '9')
            ++k;
        if (k == first)
            return false;
    }
    return k == text.size();
}

} // namespace

bool ParseCsvNumber(const std::string& text, double& value) {
    if (text == "nan" || text == "-nan") {
        value = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    if (text == "inf" || text == "-inf") {
        value = text[0] == '-' ? -std::numeric_limits<double>::infinity()
                               : std::numeric_limits<double>::infinity();
        return true;
    }
    if (!IsDecimal(text))
        return false;
    // Out-of-range decimals become +-inf or 0 here; %.17g never writes one.
    value = std::strtod(text.c_str(), nullptr);
    return true;
}

std::string ShownField(const std::string& text) {
    std::string shown = "\"";
    for (size_t k = 0; k < text.size() && k < SHOWN_FIELD_CHARS; ++k) {
        const unsigned char c = static_cast<unsigned char>(text[k]);
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(c));
            shown += escaped;
        } else
            shown += text[k];
    }
    return shown + (text.size() > SHOWN_FIELD_CHARS ? "...\"" : "\"");
}

CCsvTableReader::CCsvTableReader(const std::string& path, const char* what) : m_path(path) {
    OpenResultFile(m_in, path, what);
}

bool CCsvTableReader::NextRow() {
    std::string text;
    if (!std::getline(m_in, text))
        return false;
    if (m_in.eof()) {
        m_cutLine = m_line + 1;
        return false;
    }
    ++m_line;
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    m_fields.clear();
    m_columns.clear();
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        m_fields.push_back(text.substr(start, comma - start));
        m_columns.push_back(start + 1);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return true;
}

std::string CCsvTableReader::CutLineNotice() const {
    if (m_cutLine == 0)
        return "";
    return m_path + " ends inside line " + std::to_string(m_cutLine) +
           " (no line feed: it is being written or was cut), which is left out";
}

void CCsvTableReader::ReadHeader(const std::string& layout) {
    if (NextRow())
        return;
    if (m_cutLine == 0)
        throw ResultException(m_path + ": empty, expected the header " + layout);
    throw ResultException(m_path + " line 1: the header ends without its line feed (the run is "
                                   "still writing it, or it was cut short)");
}

void CCsvTableReader::RequireFieldCount(size_t count, const std::string& layout) const {
    if (m_fields.size() != count)
        FailLine(std::to_string(m_fields.size()) + (m_fields.size() == 1 ? " field" : " fields") +
                 ", expected " + std::to_string(count) + " (" + layout + ")");
}

double CCsvTableReader::Number(size_t f, const std::string& name) const {
    double value = 0.0;
    if (!ParseCsvNumber(m_fields[f], value))
        Fail(f, name + " " + ShownField(m_fields[f]) + " is not a number");
    return value;
}

double CCsvTableReader::Time(size_t f, const std::string& name) const {
    const double value = Number(f, name);
    if (!std::isfinite(value))
        Fail(f, name + " " + m_fields[f] + " is not a finite time");
    return value;
}

void CCsvTableReader::Fail(size_t f, const std::string& why) const {
    throw ResultException(m_path + " line " + std::to_string(m_line) + ", column " +
                          std::to_string(m_columns[f]) + ": " + why);
}

void CCsvTableReader::FailLine(const std::string& why) const {
    throw ResultException(m_path + " line " + std::to_string(m_line) + ": " + why);
}
