// Trimming of white space at both ends, as applied to command names and typed arguments.
// Only ASCII white space counts: bytes from 128 up are text in the switch's code page.
#pragma once

#include <string>
#include <string_view>

inline bool IsTrimSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

inline std::string TrimWhite(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && IsTrimSpace(s[b])) ++b;
    while (e > b && IsTrimSpace(s[e - 1])) --e;
    return std::string(s.substr(b, e - b));
}
