// How the model file's numbers are read: whitespace-separated, integers in the
// base their prefix gives (0x.. hexadecimal, 0.. octal, else decimal; a value
// outside 32 bits fails the stream), reals as decimal doubles.
#pragma once

#include <istream>

inline void PrepareModelStream(std::istream& in) {
    in.unsetf(std::ios::basefield);
}
