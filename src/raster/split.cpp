// The split of six four-level-per-bit... input planes into the sixteen two-bit planes of
// the sixteen-ink configuration.
#include "raster/split.h"

#include <array>
#include <cstring>

#include "raster/span.h"
#include "raster/zero_scan.h"

namespace inkrow {

const std::uint8_t splitSource[16] = {0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5, 3, 4, 3, 4};
const std::uint8_t twoWaySplitTable[8] = {0x00, 0x40, 0x80, 0x90, 0xA0, 0xD0, 0xE0, 0xF0};
const std::uint8_t fourWaySplitTable[16] = {0x00, 0x01, 0x02, 0x06, 0x16, 0x56, 0x5A, 0x6A,
                                            0xAA, 0x9B, 0x5F, 0x6F, 0xAF, 0x7F, 0xBF, 0xFF};

namespace {

constexpr int kInputPlanes = 6;
constexpr int kMaxOutputs = 4;

// The split tables, applied to a whole input byte (two pixels) at once: byte m of an
// entry is output m's two pixels, first pixel in bits 3-2. Two consecutive input bytes
// then make four bytes of output, (entry[a] << 4) | entry[b], one per output plane.
// Derived at compile time from the level tables above, which stay the reference.
template <std::size_t Levels>
constexpr std::array<std::uint32_t, 256> SpreadSplitTable(const std::uint8_t (&table)[Levels]) {
    std::array<std::uint32_t, 256> spread{};
    for (unsigned value = 0; value < 256; ++value) {
        const unsigned high = value >> 4;
        const unsigned low = value & 0x0F;
        // A level the table does not cover prints nothing.
        const unsigned first = high < Levels ? table[high] : table[0];
        const unsigned second = low < Levels ? table[low] : table[0];
        std::uint32_t entry = 0;
        for (unsigned m = 0; m < kMaxOutputs; ++m) {
            const unsigned shift = 6 - 2 * m;
            const unsigned pair = (((first >> shift) & 3u) << 2) | ((second >> shift) & 3u);
            entry |= std::uint32_t{pair} << (8 * m);
        }
        spread[value] = entry;
    }
    return spread;
}

constexpr std::uint8_t kTwoWayLevels[8] = {0x00, 0x40, 0x80, 0x90, 0xA0, 0xD0, 0xE0, 0xF0};
constexpr std::uint8_t kFourWayLevels[16] = {0x00, 0x01, 0x02, 0x06, 0x16, 0x56, 0x5A, 0x6A,
                                             0xAA, 0x9B, 0x5F, 0x6F, 0xAF, 0x7F, 0xBF, 0xFF};
constexpr std::array<std::uint32_t, 256> kTwoWaySpread = SpreadSplitTable(kTwoWayLevels);
constexpr std::array<std::uint32_t, 256> kFourWaySpread = SpreadSplitTable(kFourWayLevels);

// Splits input bytes 0 .. n-1 into the output rows; returns the bytes written to each,
// ceil(n / 2).
std::int32_t SplitLine(const std::uint8_t* input, std::int32_t n,
                       const std::array<std::uint32_t, 256>& spread, std::uint8_t* const* outputs,
                       int outputCount) {
    std::int32_t q = 0;
    std::int32_t p = 0;
    while (q + 1 < n) {
        // Blank stretches are common: eight zero input bytes are four zero bytes out.
        if (q + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, input + q, sizeof word);
            if (word == 0) {
                for (int m = 0; m < outputCount; ++m) std::memset(outputs[m] + p, 0, 4);
                q += 8;
                p += 4;
                continue;
            }
        }
        const std::uint32_t both = (spread[input[q]] << 4) | spread[input[q + 1]];
        for (int m = 0; m < outputCount; ++m) {
            outputs[m][p] = static_cast<std::uint8_t>(both >> (8 * m));
        }
        q += 2;
        p += 1;
    }
    if (q < n) {
        // An odd last byte fills the first two pixels of the output byte.
        const std::uint32_t last = spread[input[q]] << 4;
        for (int m = 0; m < outputCount; ++m) {
            outputs[m][p] = static_cast<std::uint8_t>(last >> (8 * m));
        }
        p += 1;
    }
    return p;
}

void StampPosition(LineState& line, std::int32_t lineNumber, std::int16_t linesPerRow) {
    const std::int32_t perRow = linesPerRow > 0 ? linesPerRow : 1;
    line.subLine = static_cast<std::int16_t>(lineNumber % perRow);
    line.lineNumber = lineNumber;
    line.rowNumber = lineNumber / perRow;
}

}  // namespace

void SplitTwoBitPlanes(OutputContext* context, const RasterBand* band) {
    for (int i = 0; i < kInputPlanes; ++i) {
        const BandPlane& entry = band->bandPlanes[i];

        int targets[kMaxOutputs];
        int outputCount = 0;
        for (int k = 0; k < kMaxPlanes && outputCount < kMaxOutputs; ++k) {
            if (splitSource[k] == i) targets[outputCount++] = k;
        }
        for (int m = 0; m < outputCount; ++m) {
            RowDescriptor& row = context->rows[targets[m]];
            row.rowEnd = entry.end;
            row.rowStart = entry.start;
            row.rowTrail = entry.trail;
        }

        std::uint8_t* const pixels = entry.pixels;
        std::int32_t written = 0;
        if (pixels != nullptr && entry.end != entry.start) {
            std::int16_t first = entry.start;
            auto count = static_cast<std::int16_t>(entry.end - entry.start - entry.trail);
            std::uint8_t edges[2];
            if (InkedByteSpan(pixels, 4, &first, &count, edges) == 0) {
                if (edges[0] != 0) pixels[first] = edges[0];
                if (edges[1] != 0) pixels[first + count + 1] = edges[1];
            }
            // The split always starts at pixel 0, so the bytes before the span are
            // cleared rather than skipped.
            const std::int32_t leading = entry.start >> 1;
            for (std::int32_t k = 0; k < leading; ++k) pixels[k] = 0;
            const auto n = static_cast<std::uint16_t>(((entry.end - entry.trail - 1) >> 1) + 1);

            std::uint8_t* outputs[kMaxOutputs];
            for (int m = 0; m < outputCount; ++m) outputs[m] = context->rows[targets[m]].rowData;
            written = SplitLine(pixels, n, outputCount == 4 ? kFourWaySpread : kTwoWaySpread,
                                outputs, outputCount);
            for (int m = 0; m < outputCount; ++m) {
                RowDescriptor& row = context->rows[targets[m]];
                row.rowStart = 0;
                row.rowTrail = 0;
                row.rowEnd = static_cast<std::int16_t>(static_cast<std::uint16_t>(4 * written));
            }
        }

        for (int m = 0; m < outputCount; ++m) {
            const std::uint8_t* output = context->rows[targets[m]].rowData;
            LineState& line = context->planes[targets[m]].currentLine;
            line.firstInkByte = 0;
            line.lastInkByte = 0;
            line.blankFlag = 1;
            if (written > 0) {
                const std::int32_t firstInk = FindNonzeroByteForward(output, 0, written);
                if (firstInk < written) {
                    line.firstInkByte = firstInk;
                    line.lastInkByte = FindNonzeroByteBackward(output, written - 1, firstInk);
                    line.blankFlag = -2;
                }
            }
            StampPosition(line, band->lineNumber, context->linesPerRow);
        }
    }
}

}  // namespace inkrow
