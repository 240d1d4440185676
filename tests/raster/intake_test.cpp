#include "raster/intake.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "core/context.h"
#include "test_seed.h"

namespace inkrow {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::unique_ptr<OutputContext> MakeContext(int planeCount, std::int16_t pixelShift,
                                           std::int16_t linesPerRow) {
    auto context = std::make_unique<OutputContext>();
    context->planeCount = static_cast<std::int16_t>(planeCount);
    context->linesPerRow = linesPerRow;
    for (int i = 0; i < planeCount; ++i)
        context->planes[i].pixelShift = pixelShift;
    return context;
}

void SetEntry(RasterBand& band, int i, std::uint8_t* pixels, int end, int start, int trail) {
    band.bandPlanes[i].pixels = pixels;
    band.bandPlanes[i].end = static_cast<std::int16_t>(end);
    band.bandPlanes[i].start = static_cast<std::int16_t>(start);
    band.bandPlanes[i].trail = static_cast<std::int16_t>(trail);
}

struct Expected {
    std::int32_t firstInkByte, lastInkByte;
    std::int16_t blankFlag;
};

void ExpectLine(const LineState& line, Expected expected) {
    EXPECT_EQ(line.firstInkByte, expected.firstInkByte);
    EXPECT_EQ(line.lastInkByte, expected.lastInkByte);
    EXPECT_EQ(line.blankFlag, expected.blankFlag);
}

void ExpectRow(const RowDescriptor& row, const std::uint8_t* data, int end, int start, int trail) {
    EXPECT_EQ(row.rowData, data);
    EXPECT_EQ(row.rowEnd, end);
    EXPECT_EQ(row.rowStart, start);
    EXPECT_EQ(row.rowTrail, trail);
}

// --- the code conversion -------------------------------------------------------------

TEST(CodeConversionTable, EntriesAreTheDigitsInBaseThree) {
    EXPECT_EQ(codeConversionTable[0x155], 121);
    EXPECT_EQ(codeConversionTable[0x2AA], 242);
    EXPECT_EQ(codeConversionTable[0x0FF], 0);
    for (unsigned index = 0; index < 1024; ++index) {
        bool hasThree = false;
        for (int d = 0; d < 5; ++d)
            hasThree |= ((index >> (2 * d)) & 3) == 3;
        unsigned value = codeConversionTable[index];
        if (hasThree) {
            EXPECT_EQ(value, 0u) << index;
            continue;
        }
        // Read back as base 3, the last digit least significant.
        for (int d = 0; d < 5; ++d) {
            EXPECT_EQ(value % 3, (index >> (2 * d)) & 3) << index << " digit " << d;
            value /= 3;
        }
        EXPECT_EQ(value, 0u) << index;
    }
}

TEST(ConvertRowCodes, DocumentedExampleAndLengths) {
    Bytes line = {0x00, 0x15, 0x55, 0xAA, 0x40};
    ASSERT_EQ(ConvertRowCodes(line.data(), 5), 4);
    EXPECT_EQ(Bytes(line.begin(), line.begin() + 4), (Bytes{0x00, 0x79, 0x86, 0xBD}));

    const int lengths[][2] = {{0, 0}, {1, 1}, {4, 4}, {5, 4}, {6, 5}, {9, 8}, {10, 8}, {11, 9}};
    for (const auto& [in, out] : lengths) {
        Bytes bytes(static_cast<std::size_t>(in), 0x55);
        EXPECT_EQ(ConvertRowCodes(bytes.data(), static_cast<std::uint16_t>(in)), out) << in;
    }
    // Four bytes hold three full windows and one pixel of a fourth, which is completed
    // with eight zero bits: digits 1 0 0 0 0.
    Bytes four = {0x55, 0x55, 0x55, 0x55};
    ConvertRowCodes(four.data(), 4);
    EXPECT_EQ(four, (Bytes{121, 121, 121, 81}));
}

// Digit d (0..4) of output window k from the 2-bit digits of the input, zero-padded.
unsigned Digit(const Bytes& line, std::size_t pixel) {
    if (pixel / 4 >= line.size()) return 0;
    return (line[pixel / 4] >> (6 - 2 * (pixel % 4))) & 3u;
}

TEST(ConvertRowCodes, DecodesBackToTheInputDigits) {
    const std::uint32_t seed = testseed::TestSeed(99);
    SCOPED_TRACE(testseed::SeedNote(seed));
    std::mt19937 random(seed);
    for (int length = 0; length <= 400; ++length) {
        // Digit 3 now and then, so that some windows are refused.
        std::uniform_int_distribution<int> pick(0, 39);
        Bytes line(static_cast<std::size_t>(length));
        for (auto& b : line) {
            unsigned value = 0;
            for (int d = 0; d < 4; ++d) {
                const int r = pick(random);
                value = value << 2 | (r == 0 ? 3u : static_cast<unsigned>(r % 3));
            }
            b = static_cast<std::uint8_t>(value);
        }
        Bytes converted = line;
        const std::uint16_t n =
            ConvertRowCodes(converted.data(), static_cast<std::uint16_t>(length));
        ASSERT_EQ(n, (4 * length + 4) / 5) << length;
        for (int k = 0; k < n; ++k) {
            bool hasThree = false, allZero = true;
            for (int d = 0; d < 5; ++d) {
                const unsigned digit = Digit(line, 5u * k + d);
                hasThree |= digit == 3;
                allZero &= digit == 0;
            }
            unsigned value = converted[k];
            if (hasThree || allZero) {
                ASSERT_EQ(value, 0u) << length << " window " << k;
                continue;
            }
            for (int d = 4; d >= 0; --d) {
                ASSERT_EQ(value % 3, Digit(line, 5u * k + d)) << length << " window " << k;
                value /= 3;
            }
        }
        // Bytes past the converted ones are left as they were.
        for (int k = n; k < length; ++k)
            ASSERT_EQ(converted[k], line[k]) << length;
    }
}

// --- the direct intake ---------------------------------------------------------------

TEST(IntakeDirectRows, OneBitLineIsMaskedAndStamped) {
    auto context = MakeContext(1, 3, 8);
    Bytes line = {0xFF, 0x00, 0xFF, 0xFF};
    RasterBand band{};
    band.lineNumber = 21;
    SetEntry(band, 0, line.data(), 30, 3, 2);
    IntakeDirectRows(context.get(), &band);

    EXPECT_EQ(line, (Bytes{0x1F, 0x00, 0xFF, 0xF0}));
    const LineState& current = context->planes[0].currentLine;
    ExpectLine(current, {0, 3, -2});
    EXPECT_EQ(current.subLine, 5);
    EXPECT_EQ(current.lineNumber, 21);
    EXPECT_EQ(current.rowNumber, 2);
    ExpectRow(context->rows[0], line.data(), 30, 3, 2);
}

TEST(IntakeDirectRows, InkOutsideTheInkedSpanEdgesStillCounts) {
    auto context = MakeContext(1, 3, 8);
    Bytes line = {0xE0, 0x00, 0x0F};
    RasterBand band{};
    SetEntry(band, 0, line.data(), 24, 3, 0);
    IntakeDirectRows(context.get(), &band);
    EXPECT_EQ(line, (Bytes{0xE0, 0x00, 0x0F}));
    ExpectLine(context->planes[0].currentLine, {0, 2, -2});
}

TEST(IntakeDirectRows, ConvertedTwoBitLine) {
    auto context = MakeContext(1, 2, 8);
    context->planes[0].codeConversion = 1;
    Bytes line = {0x00, 0x15, 0x55, 0xAA, 0x40};
    RasterBand band{};
    SetEntry(band, 0, line.data(), 20, 0, 0);
    IntakeDirectRows(context.get(), &band);
    EXPECT_EQ(Bytes(line.begin(), line.begin() + 4), (Bytes{0x00, 0x79, 0x86, 0xBD}));
    ExpectRow(context->rows[0], line.data(), 16, 4, 0);
    ExpectLine(context->planes[0].currentLine, {1, 3, -2});
}

TEST(IntakeDirectRows, ConversionClearsTheBytesBeforeTheSpan) {
    auto context = MakeContext(1, 2, 8);
    context->planes[0].codeConversion = 1;
    // Pixels 0..8 are 1s, the span starts at pixel 9, in byte 2.
    Bytes line = {0x55, 0x55, 0x55, 0x55, 0x55};
    RasterBand band{};
    SetEntry(band, 0, line.data(), 20, 9, 0);
    IntakeDirectRows(context.get(), &band);
    // Bytes 0 and 1 are cleared and pixel 8 is masked off its edge byte (15), so the
    // digits are 0 for pixels 0..8 and 1 for 9..19: windows 00000 00001 11111 11111.
    EXPECT_EQ(Bytes(line.begin(), line.begin() + 4), (Bytes{0x00, 0x01, 0x79, 0x79}));
    EXPECT_EQ(context->rows[0].rowStart, 4);
    EXPECT_EQ(context->rows[0].rowEnd, 16);
    ExpectLine(context->planes[0].currentLine, {1, 3, -2});
}

TEST(IntakeDirectRows, ConvertedLineWithoutPrintableWindowsIsBlank) {
    auto context = MakeContext(1, 2, 8);
    context->planes[0].codeConversion = 1;
    // Every window holds a 3 or only zeros.
    Bytes line = {0xC0, 0x00, 0x30, 0x00, 0x03};
    RasterBand band{};
    SetEntry(band, 0, line.data(), 20, 0, 0);
    IntakeDirectRows(context.get(), &band);
    EXPECT_EQ(context->rows[0].rowStart, context->rows[0].rowEnd);
    EXPECT_EQ(context->rows[0].rowEnd, 16);
    ExpectLine(context->planes[0].currentLine, {0, 0, 1});
}

TEST(IntakeDirectRows, EmptyAndMissingLines) {
    struct Case {
        const char* name;
        bool pixels;
        int end, start, trail;
        Expected expected;
    };
    // Line FF on a one-bit plane.
    const Case cases[] = {
        // Nothing is masked, but byte 0 is in the searched range and holds ink.
        {"empty span", true, 5, 3, 2, {0, 0, -2}},
        {"end minus trail zero", true, 5, 0, 5, {0, 0, 1}},
        {"end equals start", true, 4, 4, 0, {0, 0, 1}},
        {"no pixels", false, 8, 0, 0, {0, 0, 1}},
        // trail beyond the extent: the search refuses the span, nothing is masked.
        {"refused span", true, 8, 2, 7, {0, 0, -2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto context = MakeContext(1, 3, 16);
        std::uint8_t line[1] = {0xFF};
        std::uint8_t rowBuffer[4] = {};
        context->rows[0].rowData = rowBuffer;
        RasterBand band{};
        band.lineNumber = 37;
        SetEntry(band, 0, c.pixels ? line : nullptr, c.end, c.start, c.trail);
        IntakeDirectRows(context.get(), &band);
        EXPECT_EQ(line[0], 0xFF);
        ExpectRow(context->rows[0], c.pixels ? line : nullptr, c.end, c.start, c.trail);
        ExpectLine(context->planes[0].currentLine, c.expected);
        EXPECT_EQ(context->planes[0].currentLine.subLine, 5);
        EXPECT_EQ(context->planes[0].currentLine.rowNumber, 2);
        EXPECT_EQ(context->planes[0].currentLine.lineNumber, 37);
    }
}

TEST(IntakeDirectRows, LinePositionWithinTheRow) {
    const struct {
        std::int16_t linesPerRow;
        std::int32_t lineNumber, subLine, rowNumber;
    } cases[] = {
        {1, 0, 0, 0},   {1, 77, 0, 77},  {8, 7, 7, 0},   {8, 8, 0, 1},
        {16, 37, 5, 2}, {16, 15, 15, 0}, {8, -3, -3, 0}, {8, -9, -1, -1},
    };
    for (const auto& c : cases) {
        auto context = MakeContext(1, 3, c.linesPerRow);
        RasterBand band{};
        band.lineNumber = c.lineNumber;
        IntakeDirectRows(context.get(), &band);
        const LineState& line = context->planes[0].currentLine;
        EXPECT_EQ(line.subLine, c.subLine) << c.linesPerRow << " " << c.lineNumber;
        EXPECT_EQ(line.rowNumber, c.rowNumber) << c.linesPerRow << " " << c.lineNumber;
        EXPECT_EQ(line.lineNumber, c.lineNumber);
    }
}

TEST(IntakeDirectRows, PlanesAreIndependentAndOnlyPlaneCountIsTouched) {
    auto context = MakeContext(3, 3, 8);
    context->planes[1].pixelShift = 2;
    context->planes[2].pixelShift = 1;
    Bytes k = {0x00, 0x00, 0x01};
    Bytes c = {0xFF, 0xFF};
    RasterBand band{};
    band.lineNumber = 9;
    SetEntry(band, 0, k.data(), 24, 0, 0);
    SetEntry(band, 1, nullptr, 8, 0, 0);
    SetEntry(band, 2, c.data(), 4, 1, 1);  // four-bit pixels 1 and 2
    SetEntry(band, 3, c.data(), 4, 0, 0);  // not read: planeCount is 3
    context->rows[3].rowEnd = 99;
    IntakeDirectRows(context.get(), &band);

    ExpectLine(context->planes[0].currentLine, {2, 2, -2});
    ExpectLine(context->planes[1].currentLine, {0, 0, 1});
    ExpectLine(context->planes[2].currentLine, {0, 1, -2});
    EXPECT_EQ(c, (Bytes{0x0F, 0xF0}));
    EXPECT_EQ(context->rows[3].rowEnd, 99);
    EXPECT_EQ(context->planes[3].currentLine.lineNumber, 0);
}

// The byte search against a plain scan, on lines with long blank stretches and ink at
// every offset, each line ending exactly at the byte of its last span pixel.
TEST(IntakeDirectRows, ByteSearchMatchesAPlainScan) {
    const std::uint32_t seed = testseed::TestSeed(1234);
    SCOPED_TRACE(testseed::SeedNote(seed));
    std::mt19937 random(seed);
    for (int trial = 0; trial < 4000; ++trial) {
        const std::int16_t shift = static_cast<std::int16_t>(1 + trial % 3);
        const int ppb = 1 << shift;
        const int bytes = 1 + static_cast<int>(random() % 70);
        const int pixels = bytes * ppb;
        const int start = static_cast<int>(random() % pixels);
        const int taken = 1 + static_cast<int>(random() % (pixels - start));
        const int lastByte = (start + taken - 1) / ppb;
        const int trail = static_cast<int>(random() % 5);

        Bytes line(static_cast<std::size_t>(lastByte + 1), 0);
        const int inkCount = static_cast<int>(random() % 4);
        for (int n = 0; n < inkCount; ++n) {
            line[random() % line.size()] = static_cast<std::uint8_t>(1 + random() % 255);
        }

        auto context = MakeContext(1, shift, 8);
        RasterBand band{};
        SetEntry(band, 0, line.data(), start + taken + trail, start, trail);
        IntakeDirectRows(context.get(), &band);

        int first = -1, last = -1;
        for (int b = start / ppb; b <= lastByte; ++b) {
            if (line[b] != 0) {
                if (first < 0) first = b;
                last = b;
            }
        }
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        if (first < 0) {
            ExpectLine(context->planes[0].currentLine, {0, 0, 1});
        } else {
            ExpectLine(context->planes[0].currentLine, {first, last, -2});
        }
    }
}

}  // namespace
}  // namespace inkrow
