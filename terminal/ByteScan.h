// Finds the first of a few byte values in a buffer, 16 bytes at a time where the
// processor allows it: the receive path scans every byte that arrives.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Index of the first byte of s[0, n) equal to one of set; n when there is none.
template <typename... Bytes>
inline std::size_t FindFirstOf(const char* s, std::size_t n, Bytes... set) {
    static_assert(sizeof...(Bytes) > 0);
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= n; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        __m128i hit = _mm_setzero_si128();
        ((hit = _mm_or_si128(hit, _mm_cmpeq_epi8(x, _mm_set1_epi8(static_cast<char>(set))))), ...);
        if (const int bits = _mm_movemask_epi8(hit))
            return i + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(bits)));
    }
#endif
    for (; i < n; ++i)
        if (((s[i] == static_cast<char>(set)) || ...)) return i;
    return n;
}

// One bit per byte of s[0, 64): set where the byte is one of set. For walking a long
// block by its few interesting bytes without scanning anew after each of them.
template <typename... Bytes>
inline std::uint64_t MaskOf64(const char* s, Bytes... set) {
    static_assert(sizeof...(Bytes) > 0);
    std::uint64_t mask = 0;
#if defined(__SSE2__)
    for (int k = 0; k < 4; ++k) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16 * k));
        __m128i hit = _mm_setzero_si128();
        ((hit = _mm_or_si128(hit, _mm_cmpeq_epi8(x, _mm_set1_epi8(static_cast<char>(set))))), ...);
        mask |= std::uint64_t(static_cast<unsigned>(_mm_movemask_epi8(hit))) << (16 * k);
    }
#else
    for (int k = 0; k < 64; ++k)
        if (((s[k] == static_cast<char>(set)) || ...)) mask |= std::uint64_t{1} << k;
#endif
    return mask;
}
