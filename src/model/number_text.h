// Numbers in texts a person or another program reads back: failure details,
// time stamps of exported files.
#pragma once

#include <charconv>
#include <string>

// The longest text ExactChars writes ("-1.2345678901234567e-308" and room).
constexpr int NUMBER_EXACT_CHARS = 32;

// All 17 significant digits, so that the number read back is the number the
// run had: the characters of printf's "%.17g", written at first (at least
// NUMBER_EXACT_CHARS of room); returns the end. Nothing is allocated, so rows
// written every step can use it.
inline char* ExactChars(char* first, double value) {
    return std::to_chars(first, first + NUMBER_EXACT_CHARS, value, std::chars_format::general, 17)
        .ptr;
}

inline std::string ExactText(double value) {
    char text[NUMBER_EXACT_CHARS];
    return std::string(text, ExactChars(text, value));
}
