// The searches for nonzero bytes under the span search, the intake and the split. Most
// of a printed page is blank, so they spend their time on zero bytes: they step over
// them in blocks (byte_search.cpp: 128 bytes in AVX2 registers where the processor has
// them, else 64 in SSE2 registers or 64-bit words), then eight at a time near the ink,
// and every load stays inside the range they are given.
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

// The ways of skipping long zero stretches. Both stop at the same kind of place (a
// position from which the rest is searched in words), so the searches below give the
// same answer either way; kWide needs AVX2, asked of the processor at run time.
enum class ZeroSkip : std::uint8_t {
    kNarrow,  // 64 bytes a step: SSE2 on x86-64, 64-bit words elsewhere
    kWide,    // 128 bytes a step in AVX2 registers
};

// Whether `skip` runs as itself on this machine (kWide falls back to kNarrow).
bool HasZeroSkip(ZeroSkip skip);

// Steps over whole blocks of zero bytes from `from` up to `to` (at least 64 bytes):
// returns p, from <= p <= to, with every byte in [from, p) zero, that leaves fewer than
// 64 bytes before the first nonzero byte or before `to`. The fastest way this machine
// has, or the one asked for.
std::int32_t SkipZeroBytesForward(const std::uint8_t* bytes, std::int32_t from, std::int32_t to);
std::int32_t SkipZeroBytesForwardWith(ZeroSkip skip, const std::uint8_t* bytes, std::int32_t from,
                                      std::int32_t to);

// The same downwards from `from` to `low` (at least 64 bytes): p, low - 1 <= p <= from,
// with every byte in (p, from] zero, fewer than 64 bytes above the last nonzero byte
// or above low - 1.
std::int32_t SkipZeroBytesBackward(const std::uint8_t* bytes, std::int32_t from, std::int32_t low);
std::int32_t SkipZeroBytesBackwardWith(ZeroSkip skip, const std::uint8_t* bytes, std::int32_t from,
                                       std::int32_t low);

// Index of the first nonzero byte among bytes[from] .. bytes[to - 1], or to when they
// are all zero.
inline std::int32_t FindNonzeroByteForward(const std::uint8_t* bytes, std::int32_t from,
                                           std::int32_t to) {
    if (to - from >= 64) from = SkipZeroBytesForward(bytes, from, to);
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
    if (from - low >= 63) from = SkipZeroBytesBackward(bytes, from, low);
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
