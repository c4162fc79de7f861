// Numbers in texts a person or another program reads back: failure details,
// time stamps of exported files.
#pragma once

#include <cstdio>
#include <string>

// All 17 significant digits, so that the number read back is the number the
// run had.
inline std::string ExactText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}
