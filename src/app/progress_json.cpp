#include "app/progress_json.h"

#include <cmath>
#include <cstdio>

namespace {

// JSON has no infinities or NaN: those are written as null.
std::string JsonNumber(double value) {
    if (!std::isfinite(value))
        return "null";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return buffer;
}

double Fraction(const CProgressState& s) {
    const double span = s.end - s.start;
    if (!(span > 0.0))
        return 0.0;
    const double f = (s.time - s.start) / span;
    if (!(f > 0.0))
        return 0.0;
    return f < 1.0 ? f : 1.0;
}

} // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string ProgressJsonLine(const CProgressState& s) {
    return "{\"status\":" + JsonString(s.status) + ",\"time\":" + JsonNumber(s.time) +
           ",\"start\":" + JsonNumber(s.start) + ",\"end\":" + JsonNumber(s.end) +
           ",\"fraction\":" + JsonNumber(Fraction(s)) + ",\"step\":" + JsonNumber(s.step) +
           ",\"reduced\":" + std::to_string(s.reduced) + "}";
}
