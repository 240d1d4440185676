// Round trip: random jobs through the module, their streams read back by the decoder,
// and every ink's rebuilt raster compared with what the printer should receive. The
// expected raster is worked out here from the definitions of masking, conversion and
// split, without calling any of the module's own functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "core/context.h"
#include "decode.h"
#include "job_driver.h"
#include "test_heap.h"
#include "test_seed.h"

using namespace jobdriver;

namespace {

using Line = std::vector<std::uint8_t>;

int PixelBits(const Line& line, int bits, int pixel) {
    const int perByte = 8 / bits;
    const int byte = pixel / perByte;
    const int shift = 8 - bits * (pixel % perByte + 1);
    return (line[static_cast<std::size_t>(byte)] >> shift) & ((1 << bits) - 1);
}

void ClearPixel(Line* line, int bits, int pixel) {
    const int perByte = 8 / bits;
    const int shift = 8 - bits * (pixel % perByte + 1);
    (*line)[static_cast<std::size_t>(pixel / perByte)] &=
        static_cast<std::uint8_t>(~(((1 << bits) - 1) << shift));
}

// Pixels that share a byte with the first or last inked pixel of the span but lie
// outside the inked part of the span are cleared; nothing else changes.
void MaskEdges(Line* line, int bits, int start, int spanEnd) {
    int first = -1, last = -1;
    for (int pixel = start; pixel < spanEnd; ++pixel) {
        if (PixelBits(*line, bits, pixel) != 0) {
            if (first < 0) first = pixel;
            last = pixel;
        }
    }
    if (first < 0) return;
    const int perByte = 8 / bits;
    for (int pixel = first / perByte * perByte; pixel < first; ++pixel)
        ClearPixel(line, bits, pixel);
    for (int pixel = last + 1; pixel < (last / perByte + 1) * perByte; ++pixel)
        ClearPixel(line, bits, pixel);
}

// What the printer receives for a direct plane's line: the masked line between the
// bytes of the span's first and last pixel.
Line ExpectDirect(Line line, int bits, int start, int end, int trail) {
    const int spanEnd = end - trail;
    MaskEdges(&line, bits, start, spanEnd);
    const int perByte = 8 / bits;
    Line sent(line.size(), 0);
    for (int byte = start / perByte; byte <= (spanEnd - 1) / perByte && spanEnd > 0; ++byte)
        sent[static_cast<std::size_t>(byte)] = line[static_cast<std::size_t>(byte)];
    return sent;
}

// A converted two-bit line: bytes before the span's byte cleared, then every ten bits
// (five pixels) read as one base-3 number, or 0 when a pixel is 3.
Line ExpectConverted(Line line, int start, int end, int trail) {
    const int spanEnd = end - trail;
    MaskEdges(&line, 2, start, spanEnd);
    for (int byte = 0; byte < start / 4; ++byte)
        line[static_cast<std::size_t>(byte)] = 0;
    const int inputBytes = spanEnd > 0 ? (spanEnd - 1) / 4 + 1 : 0;
    const int outputBytes = (4 * inputBytes + 4) / 5;
    Line sent(line.size(), 0);
    for (int k = 0; k < outputBytes; ++k) {
        int value = 0;
        bool valid = true;
        for (int digit = 0; digit < 5; ++digit) {
            const int pixel = 5 * k + digit;
            const int level = pixel / 4 < inputBytes ? PixelBits(line, 2, pixel) : 0;
            if (level == 3) valid = false;
            value = value * 3 + level;
        }
        sent[static_cast<std::size_t>(k)] = valid ? static_cast<std::uint8_t>(value) : 0;
    }
    return sent;
}

// The sixteen-ink split of one four-bit input line into its two or four outputs.
std::vector<Line> ExpectSplit(Line line, int start, int end, int trail, int outputs) {
    static const std::uint8_t twoWay[8] = {0x00, 0x40, 0x80, 0x90, 0xA0, 0xD0, 0xE0, 0xF0};
    static const std::uint8_t fourWay[16] = {0x00, 0x01, 0x02, 0x06, 0x16, 0x56, 0x5A, 0x6A,
                                             0xAA, 0x9B, 0x5F, 0x6F, 0xAF, 0x7F, 0xBF, 0xFF};
    const int spanEnd = end - trail;
    MaskEdges(&line, 4, start, spanEnd);
    for (int byte = 0; byte < start / 2; ++byte)
        line[static_cast<std::size_t>(byte)] = 0;
    const int inputBytes = spanEnd > 0 ? (spanEnd - 1) / 2 + 1 : 0;
    const int pixels = 2 * inputBytes;
    std::vector<Line> sent(static_cast<std::size_t>(outputs), Line(line.size(), 0));
    for (int pixel = 0; pixel < pixels; ++pixel) {
        const int level = PixelBits(line, 4, pixel);
        const std::uint8_t entry = outputs == 2 ? (level < 8 ? twoWay[level] : 0) : fourWay[level];
        for (int m = 0; m < outputs; ++m) {
            const int value = (entry >> (6 - 2 * m)) & 3;
            sent[static_cast<std::size_t>(m)][static_cast<std::size_t>(pixel / 4)] |=
                static_cast<std::uint8_t>(value << (6 - 2 * (pixel % 4)));
        }
    }
    return sent;
}

// Output planes of each split input, in output order.
const std::vector<std::vector<int>> kSplitOutputs = {{0, 6},         {1, 7},          {2, 8},
                                                     {3, 9, 12, 14}, {4, 10, 13, 15}, {5, 11}};

struct Mode {
    std::int16_t quality, media;
};

// Expected lines of one page, per plane, by line number.
using PageLines = std::vector<std::map<std::int32_t, Line>>;

void CompareWithDecoded(const inkrow::decode::Page& page, const PageLines& expected,
                        std::span<const std::uint8_t> codes, int linesPerRow) {
    ASSERT_EQ(page.linesPerRow, linesPerRow);
    for (std::size_t plane = 0; plane < expected.size(); ++plane) {
        const inkrow::decode::InkRaster* ink = inkrow::decode::FindInk(page, codes[plane]);
        for (const auto& [lineNumber, bytes] : expected[plane]) {
            const bool blank =
                std::all_of(bytes.begin(), bytes.end(), [](auto b) { return b == 0; });
            if (ink == nullptr || static_cast<std::uint64_t>(lineNumber) >= ink->lineCount) {
                EXPECT_TRUE(blank) << "plane " << plane << " line " << lineNumber << " lost";
                continue;
            }
            for (std::size_t byte = 0; byte < bytes.size(); ++byte) {
                const std::uint8_t got =
                    byte < ink->widthBytes
                        ? ink->bytes[static_cast<std::size_t>(lineNumber) * ink->widthBytes + byte]
                        : 0;
                ASSERT_EQ(got, bytes[byte])
                    << "plane " << plane << " line " << lineNumber << " byte " << byte << " of "
                    << bytes.size() << " (decoded width " << ink->widthBytes << ")";
            }
        }
        // Nothing may appear on lines that no call supplied.
        if (ink == nullptr) continue;
        for (std::uint64_t line = 0; line < ink->lineCount; ++line) {
            if (expected[plane].count(static_cast<std::int32_t>(line))) continue;
            for (std::uint32_t byte = 0; byte < ink->widthBytes; ++byte)
                ASSERT_EQ(ink->bytes[line * ink->widthBytes + byte], 0)
                    << "plane " << plane << " line " << line << " gained ink";
        }
    }
}

TEST(RoundTrip, RandomJobsInEveryConfigurationDecodeToTheirInput) {
    const Mode modes[] = {{20, 0},  {15, 27}, {15, 29}, {10, 0}, {10, 7}, {10, 1}, {10, 18},
                          {10, 37}, {5, 0},   {5, 7},   {5, 1},  {0, 26}, {0, 31}};
    const std::int16_t resolutions[] = {300, 600, 360};
    const std::uint32_t seed = testseed::TestSeed(2026);
    SCOPED_TRACE(testseed::SeedNote(seed));
    std::mt19937 random(seed);
    int jobs = 0;
    while (jobs < 3000) {
        const Mode& mode = modes[random() % std::size(modes)];
        const auto width = static_cast<std::int16_t>(1 + random() % 200);
        OutputHandle handle = nullptr;
        ASSERT_EQ(OutputOpen(&handle), OUTPUT_OPENED);
        JobParams job = MakeJob(mode.quality, mode.media, width);
        ASSERT_EQ(OutputInitTwo(&handle, &job, 219), OUTPUT_OK);
        Bytes stream;
        std::vector<PageLines> expectedPages;
        std::vector<std::vector<std::uint8_t>> pageCodes;
        std::vector<int> pageLinesPerRow;
        const int pages = 1 + static_cast<int>(random() % 3);
        for (int pageIndex = 0; pageIndex < pages; ++pageIndex) {
            PageParams page =
                MakePage(resolutions[random() % 3], static_cast<std::int16_t>(random() % 4 == 0),
                         static_cast<std::int16_t>(random() % 4 == 0));
            ASSERT_EQ(OutputInitPart(&handle, &page), OUTPUT_OK);
            const auto* context = static_cast<const inkrow::OutputContext*>(handle);
            const int planes = context->planeCount;
            const bool split = context->planes[0].twoBitSplit == 1;
            const int inputs = split ? 6 : planes;
            const auto codes = inkrow::decode::ListInkSetCodes(context->inkSetId);
            ASSERT_EQ(static_cast<int>(codes.size()), planes);
            pageCodes.emplace_back(codes.begin(), codes.end());
            pageLinesPerRow.push_back(context->linesPerRow);
            PageLines expected(static_cast<std::size_t>(planes));

            std::int32_t lineNumber = static_cast<std::int32_t>(random() % 20);
            const int lines = static_cast<int>(random() % 40);
            for (int i = 0; i < lines; ++i) {
                std::vector<PlaneLine> band(static_cast<std::size_t>(inputs));
                for (int input = 0; input < inputs; ++input) {
                    PlaneLine& plane = band[static_cast<std::size_t>(input)];
                    const int bits = split ? 4 : 8 >> context->planes[input].pixelShift;
                    const int bytes = (width * bits + 7) / 8;
                    const int shape = static_cast<int>(random() % 6);
                    if (shape == 0) continue;  // null pixels: nothing on this plane
                    plane.pixels.assign(static_cast<std::size_t>(bytes), 0);
                    for (auto& byte : plane.pixels) {
                        if (shape == 1) byte = static_cast<std::uint8_t>(random());
                        if (shape >= 2 && random() % 5 == 0)
                            byte = static_cast<std::uint8_t>(random());
                    }
                    plane.start =
                        static_cast<std::int16_t>(shape == 5 ? random() % (width + 1) : 0);
                    plane.end = static_cast<std::int16_t>(
                        shape == 5 ? plane.start + random() % (width - plane.start + 1) : width);
                    plane.trail = static_cast<std::int16_t>(
                        shape == 5 ? random() % (plane.end - plane.start + 1) : 0);
                }
                // The expected lines, from a copy: the module works in the caller's lines.
                for (int input = 0; input < inputs; ++input) {
                    const PlaneLine& plane = band[static_cast<std::size_t>(input)];
                    const bool nothing = plane.pixels.empty() || plane.end == plane.start;
                    const Line original = plane.pixels;
                    if (split) {
                        const auto& outputs = kSplitOutputs[static_cast<std::size_t>(input)];
                        const int rowBytes = (width * 4 + 7) / 8;
                        std::vector<Line> sent(outputs.size(),
                                               Line(static_cast<std::size_t>(rowBytes), 0));
                        if (!nothing)
                            sent = ExpectSplit(original, plane.start, plane.end, plane.trail,
                                               static_cast<int>(outputs.size()));
                        for (std::size_t m = 0; m < outputs.size(); ++m)
                            expected[static_cast<std::size_t>(outputs[m])][lineNumber] = sent[m];
                        continue;
                    }
                    const int bits = 8 >> context->planes[input].pixelShift;
                    Line sent(static_cast<std::size_t>((width * bits + 7) / 8), 0);
                    if (!nothing) {
                        sent =
                            context->planes[input].codeConversion != 0
                                ? ExpectConverted(original, plane.start, plane.end, plane.trail)
                                : ExpectDirect(original, bits, plane.start, plane.end, plane.trail);
                    }
                    expected[static_cast<std::size_t>(input)][lineNumber] = sent;
                }
                ASSERT_EQ(SendLine(&handle, lineNumber, band, &stream), OUTPUT_OK);
                lineNumber +=
                    1 + static_cast<std::int32_t>(random() % (random() % 6 == 0 ? 60 : 3));
            }
            ASSERT_EQ(EndPage(&handle, &stream), OUTPUT_OK);
            // A page that took no line sends nothing at all, not even its header.
            if (lines == 0) {
                pageCodes.pop_back();
                pageLinesPerRow.pop_back();
                continue;
            }
            expectedPages.push_back(std::move(expected));
        }
        OutputClose(&handle);
        ASSERT_EQ(testheap::LiveBlocks(), 0);

        inkrow::decode::Decoded decoded;
        const inkrow::decode::Error error = inkrow::decode::DecodeStream(stream, {}, &decoded);
        ASSERT_EQ(error.code, inkrow::decode::ErrorCode::kNone)
            << error.message << " at " << error.offset << " (quality " << mode.quality << ", media "
            << mode.media << ")";
        ASSERT_EQ(decoded.pages.size(), expectedPages.size());
        for (std::size_t page = 0; page < expectedPages.size(); ++page) {
            SCOPED_TRACE(testing::Message() << "job " << jobs << " page " << page << " quality "
                                            << mode.quality << " media " << mode.media);
            CompareWithDecoded(decoded.pages[page], expectedPages[page], pageCodes[page],
                               pageLinesPerRow[page]);
            if (HasFatalFailure()) return;
        }
        ++jobs;
    }
}

}  // namespace
