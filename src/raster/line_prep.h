// Pieces shared by the direct intake and the two-bit split: the search for nonzero
// bytes, the masking of a line's inked edges and the stamps of a LineState.
//
// Most of a printed page is blank, so the byte searches spend their time on zero bytes;
// they step over them 32 at a time, then eight at a time near the ink, and every load stays
// inside the range they are given.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "core/context.h"
#include "raster/span.h"

namespace inkrow {

inline constexpr std::int16_t kLineBlank = 1;
inline constexpr std::int16_t kLineInked = -2;

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

// Index of the first nonzero byte among bytes[from] .. bytes[to - 1], or to when they
// are all zero.
inline std::int32_t FindNonzeroByteForward(const std::uint8_t* bytes, std::int32_t from,
                                           std::int32_t to) {
    while (to - from >= 32 && (LoadWord(bytes + from) | LoadWord(bytes + from + 8) |
                               LoadWord(bytes + from + 16) | LoadWord(bytes + from + 24)) == 0) {
        from += 32;
    }
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
    while (from - low >= 31 && (LoadWord(bytes + from - 31) | LoadWord(bytes + from - 23) |
                                LoadWord(bytes + from - 15) | LoadWord(bytes + from - 7)) == 0) {
        from -= 32;
    }
    while (from - low >= 7) {
        const std::uint64_t word = LoadWord(bytes + from - 7);
        if (word != 0) return from - 7 + LastNonzeroByteOffset(word);
        from -= 8;
    }
    while (from >= low && bytes[from] == 0)
        --from;
    return from;
}

// Clears the pixels outside the span [start, start + taken) that share a byte with
// the ends of its inked span, so they are not printed. A span that the search refuses
// is left as it is.
inline void MaskInkedEdges(std::uint8_t* pixels, unsigned bitsPerPixel, std::int16_t start,
                           std::int16_t taken) {
    std::int16_t first = start;
    std::int16_t count = taken;
    std::uint8_t edges[2];
    if (InkedByteSpan(pixels, static_cast<std::uint16_t>(bitsPerPixel), &first, &count, edges) !=
        0) {
        return;
    }
    if (edges[0] != 0) pixels[first] = edges[0];
    if (edges[1] != 0) pixels[first + count + 1] = edges[1];
}

// Records bytes[low] .. bytes[high] as the line's extent: the first and the last
// nonzero byte, or a blank line when there is none (or the range is empty).
inline void RecordInkedBytes(LineState& line, const std::uint8_t* bytes, std::int32_t low,
                             std::int32_t high) {
    line.firstInkByte = 0;
    line.lastInkByte = 0;
    line.blankFlag = kLineBlank;
    if (high < low) return;
    const std::int32_t first = FindNonzeroByteForward(bytes, low, high + 1);
    if (first > high) return;
    line.firstInkByte = first;
    line.lastInkByte = FindNonzeroByteBackward(bytes, high, first);
    line.blankFlag = kLineInked;
}

inline void RecordBlank(LineState& line) {
    line.firstInkByte = 0;
    line.lastInkByte = 0;
    line.blankFlag = kLineBlank;
}

// The line's position in its row. Division truncates towards zero and the remainder
// takes the dividend's sign, as the row arithmetic downstream expects.
inline void StampLinePosition(LineState& line, std::int32_t lineNumber, std::int16_t linesPerRow) {
    const std::int32_t perRow = linesPerRow > 0 ? linesPerRow : 1;
    line.subLine = static_cast<std::int16_t>(lineNumber % perRow);
    line.lineNumber = lineNumber;
    line.rowNumber = lineNumber / perRow;
}

}  // namespace inkrow
