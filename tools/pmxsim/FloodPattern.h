// The flood command's byte pattern: 72-byte CR LF lines, each "NNNNNNNN " (line
// number) and 61 letters that shift per line, so a receiver can check every byte.
#pragma once

#include <cstdint>

namespace pmxsim {

inline constexpr uint64_t kFloodLineLength = 72;

inline char FloodByte(uint64_t index) {
    const uint64_t line = index / kFloodLineLength;
    const uint64_t col = index % kFloodLineLength;
    if (col < 8) {
        uint64_t n = line % 100000000u;
        for (uint64_t k = 7; k > col; --k) n /= 10;
        return static_cast<char>('0' + n % 10);
    }
    if (col == 8) return ' ';
    if (col == 70) return '\r';
    if (col == 71) return '\n';
    return static_cast<char>('A' + (line + col) % 26);
}

} // namespace pmxsim
