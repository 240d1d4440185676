// The searches for nonzero bytes under the span search, the intake and the split. Most
// of a printed page is blank, so they spend their time on zero bytes: they step over
// them 64 at a time (SSE2 registers where the compiler targets x86; 64-bit words
// elsewhere), then eight at a time near the ink, and every load stays inside the range
// they are given.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define INKROW_BYTE_SEARCH_SSE2 1
#endif

namespace inkrow {

inline std::uint64_t LoadWord(const std::uint8_t* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// Offset (0..7) of the first and of the last nonzero byte, in memory order, of a
// nonzero word loaded from memory.
inline int FirstNonzeroByteOffset(std::uint64_t word) {
    if constexpr (std::endian::native == std::endian::little) {
        return std::countr_zero(word) / 8;
    } else {
        return std::countl_zero(word) / 8;
    }
}
inline int LastNonzeroByteOffset(std::uint64_t word) {
    if constexpr (std::endian::native == std::endian::little) {
        return 7 - std::countl_zero(word) / 8;
    } else {
        return 7 - std::countr_zero(word) / 8;
    }
}

// Whether the 64 bytes from `bytes` on are all zero.
inline bool AllZero64(const std::uint8_t* bytes) {
#if defined(INKROW_BYTE_SEARCH_SSE2)
    const auto* at = reinterpret_cast<const __m128i*>(bytes);
    const __m128i any =
        _mm_or_si128(_mm_or_si128(_mm_loadu_si128(at), _mm_loadu_si128(at + 1)),
                     _mm_or_si128(_mm_loadu_si128(at + 2), _mm_loadu_si128(at + 3)));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF;
#else
    std::uint64_t any = 0;
    for (int k = 0; k < 64; k += 8)
        any |= LoadWord(bytes + k);
    return any == 0;
#endif
}

// Index of the first nonzero byte among bytes[from] .. bytes[to - 1], or to when they
// are all zero.
inline std::int32_t FindNonzeroByteForward(const std::uint8_t* bytes, std::int32_t from,
                                           std::int32_t to) {
    while (to - from >= 64 && AllZero64(bytes + from))
        from += 64;
    while (to - from >= 8) {
        const std::uint64_t word = LoadWord(bytes + from);
        if (word != 0) return from + FirstNonzeroByteOffset(word);
        from += 8;
    }
    while (from < to && bytes[from] == 0)
        ++from;
    return from;
}

// Index of the last nonzero byte among bytes[low] .. bytes[from], searching down from
// `from`, or low - 1 when they are all zero.
inline std::int32_t FindNonzeroByteBackward(const std::uint8_t* bytes, std::int32_t from,
                                            std::int32_t low) {
    while (from - low >= 63 && AllZero64(bytes + from - 63))
        from -= 64;
    while (from - low >= 7) {
        const std::uint64_t word = LoadWord(bytes + from - 7);
        if (word != 0) return from - 7 + LastNonzeroByteOffset(word);
        from -= 8;
    }
    while (from >= low && bytes[from] == 0)
        --from;
    return from;
}

}  // namespace inkrow
