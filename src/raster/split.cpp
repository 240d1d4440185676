// The split of the six four-bit input planes of the sixteen-ink configuration (one
// level 0..15 per pixel) into sixteen two-bit printer planes: each level stands for two
// or four two-bit values, one per printer plane that the input drives.
#include "raster/split.h"

#include <array>
#include <cstring>

#include "raster/line_prep.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include "platform/cpu.h"
#define INKROW_SPLIT_SSSE3 1
#endif

namespace inkrow {

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

constexpr SpreadTable kTwoWaySpread = SpreadSplitTable(kTwoWaySplit);
constexpr SpreadTable kFourWaySpread = SpreadSplitTable(kFourWaySplit);

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

#if defined(INKROW_SPLIT_SSSE3)
// The same split sixteen pixels at a time with SSSE3 byte shuffles, which look up
// sixteen levels in a table of sixteen bytes at once. For output m, the table `high`
// gives the output's two bits of a level shifted to bits 3-2 and `low` the same in bits
// 1-0, so high[first level] | low[second level] is the output's half of one input byte;
// two neighbouring halves make one output byte (a multiply-add by 16 and 1).
struct NibbleTables {
    std::uint8_t high[kMaxOutputs][16];
    std::uint8_t low[kMaxOutputs][16];
};

template <std::size_t Levels>
constexpr NibbleTables MakeNibbleTables(const std::uint8_t (&table)[Levels]) {
    NibbleTables tables{};
    for (unsigned m = 0; m < kMaxOutputs; ++m) {
        for (unsigned level = 0; level < 16; ++level) {
            // A level the table does not cover prints nothing, as in the spread tables.
            const unsigned field = level < Levels ? (table[level] >> (6 - 2 * m)) & 3u : 0u;
            tables.high[m][level] = static_cast<std::uint8_t>(field << 2);
            tables.low[m][level] = static_cast<std::uint8_t>(field);
        }
    }
    return tables;
}

constexpr NibbleTables kTwoWayNibbles = MakeNibbleTables(kTwoWaySplit);
constexpr NibbleTables kFourWayNibbles = MakeNibbleTables(kFourWaySplit);

// Splits input bytes 0 .. 32k-1 (k whole blocks, the most that fit in n) and returns the
// input bytes done; the caller finishes the rest.
template <int Outputs>
__attribute__((target("ssse3"))) std::int32_t SplitBlocksSsse3(const std::uint8_t* input,
                                                               std::int32_t n,
                                                               const NibbleTables& tables,
                                                               std::uint8_t* const* outputs) {
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i firstTimes16 = _mm_set1_epi16(0x0110);  // bytes 16, 1: 16 * a + b
    __m128i high[Outputs];
    __m128i low[Outputs];
    for (int m = 0; m < Outputs; ++m) {
        high[m] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tables.high[m]));
        low[m] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tables.low[m]));
    }
    std::int32_t q = 0;
    for (; q + 32 <= n; q += 32) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(input + q));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(input + q + 16));
        const __m128i aFirst = _mm_and_si128(_mm_srli_epi16(a, 4), nibble);
        const __m128i aSecond = _mm_and_si128(a, nibble);
        const __m128i bFirst = _mm_and_si128(_mm_srli_epi16(b, 4), nibble);
        const __m128i bSecond = _mm_and_si128(b, nibble);
        for (int m = 0; m < Outputs; ++m) {
            const __m128i aHalves =
                _mm_or_si128(_mm_shuffle_epi8(high[m], aFirst), _mm_shuffle_epi8(low[m], aSecond));
            const __m128i bHalves =
                _mm_or_si128(_mm_shuffle_epi8(high[m], bFirst), _mm_shuffle_epi8(low[m], bSecond));
            const __m128i bytes = _mm_packus_epi16(_mm_maddubs_epi16(aHalves, firstTimes16),
                                                   _mm_maddubs_epi16(bHalves, firstTimes16));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(outputs[m] + q / 2), bytes);
        }
    }
    return q;
}

#endif

// Splits input bytes 0 .. n-1 as SplitLine does, with SSSE3 where the machine has it.
template <int Outputs>
std::int32_t SplitLineFast(const std::uint8_t* input, std::int32_t n, const SpreadTable& spread,
                           std::uint8_t* const* outputs, bool vector) {
#if defined(INKROW_SPLIT_SSSE3)
    if (vector && n >= 32) {
        const std::int32_t done = SplitBlocksSsse3<Outputs>(
            input, n, Outputs == 4 ? kFourWayNibbles : kTwoWayNibbles, outputs);
        std::uint8_t* rest[kMaxOutputs];
        for (int m = 0; m < Outputs; ++m)
            rest[m] = outputs[m] + done / 2;
        return done / 2 + SplitLine<Outputs>(input + done, n - done, spread, rest);
    }
#else
    (void)vector;
#endif
    return SplitLine<Outputs>(input, n, spread, outputs);
}

}  // namespace

bool HasVectorSplit() {
#if defined(INKROW_SPLIT_SSSE3)
    return HasSsse3();
#else
    return false;
#endif
}

void SplitTwoBitPlanes(OutputContext* context, const RasterBand* band) {
#if defined(INKROW_SPLIT_SSSE3)
    SplitTwoBitPlanesWith(context, band, HasSsse3());
#else
    SplitTwoBitPlanesWith(context, band, false);
#endif
}

void SplitTwoBitPlanesWith(OutputContext* context, const RasterBand* band, bool vector) {
    for (int i = 0; i < kInputPlanes; ++i) {
        const BandPlane& entry = band->bandPlanes[i];

        int targets[kMaxOutputs];
        int outputCount = 0;
        for (int k = 0; k < kMaxPlanes && outputCount < kMaxOutputs; ++k) {
            if (kSplitSource[k] == i) targets[outputCount++] = k;
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
            written = outputCount == 4
                          ? SplitLineFast<4>(pixels, n, kFourWaySpread, outputs, vector)
                          : SplitLineFast<2>(pixels, n, kTwoWaySpread, outputs, vector);
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
