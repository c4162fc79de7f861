// The result files and the VTK files are little-endian whatever the host: the
// bytes are put together and taken apart explicitly.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

inline uint64_t DecodeU64(const unsigned char* bytes) {
    uint64_t value = 0;
    for (int b = 7; b >= 0; --b)
        value = (value << 8) | bytes[b];
    return value;
}

inline int32_t DecodeI32(const unsigned char* bytes) {
    const uint32_t value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                           static_cast<uint32_t>(bytes[2]) << 16 |
                           static_cast<uint32_t>(bytes[3]) << 24;
    int32_t result;
    std::memcpy(&result, &value, sizeof result);
    return result;
}

inline double DecodeDouble(const unsigned char* bytes) {
    const uint64_t bits = DecodeU64(bytes);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline void AppendU64(std::string& out, uint64_t value) {
    for (int b = 0; b < 8; ++b)
        out.push_back(static_cast<char>((value >> (8 * b)) & 0xFF));
}

inline void AppendDouble(std::string& out, double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    AppendU64(out, bits);
}
