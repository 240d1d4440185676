// Intake of planes that go to the printer as the caller rendered them. Everything
// happens in the caller's line: the edges of the inked span are masked, converted
// planes are rewritten, and the line emission later reads the line where it is.
#include "raster/intake.h"

#include "raster/line_prep.h"

namespace inkrow {

namespace {

// Five 2-bit digits, the first in bits 9-8, as one base-3 number; 0 when any digit is
// 3, which the printer's three-level code cannot say.
constexpr std::uint8_t EncodeBase3(unsigned index) {
    unsigned value = 0;
    for (int shift = 8; shift >= 0; shift -= 2) {
        const unsigned digit = (index >> shift) & 3u;
        if (digit == 3) return 0;
        value = value * 3 + digit;
    }
    return static_cast<std::uint8_t>(value);
}

}  // namespace

#define INKROW_ENTRY(i) EncodeBase3(i)
#define INKROW_ENTRIES4(i) \
    INKROW_ENTRY(i), INKROW_ENTRY((i) + 1), INKROW_ENTRY((i) + 2), INKROW_ENTRY((i) + 3)
#define INKROW_ENTRIES16(i)                                                 \
    INKROW_ENTRIES4(i), INKROW_ENTRIES4((i) + 4), INKROW_ENTRIES4((i) + 8), \
        INKROW_ENTRIES4((i) + 12)
#define INKROW_ENTRIES64(i)                                                      \
    INKROW_ENTRIES16(i), INKROW_ENTRIES16((i) + 16), INKROW_ENTRIES16((i) + 32), \
        INKROW_ENTRIES16((i) + 48)
#define INKROW_ENTRIES256(i)                                                      \
    INKROW_ENTRIES64(i), INKROW_ENTRIES64((i) + 64), INKROW_ENTRIES64((i) + 128), \
        INKROW_ENTRIES64((i) + 192)

// Built at compile time from the rule, so the table cannot drift from it.
constexpr std::uint8_t codeConversionTable[1024] = {INKROW_ENTRIES256(0), INKROW_ENTRIES256(256),
                                                    INKROW_ENTRIES256(512), INKROW_ENTRIES256(768)};

#undef INKROW_ENTRIES256
#undef INKROW_ENTRIES64
#undef INKROW_ENTRIES16
#undef INKROW_ENTRIES4
#undef INKROW_ENTRY

std::uint16_t ConvertRowCodes(std::uint8_t* row, std::uint16_t length) {
    // Five input bytes are four 10-bit windows exactly. Output byte k is stored after
    // every input byte that window k or a later one reads, so the work can be in place.
    std::uint32_t in = 0;
    std::uint32_t out = 0;
    for (; in + 5 <= length; in += 5, out += 4) {
        const std::uint64_t bits =
            (std::uint64_t{row[in]} << 32) | (std::uint64_t{row[in + 1]} << 24) |
            (std::uint64_t{row[in + 2]} << 16) | (std::uint64_t{row[in + 3]} << 8) | row[in + 4];
        row[out] = codeConversionTable[(bits >> 30) & 0x3FF];
        row[out + 1] = codeConversionTable[(bits >> 20) & 0x3FF];
        row[out + 2] = codeConversionTable[(bits >> 10) & 0x3FF];
        row[out + 3] = codeConversionTable[bits & 0x3FF];
    }
    // The last one to four bytes give as many windows; the bits past the line read as 0.
    const std::uint32_t left = length - in;
    if (left > 0) {
        std::uint64_t bits = 0;
        for (std::uint32_t k = 0; k < left; ++k)
            bits |= std::uint64_t{row[in + k]} << (32 - 8 * k);
        for (std::uint32_t k = 0; k < left; ++k) {
            row[out + k] = codeConversionTable[(bits >> (30 - 10 * k)) & 0x3FF];
        }
        out += left;
    }
    return static_cast<std::uint16_t>(out);
}

void IntakeDirectRows(OutputContext* context, const RasterBand* band) {
    // The band record has room for OUTPUT_MAX_BAND_PLANES entries; page setup never
    // configures more direct planes than that.
    int planeCount = context->planeCount;
    if (planeCount > OUTPUT_MAX_BAND_PLANES) planeCount = OUTPUT_MAX_BAND_PLANES;
    // The line's position in its row is the same for every plane: worked out once.
    LineState position{};
    StampLinePosition(position, band->lineNumber, context->linesPerRow);

    for (int i = 0; i < planeCount; ++i) {
        const BandPlane& entry = band->bandPlanes[i];
        const PlaneState& plane = context->planes[i];
        RowDescriptor& row = context->rows[i];
        LineState& line = context->planes[i].currentLine;
        const int shift = plane.pixelShift;

        row.rowEnd = entry.end;
        row.rowStart = entry.start;
        row.rowTrail = entry.trail;
        // The one pixel search of the line: its answer also gives the inked bytes below.
        InkedBytes ink{0, -1, false};
        if (entry.pixels != nullptr && entry.end != entry.start) {
            ink = MaskInkedEdges(entry.pixels, 8u >> shift, entry.start,
                                 static_cast<std::int16_t>(entry.end - entry.start - entry.trail));
        }
        row.rowData = entry.pixels;
        std::uint8_t* const pixels = row.rowData;

        if (pixels == nullptr || row.rowStart == row.rowEnd) {
            RecordBlank(line);
        } else {
            if (plane.codeConversion != 0) {
                // The windows are counted from pixel 0, so the bytes before the span
                // are cleared rather than skipped.
                const std::int32_t leading = row.rowStart >> shift;
                for (std::int32_t k = 0; k < leading; ++k)
                    pixels[k] = 0;
                const auto length =
                    static_cast<std::uint16_t>(((row.rowEnd - row.rowTrail - 1) >> shift) + 1);
                const std::int32_t produced = ConvertRowCodes(pixels, length);
                const std::int32_t firstNonzero = FindNonzeroByteForward(pixels, 0, produced);
                // From here on the extents count converted bytes, and the search above
                // leaves only the last inked byte to find.
                row.rowEnd = static_cast<std::int16_t>(produced << shift);
                row.rowTrail = 0;
                row.rowStart = static_cast<std::int16_t>(firstNonzero << shift);
                if (firstNonzero < produced) {
                    ink = {firstNonzero,
                           FindNonzeroByteBackward(pixels, produced - 1, firstNonzero), true};
                } else {
                    ink = {0, -1, false};
                }
            }
            if (row.rowStart == row.rowEnd) {
                RecordBlank(line);
            } else {
                // Blankness goes by whole bytes of the span: only its inked edges were
                // masked, so ink elsewhere in those bytes is still sent.
                RecordInkedSpan(line, pixels, std::int32_t{row.rowStart} >> shift,
                                (std::int32_t{row.rowEnd} - row.rowTrail - 1) >> shift, ink);
            }
        }
        line.subLine = position.subLine;
        line.lineNumber = position.lineNumber;
        line.rowNumber = position.rowNumber;
    }
}

}  // namespace inkrow
