#include "raster/split.h"

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

constexpr std::uint8_t kUntouched = 0xEE;
constexpr std::size_t kRowBufferSize = 64;

// A sixteen-plane context whose row buffers are filled with kUntouched.
struct SplitSetup {
    std::unique_ptr<OutputContext> context;
    std::vector<Bytes> rowBuffers;
    RasterBand band;
};

SplitSetup MakeSetup(std::size_t rowBufferSize = kRowBufferSize) {
    SplitSetup setup{std::make_unique<OutputContext>(),
                     std::vector<Bytes>(16, Bytes(rowBufferSize, kUntouched)), RasterBand{}};
    setup.context->planeCount = 16;
    setup.context->linesPerRow = 16;
    for (int k = 0; k < 16; ++k) {
        setup.context->planes[k].pixelShift = 2;
        setup.context->planes[k].twoBitSplit = 1;
        setup.context->rows[k].rowData = setup.rowBuffers[k].data();
    }
    setup.band.lineNumber = 37;
    return setup;
}

void SetEntry(RasterBand& band, int i, std::uint8_t* pixels, int end, int start, int trail) {
    band.bandPlanes[i].pixels = pixels;
    band.bandPlanes[i].end = static_cast<std::int16_t>(end);
    band.bandPlanes[i].start = static_cast<std::int16_t>(start);
    band.bandPlanes[i].trail = static_cast<std::int16_t>(trail);
}

Bytes Head(const Bytes& bytes, std::size_t n) {
    return Bytes(bytes.begin(), bytes.begin() + n);
}

struct PlaneExpectation {
    int plane;
    Bytes output;  // empty: the row buffer is untouched
    int rowEnd, rowStart, rowTrail;
    std::int32_t firstInkByte, lastInkByte;
    std::int16_t blankFlag;
};

TEST(SplitTwoBitPlanes, DocumentedExamples) {
    SplitSetup setup = MakeSetup();
    Bytes input0 = {0x12, 0x34, 0x56, 0x78};
    Bytes input3 = {0x9A, 0xBC, 0xDE, 0xF1, 0x20};
    Bytes input4 = {0xF5, 0x00};
    Bytes input5 = {0x89, 0x7F, 0x10};
    Bytes input2 = {0xFF, 0xFF, 0xFF, 0xFF};
    SetEntry(setup.band, 0, input0.data(), 8, 0, 0);
    SetEntry(setup.band, 1, nullptr, 8, 0, 0);
    SetEntry(setup.band, 2, input2.data(), 4, 4, 0);
    SetEntry(setup.band, 3, input3.data(), 10, 0, 0);
    SetEntry(setup.band, 4, input4.data(), 4, 1, 0);
    SetEntry(setup.band, 5, input5.data(), 6, 0, 1);
    // Entries from 6 on are not part of the split.
    Bytes ignored = {0xFF};
    SetEntry(setup.band, 6, ignored.data(), 2, 0, 0);
    SplitTwoBitPlanes(setup.context.get(), &setup.band);

    const PlaneExpectation expectations[] = {
        // Levels 1 to 8; level 8 yields nothing on either plane.
        {0, {0x6A, 0xFC}, 8, 0, 0, 0, 1, -2},
        {6, {0x06, 0x6C}, 8, 0, 0, 0, 1, -2},
        // Levels 9 to 15, 1, 2, 0.
        {3, {0x96, 0x6C, 0x00}, 12, 0, 0, 0, 1, -2},
        {9, {0x5A, 0xFC, 0x00}, 12, 0, 0, 0, 1, -2},
        {12, {0xBF, 0xFC, 0x00}, 12, 0, 0, 0, 1, -2},
        {14, {0xFF, 0xFD, 0x80}, 12, 0, 0, 0, 2, -2},
        // Pixel 0 lies outside the span and is masked off.
        {4, {0x10}, 4, 0, 0, 0, 0, -2},
        {10, {0x10}, 4, 0, 0, 0, 0, -2},
        {13, {0x10}, 4, 0, 0, 0, 0, -2},
        {15, {0x20}, 4, 0, 0, 0, 0, -2},
        // Levels 8, 9 and 15 print nothing on a two-way input.
        {5, {0x0C, 0x40}, 8, 0, 0, 0, 1, -2},
        {11, {0x0C, 0x00}, 8, 0, 0, 0, 0, -2},
        // Blank inputs keep their extents and leave the row buffers alone.
        {1, {}, 8, 0, 0, 0, 0, 1},
        {7, {}, 8, 0, 0, 0, 0, 1},
        {2, {}, 4, 4, 0, 0, 0, 1},
        {8, {}, 4, 4, 0, 0, 0, 1},
    };
    for (const PlaneExpectation& e : expectations) {
        SCOPED_TRACE(testing::Message() << "plane " << e.plane);
        const Bytes& buffer = setup.rowBuffers[e.plane];
        EXPECT_EQ(Head(buffer, e.output.size()), e.output);
        EXPECT_EQ(buffer[e.output.size()], kUntouched);
        const RowDescriptor& row = setup.context->rows[e.plane];
        EXPECT_EQ(row.rowData, buffer.data());
        EXPECT_EQ(row.rowEnd, e.rowEnd);
        EXPECT_EQ(row.rowStart, e.rowStart);
        EXPECT_EQ(row.rowTrail, e.rowTrail);
        const LineState& line = setup.context->planes[e.plane].currentLine;
        EXPECT_EQ(line.firstInkByte, e.firstInkByte);
        EXPECT_EQ(line.lastInkByte, e.lastInkByte);
        EXPECT_EQ(line.blankFlag, e.blankFlag);
        EXPECT_EQ(line.subLine, 5);
        EXPECT_EQ(line.rowNumber, 2);
        EXPECT_EQ(line.lineNumber, 37);
    }
    EXPECT_EQ(input4, (Bytes{0x05, 0x00}));
    EXPECT_EQ(input2, (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(ignored[0], 0xFF);
}

TEST(SplitTwoBitPlanes, ClearsTheBytesBeforeTheSpan) {
    SplitSetup setup = MakeSetup();
    Bytes input = {0x77, 0x77, 0x77, 0x77};
    SetEntry(setup.band, 0, input.data(), 8, 5, 0);
    SplitTwoBitPlanes(setup.context.get(), &setup.band);
    // Bytes 0 and 1 cleared, pixel 4 masked off the edge byte: levels 0 x 5, 7, 7, 7.
    EXPECT_EQ(input, (Bytes{0x00, 0x00, 0x07, 0x77}));
    EXPECT_EQ(Head(setup.rowBuffers[0], 2), (Bytes{0x00, 0x3F}));
    EXPECT_EQ(Head(setup.rowBuffers[6], 2), (Bytes{0x00, 0x3F}));
    EXPECT_EQ(setup.context->planes[0].currentLine.firstInkByte, 1);
    EXPECT_EQ(setup.context->rows[0].rowStart, 0);
}

TEST(SplitTwoBitPlanes, EmptySpanLeavesOutputsBlank) {
    SplitSetup setup = MakeSetup();
    Bytes input = {0x00, 0x00};
    // end - trail = 0: no input byte is split, so nothing is written.
    SetEntry(setup.band, 3, input.data(), 4, 0, 4);
    SplitTwoBitPlanes(setup.context.get(), &setup.band);
    for (int plane : {3, 9, 12, 14}) {
        EXPECT_EQ(setup.rowBuffers[plane][0], kUntouched) << plane;
        EXPECT_EQ(setup.context->rows[plane].rowEnd, 0) << plane;
        EXPECT_EQ(setup.context->planes[plane].currentLine.blankFlag, kLineIsBlank) << plane;
    }
}

unsigned Field(const std::uint8_t* bytes, int pixel, int bits) {
    const int ppb = 8 / bits;
    return (bytes[pixel / ppb] >> (8 - bits * (pixel % ppb + 1))) & ((1u << bits) - 1);
}

// Every pixel's fields, gathered from the output planes of its input and put back in
// their places, give the split table's entry for the pixel's level: nothing is lost,
// moved or mixed between planes. The masking of the input is checked against a plain
// search for the inked span.
TEST(SplitTwoBitPlanes, OutputsRecombineToTheTableEntries) {
    const std::uint32_t seed = testseed::TestSeed(31337);
    SCOPED_TRACE(testseed::SeedNote(seed));
    std::mt19937 random(seed);
    for (int trial = 0; trial < 1500; ++trial) {
        SplitSetup setup = MakeSetup(128);
        Bytes original[6], inputs[6];
        int starts[6], ends[6];
        for (int i = 0; i < 6; ++i) {
            const int bytes = 1 + static_cast<int>(random() % 200);
            const int pixels = 2 * bytes;
            const int start = static_cast<int>(random() % pixels);
            const int taken = 1 + static_cast<int>(random() % (pixels - start));
            const int lastByte = (start + taken - 1) / 2;
            Bytes line(static_cast<std::size_t>(lastByte + 1), 0);
            // Sparse or dense, so the blank-stretch shortcut runs at every offset.
            const int density = static_cast<int>(random() % 3) == 0 ? 90 : 8;
            for (auto& b : line) {
                if (static_cast<int>(random() % 100) < density) {
                    b = static_cast<std::uint8_t>(random());
                }
            }
            original[i] = line;
            inputs[i] = line;
            starts[i] = start;
            ends[i] = start + taken;
            SetEntry(setup.band, i, inputs[i].data(), start + taken, start, 0);
        }
        SplitTwoBitPlanes(setup.context.get(), &setup.band);

        for (int i = 0; i < 6; ++i) {
            SCOPED_TRACE(testing::Message() << "trial " << trial << " input " << i);
            const bool fourWay = i == 3 || i == 4;
            const std::uint8_t* table = fourWay ? kFourWaySplit : kTwoWaySplit;
            const unsigned levels = fourWay ? 16 : 8;
            std::vector<int> planes;
            for (int k = 0; k < 16; ++k) {
                if (kSplitSource[k] == i) planes.push_back(k);
            }
            ASSERT_EQ(planes.size(), fourWay ? 4u : 2u);

            // The input after masking: cleared before byte start / 2, and the pixels
            // outside the span cleared in the bytes that hold the inked span's ends.
            const int n = static_cast<int>(inputs[i].size());
            int firstInk = -1, lastInk = -1;
            for (int p = starts[i]; p < ends[i]; ++p) {
                if (Field(original[i].data(), p, 4) != 0) {
                    if (firstInk < 0) firstInk = p;
                    lastInk = p;
                }
            }
            for (int p = 0; p < 2 * n; ++p) {
                const bool cleared = p < 2 * (starts[i] / 2) ||
                                     (firstInk >= 0 && p / 2 == firstInk / 2 && p < firstInk) ||
                                     (firstInk >= 0 && p / 2 == lastInk / 2 && p > lastInk);
                ASSERT_EQ(Field(inputs[i].data(), p, 4),
                          cleared ? 0 : Field(original[i].data(), p, 4))
                    << "input pixel " << p;
            }

            const int outBytes = (n + 1) / 2;
            for (int p = 0; p < 4 * outBytes; ++p) {
                unsigned rebuilt = 0;
                for (std::size_t m = 0; m < planes.size(); ++m) {
                    rebuilt |= Field(setup.rowBuffers[planes[m]].data(), p, 2) << (6 - 2 * m);
                }
                const unsigned level = p < 2 * n ? Field(inputs[i].data(), p, 4) : 0;
                ASSERT_EQ(rebuilt, table[level < levels ? level : 0]) << "pixel " << p;
            }
            for (int k : planes) {
                const Bytes& out = setup.rowBuffers[k];
                ASSERT_EQ(out[outBytes], kUntouched);
                int first = -1, last = -1;
                for (int b = 0; b < outBytes; ++b) {
                    if (out[b] != 0) {
                        if (first < 0) first = b;
                        last = b;
                    }
                }
                const LineState& line = setup.context->planes[k].currentLine;
                EXPECT_EQ(setup.context->rows[k].rowEnd, 4 * outBytes);
                EXPECT_EQ(line.blankFlag, first < 0 ? kLineIsBlank : kLineIsInked);
                EXPECT_EQ(line.firstInkByte, first < 0 ? 0 : first);
                EXPECT_EQ(line.lastInkByte, first < 0 ? 0 : last);
            }
        }
    }
}

// The split with and without SSSE3 gives the same planes, extents and masked inputs, on
// lines long enough for many vector steps and a tail of every length.
TEST(SplitTwoBitPlanes, VectorAndPlainSplitsAgree) {
    if (!HasVectorSplit()) GTEST_SKIP() << "no SSSE3 on this machine";
    std::mt19937 random(4242);
    for (int trial = 0; trial < 300; ++trial) {
        SplitSetup vector = MakeSetup(1300);
        SplitSetup plain = MakeSetup(1300);
        Bytes vectorInputs[6], plainInputs[6];
        for (int i = 0; i < 6; ++i) {
            const int bytes = 1 + static_cast<int>(random() % 2500);
            const int start = static_cast<int>(random() % (2 * bytes));
            Bytes line(static_cast<std::size_t>(bytes), 0);
            const int density = static_cast<int>(random() % 100);
            for (auto& b : line) {
                if (static_cast<int>(random() % 100) < density)
                    b = static_cast<std::uint8_t>(random());
            }
            vectorInputs[i] = line;
            plainInputs[i] = line;
            SetEntry(vector.band, i, vectorInputs[i].data(), 2 * bytes, start, 0);
            SetEntry(plain.band, i, plainInputs[i].data(), 2 * bytes, start, 0);
        }
        SplitTwoBitPlanesWith(vector.context.get(), &vector.band, true);
        SplitTwoBitPlanesWith(plain.context.get(), &plain.band, false);
        for (int i = 0; i < 6; ++i)
            ASSERT_EQ(vectorInputs[i], plainInputs[i]) << "trial " << trial << " input " << i;
        for (int k = 0; k < 16; ++k) {
            SCOPED_TRACE(testing::Message() << "trial " << trial << " plane " << k);
            ASSERT_EQ(vector.rowBuffers[k], plain.rowBuffers[k]);
            const LineState& a = vector.context->planes[k].currentLine;
            const LineState& b = plain.context->planes[k].currentLine;
            EXPECT_EQ(a.firstInkByte, b.firstInkByte);
            EXPECT_EQ(a.lastInkByte, b.lastInkByte);
            EXPECT_EQ(a.blankFlag, b.blankFlag);
            EXPECT_EQ(vector.context->rows[k].rowEnd, plain.context->rows[k].rowEnd);
        }
    }
}

// The examples above reach only some four-way levels; these are the fields of the rest.
TEST(SplitTables, FourWayLevelsNotInTheExamples) {
    const struct {
        unsigned level, fields[4];
    } cases[] = {{3, {0, 0, 1, 2}},
                 {4, {0, 1, 1, 2}},
                 {6, {1, 1, 2, 2}},
                 {7, {1, 2, 2, 2}},
                 {8, {2, 2, 2, 2}}};
    for (const auto& c : cases) {
        for (int m = 0; m < 4; ++m) {
            EXPECT_EQ((kFourWaySplit[c.level] >> (6 - 2 * m)) & 3, c.fields[m]) << c.level;
        }
    }
}

}  // namespace
}  // namespace inkrow
