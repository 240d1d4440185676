// The split of the six four-bit input planes of the sixteen-ink configuration (one
// level 0..15 per pixel) into sixteen two-bit printer planes: each level stands for two
// or four two-bit values, one per printer plane that the input drives.
#include "raster/split.h"

#include <array>
#include <cstring>

#include "raster/line_prep.h"

namespace inkrow {

constexpr std::uint8_t splitSource[16] = {0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5, 3, 4, 3, 4};
constexpr std::uint8_t twoWaySplitTable[8] = {0x00, 0x40, 0x80, 0x90, 0xA0, 0xD0, 0xE0, 0xF0};
constexpr std::uint8_t fourWaySplitTable[16] = {0x00, 0x01, 0x02, 0x06, 0x16, 0x56, 0x5A, 0x6A,
                                                0xAA, 0x9B, 0x5F, 0x6F, 0xAF, 0x7F, 0xBF, 0xFF};

namespace {

constexpr int kInputPlanes = 6;
constexpr int kMaxOutputs = 4;

using SpreadTable = std::array<std::uint32_t, 256>;

// A split table applied to a whole input byte, two pixels: byte m of an entry holds
// output m's two pixels in its bits 3-0, the first pixel in bits 3-2. Two consecutive
// input bytes a, b then give (entry[a] << 4) | entry[b], one output byte per output in
// its byte m. A level the table does not cover prints nothing.
template <std::size_t Levels>
constexpr SpreadTable SpreadSplitTable(const std::uint8_t (&table)[Levels]) {
    SpreadTable spread{};
    for (unsigned value = 0; value < 256; ++value) {
        const unsigned high = value >> 4;
        const unsigned low = value & 0x0F;
        const unsigned first = table[high < Levels ? high : 0];
        const unsigned second = table[low < Levels ? low : 0];
        std::uint32_t entry = 0;
        for (unsigned m = 0; m < kMaxOutputs; ++m) {
            const unsigned shift = 6 - 2 * m;
            const unsigned pixels = (((first >> shift) & 3u) << 2) | ((second >> shift) & 3u);
            entry |= std::uint32_t{pixels} << (8 * m);
        }
        spread[value] = entry;
    }
    return spread;
}

constexpr SpreadTable kTwoWaySpread = SpreadSplitTable(twoWaySplitTable);
constexpr SpreadTable kFourWaySpread = SpreadSplitTable(fourWaySplitTable);

template <int Outputs>
inline void StoreOutputs(std::uint8_t* const* outputs, std::int32_t at, std::uint32_t bytes) {
    for (int m = 0; m < Outputs; ++m) {
        outputs[m][at] = static_cast<std::uint8_t>(bytes >> (8 * m));
    }
}

// Splits input bytes 0 .. n-1 into the outputs; returns the bytes written to each,
// ceil(n / 2). Every output byte is stored once, four pixels at a time.
template <int Outputs>
std::int32_t SplitLine(const std::uint8_t* input, std::int32_t n, const SpreadTable& spread,
                       std::uint8_t* const* outputs) {
    std::int32_t q = 0;
    std::int32_t p = 0;
    while (q + 8 <= n) {
        // Blank stretches are common: each eight zero input bytes are four zero bytes
        // out, cleared together once the stretch ends.
        std::int32_t blank = q;
        while (blank + 8 <= n && LoadWord(input + blank) == 0)
            blank += 8;
        if (blank > q) {
            const auto bytes = static_cast<std::size_t>((blank - q) / 2);
            for (int m = 0; m < Outputs; ++m)
                std::memset(outputs[m] + p, 0, bytes);
            p += (blank - q) / 2;
            q = blank;
            continue;
        }
        for (int pair = 0; pair < 4; ++pair, q += 2, ++p) {
            StoreOutputs<Outputs>(outputs, p, (spread[input[q]] << 4) | spread[input[q + 1]]);
        }
    }
    for (; q + 1 < n; q += 2, ++p) {
        StoreOutputs<Outputs>(outputs, p, (spread[input[q]] << 4) | spread[input[q + 1]]);
    }
    if (q < n) {
        // An odd last byte fills the first two pixels of its output byte.
        StoreOutputs<Outputs>(outputs, p, spread[input[q]] << 4);
        ++p;
    }
    return p;
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
        const bool blank = pixels == nullptr || entry.end == entry.start;
        std::int32_t written = 0;
        if (!blank) {
            MaskInkedEdges(pixels, 4, entry.start,
                           static_cast<std::int16_t>(entry.end - entry.start - entry.trail));
            // The split always starts at pixel 0, so the bytes before the span are
            // cleared rather than skipped.
            const std::int32_t leading = entry.start >> 1;
            for (std::int32_t k = 0; k < leading; ++k)
                pixels[k] = 0;
            const auto n = static_cast<std::uint16_t>(((entry.end - entry.trail - 1) >> 1) + 1);

            std::uint8_t* outputs[kMaxOutputs];
            for (int m = 0; m < outputCount; ++m)
                outputs[m] = context->rows[targets[m]].rowData;
            written = outputCount == 4 ? SplitLine<4>(pixels, n, kFourWaySpread, outputs)
                                       : SplitLine<2>(pixels, n, kTwoWaySpread, outputs);
        }

        for (int m = 0; m < outputCount; ++m) {
            RowDescriptor& row = context->rows[targets[m]];
            LineState& line = context->planes[targets[m]].currentLine;
            if (blank) {
                RecordBlank(line);
            } else {
                // The output is four pixels a byte and starts at pixel 0.
                row.rowStart = 0;
                row.rowTrail = 0;
                row.rowEnd = static_cast<std::int16_t>(static_cast<std::uint16_t>(4 * written));
                RecordInkedBytes(line, row.rowData, 0, written - 1);
            }
            StampLinePosition(line, band->lineNumber, context->linesPerRow);
        }
    }
}

}  // namespace inkrow
