// The block skips under the byte searches. A blank line is nothing but this loop, so
// it decides how fast the module gets over blank lines: with AVX2 one step loads 128
// bytes in four registers and tests their union with one instruction, about a tenth
// of an instruction a byte.
#include "raster/byte_search.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include "platform/cpu.h"
#define INKROW_BYTE_SEARCH_AVX2 1
#endif

namespace inkrow {
namespace {

std::int32_t SkipNarrowForward(const std::uint8_t* bytes, std::int32_t from, std::int32_t to) {
    while (to - from >= 64 && AllZero64(bytes + from))
        from += 64;
    return from;
}

std::int32_t SkipNarrowBackward(const std::uint8_t* bytes, std::int32_t from, std::int32_t low) {
    while (from - low >= 63 && AllZero64(bytes + from - 63))
        from -= 64;
    return from;
}

#if defined(INKROW_BYTE_SEARCH_AVX2)
__attribute__((target("avx2"))) inline bool AllZero128(const std::uint8_t* bytes) {
    const auto* at = reinterpret_cast<const __m256i*>(bytes);
    const __m256i any =
        _mm256_or_si256(_mm256_or_si256(_mm256_loadu_si256(at), _mm256_loadu_si256(at + 1)),
                        _mm256_or_si256(_mm256_loadu_si256(at + 2), _mm256_loadu_si256(at + 3)));
    return _mm256_testz_si256(any, any) != 0;
}

__attribute__((target("avx2"))) inline bool AllZero32(const std::uint8_t* bytes) {
    const __m256i any = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
    return _mm256_testz_si256(any, any) != 0;
}

// 128 bytes a step, then 32 a step into the block that holds the ink, which leaves
// fewer than 32 bytes before it. At the range's end the last 32 bytes are tested at
// once, overlapping bytes already seen, so that a blank line ends here and not in the
// word steps of the caller. Called only with 64 bytes or more in the range.
__attribute__((target("avx2"))) std::int32_t SkipWideForward(const std::uint8_t* bytes,
                                                             std::int32_t from, std::int32_t to) {
    while (to - from >= 128 && AllZero128(bytes + from))
        from += 128;
    while (to - from >= 32 && AllZero32(bytes + from))
        from += 32;
    if (to - from < 32 && AllZero32(bytes + to - 32)) return to;
    return from;
}

__attribute__((target("avx2"))) std::int32_t SkipWideBackward(const std::uint8_t* bytes,
                                                              std::int32_t from, std::int32_t low) {
    while (from - low >= 127 && AllZero128(bytes + from - 127))
        from -= 128;
    while (from - low >= 31 && AllZero32(bytes + from - 31))
        from -= 32;
    if (from - low < 31 && AllZero32(bytes + low)) return low - 1;
    return from;
}

#endif

}  // namespace

bool HasZeroSkip(ZeroSkip skip) {
#if defined(INKROW_BYTE_SEARCH_AVX2)
    return skip == ZeroSkip::kNarrow || HasAvx2();
#else
    return skip == ZeroSkip::kNarrow;
#endif
}

std::int32_t SkipZeroBytesForward(const std::uint8_t* bytes, std::int32_t from, std::int32_t to) {
#if defined(INKROW_BYTE_SEARCH_AVX2)
    if (HasAvx2()) return SkipWideForward(bytes, from, to);
#endif
    return SkipNarrowForward(bytes, from, to);
}

std::int32_t SkipZeroBytesBackward(const std::uint8_t* bytes, std::int32_t from, std::int32_t low) {
#if defined(INKROW_BYTE_SEARCH_AVX2)
    if (HasAvx2()) return SkipWideBackward(bytes, from, low);
#endif
    return SkipNarrowBackward(bytes, from, low);
}

std::int32_t SkipZeroBytesForwardWith(ZeroSkip skip, const std::uint8_t* bytes, std::int32_t from,
                                      std::int32_t to) {
#if defined(INKROW_BYTE_SEARCH_AVX2)
    if (skip == ZeroSkip::kWide && HasAvx2()) return SkipWideForward(bytes, from, to);
#else
    (void)skip;
#endif
    return SkipNarrowForward(bytes, from, to);
}

std::int32_t SkipZeroBytesBackwardWith(ZeroSkip skip, const std::uint8_t* bytes, std::int32_t from,
                                       std::int32_t low) {
#if defined(INKROW_BYTE_SEARCH_AVX2)
    if (skip == ZeroSkip::kWide && HasAvx2()) return SkipWideBackward(bytes, from, low);
#else
    (void)skip;
#endif
    return SkipNarrowBackward(bytes, from, low);
}

}  // namespace inkrow
