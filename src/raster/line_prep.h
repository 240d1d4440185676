// Pieces shared by the direct intake and the two-bit split: the masking of a line's
// inked edges, the line's inked extent and the stamps of a LineState. The byte searches
// they stand on are in byte_search.h.
#pragma once

#include <cstdint>

#include "core/context.h"
#include "raster/byte_search.h"
#include "raster/span.h"

namespace inkrow {

// What the span search found: the bytes that hold the first and the last inked pixel
// (last < first when the span holds no ink), or searched false when the search refused
// the span.
struct InkedBytes {
    std::int32_t first;
    std::int32_t last;
    bool searched;
};

// Clears the pixels outside the span [start, start + taken) that share a byte with
// the ends of its inked span, so they are not printed. A span that the search refuses
// is left as it is.
inline InkedBytes MaskInkedEdges(std::uint8_t* pixels, unsigned bitsPerPixel, std::int16_t start,
                                 std::int16_t taken) {
    std::int16_t first = start;
    std::int16_t count = taken;
    std::uint8_t edges[2];
    if (InkedByteSpan(pixels, static_cast<std::uint16_t>(bitsPerPixel), &first, &count, edges) !=
        0) {
        return {0, -1, false};
    }
    if (count == 0 && edges[0] == 0) return {0, -1, true};  // no ink in the span
    if (edges[0] != 0) pixels[first] = edges[0];
    if (edges[1] != 0) pixels[first + count + 1] = edges[1];
    return {first, first + count + (edges[1] != 0 ? 1 : 0), true};
}

// Records bytes[low] .. bytes[high] as the line's extent: the first and the last
// nonzero byte, or a blank line when there is none (or the range is empty).
inline void RecordInkedBytes(LineState& line, const std::uint8_t* bytes, std::int32_t low,
                             std::int32_t high) {
    line.firstInkByte = 0;
    line.lastInkByte = 0;
    line.blankFlag = kLineIsBlank;
    if (high < low) return;
    const std::int32_t first = FindNonzeroByteForward(bytes, low, high + 1);
    if (first > high) return;
    line.firstInkByte = first;
    line.lastInkByte = FindNonzeroByteBackward(bytes, high, first);
    line.blankFlag = kLineIsInked;
}

// Records bytes[low] .. bytes[high] as RecordInkedBytes does, after MaskInkedEdges
// searched the pixel span those bytes hold, without searching again. Between the
// span's first byte and its first inked byte, and between its last inked byte and its
// last byte, every byte holds only uninked pixels of the span: they are zero. Only the
// span's two end bytes can hold ink, from pixels outside the span that share them.
inline void RecordInkedSpan(LineState& line, const std::uint8_t* bytes, std::int32_t low,
                            std::int32_t high, const InkedBytes& ink) {
    if (!ink.searched) {
        RecordInkedBytes(line, bytes, low, high);
        return;
    }
    line.firstInkByte = 0;
    line.lastInkByte = 0;
    line.blankFlag = kLineIsBlank;
    if (high < low) return;
    std::int32_t first = ink.first;
    std::int32_t last = ink.last;
    if (last < first) {
        // No ink in the span: only the end bytes' outside pixels can print.
        first = bytes[low] != 0 ? low : high;
        last = bytes[high] != 0 ? high : low;
        if (bytes[first] == 0) return;
    } else {
        if (low < first && bytes[low] != 0) first = low;
        if (high > last && bytes[high] != 0) last = high;
    }
    line.firstInkByte = first;
    line.lastInkByte = last;
    line.blankFlag = kLineIsInked;
}

inline void RecordBlank(LineState& line) {
    line.firstInkByte = 0;
    line.lastInkByte = 0;
    line.blankFlag = kLineIsBlank;
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
