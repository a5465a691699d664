// The flood command's byte pattern: 72-byte CR LF lines, each "NNNNNNNN " (line
// number) and 61 letters that shift per line, so a receiver can check every byte.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

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

// Writes the pattern's bytes [index, index + count) to out, a line at a time: the
// same bytes as FloodByte, fast enough that the simulator never limits a measurement.
inline void FloodFill(uint64_t index, char* out, size_t count) {
    // Letters of a line start at (line + 9) % 26 and run 61 places: 86 letters cover any start.
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                       "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZ";
    char line[kFloodLineLength];
    while (count > 0) {
        const uint64_t number = index / kFloodLineLength;
        const uint64_t col = index % kFloodLineLength;
        uint64_t n = number % 100000000u;
        for (int k = 7; k >= 0; --k) {
            line[k] = static_cast<char>('0' + n % 10);
            n /= 10;
        }
        line[8] = ' ';
        std::memcpy(line + 9, kLetters + (number + 9) % 26, 61);
        line[70] = '\r';
        line[71] = '\n';
        const size_t take = static_cast<size_t>(std::min<uint64_t>(kFloodLineLength - col, count));
        std::memcpy(out, line + col, take);
        out += take;
        index += take;
        count -= take;
    }
}

} // namespace pmxsim
