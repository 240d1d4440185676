// Whole jobs through the public entry points, with the expected streams worked out by
// hand from the command formats.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "core/context.h"
#include "job_driver.h"
#include "test_heap.h"

using namespace jobdriver;

namespace {

// Streams compare as hex text so that a failure shows where they part.
std::string Hex(const Bytes& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
        text += ' ';
    }
    return text;
}

Bytes Header(std::uint8_t linesPerRow) {
    return {0x1B, 0x28, 0x49, 0x01, 0x00, 0x01, 0x1B, 0x28, 0x4A, 0x01, 0x00, linesPerRow};
}
Bytes Skip(int rows) {
    return {0x1B,
            0x28,
            0x65,
            0x02,
            0x00,
            static_cast<std::uint8_t>(rows >> 8),
            static_cast<std::uint8_t>(rows & 0xFF)};
}
Bytes Select(std::initializer_list<std::uint8_t> inks) {
    Bytes bytes = {0x1B, 0x28, 0x4C, static_cast<std::uint8_t>(inks.size()), 0x00};
    bytes.insert(bytes.end(), inks);
    return bytes;
}
Bytes Packet(const Bytes& payload) {
    Bytes bytes = {0x1B, 0x28, 0x46, static_cast<std::uint8_t>(payload.size() & 0xFF),
                   static_cast<std::uint8_t>(payload.size() >> 8)};
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}
const Bytes kEmptyPacket = Packet({});
Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A plane line covering `bytes` whole bytes at the given bits per pixel.
PlaneLine Ink(Bytes bytes, int bitsPerPixel) {
    PlaneLine line;
    line.end = static_cast<int16_t>(bytes.size() * 8 / bitsPerPixel);
    line.pixels = std::move(bytes);
    return line;
}

struct Job {
    OutputHandle handle = nullptr;
    Bytes stream;

    Job(int16_t quality, int16_t media, int16_t width, int16_t resolution,
        int16_t formFeedJob = 0) {
        EXPECT_EQ(OutputOpen(&handle), OUTPUT_OPENED);
        JobParams job = MakeJob(quality, media, width, formFeedJob);
        EXPECT_EQ(OutputInitTwo(&handle, &job, 219), OUTPUT_OK);
        Page(resolution);
    }
    ~Job() {
        OutputClose(&handle);
        EXPECT_EQ(testheap::LiveBlocks(), 0);
    }
    void Page(int16_t resolution) {
        PageParams page = MakePage(resolution);
        EXPECT_EQ(OutputInitPart(&handle, &page), OUTPUT_OK);
    }
    void Line(int32_t lineNumber, std::vector<PlaneLine> planes) {
        EXPECT_EQ(SendLine(&handle, lineNumber, planes, &stream), OUTPUT_OK) << lineNumber;
    }
    void End() { EXPECT_EQ(EndPage(&handle, &stream), OUTPUT_OK); }
    inkrow::OutputContext* Context() const { return static_cast<inkrow::OutputContext*>(handle); }
};

TEST(WholeJob, FirstLineOfAPageListsOnlyThePageHeader) {
    Job job(20, 0, 48, 600);
    std::vector<PlaneLine> planes = {Ink({0x01, 0x02}, 1), {}, {}, {}};
    RasterBand band = MakeBand(0, planes);
    void* list = nullptr;
    ASSERT_EQ(OutputProduceTwo(&job.handle, &band, &list), OUTPUT_OK);
    ASSERT_EQ(SegmentCount(list), 1);
    Bytes listed;
    AppendSegments(list, &listed);
    EXPECT_EQ(listed, Header(16));
    EXPECT_EQ(job.Context()->pendingCompletion, 1);
    EXPECT_EQ(OutputComplete(&job.handle), OUTPUT_OK);
}

TEST(WholeJob, FirstLineInsideAPageStartsItsRowWithEmptyLines) {
    Job job(20, 0, 48, 600);
    std::vector<PlaneLine> planes = {Ink({0x00, 0x00, 0x00, 0x07, 0x07, 0x07}, 1), {}, {}, {}};
    RasterBand band = MakeBand(37, planes);
    void* list = nullptr;
    ASSERT_EQ(OutputProduceTwo(&job.handle, &band, &list), OUTPUT_OK);
    EXPECT_EQ(SegmentCount(list), 1);
    EXPECT_EQ(job.Context()->pendingCompletion, 2);
    EXPECT_EQ(job.Context()->pendingBlankRows, 2);
    ASSERT_EQ(OutputComplete(&job.handle), OUTPUT_OK);
    job.stream = Header(16);
    job.End();
    // Rows 0 and 1 are skipped; row 2 holds sub-lines 0-4 empty, line 37, ten empties.
    Bytes plane0 = {0x80, 0x80, 0x80, 0x80, 0x80, 0xFE, 0x00, 0xFE, 0x07, 0x80};
    plane0.insert(plane0.end(), 10, 0x80);
    EXPECT_EQ(Hex(job.stream),
              Hex(Concat({Header(16), Skip(2), Select({'C', 'M', 'Y', 'K'}), Packet(plane0),
                          kEmptyPacket, kEmptyPacket, kEmptyPacket})));
}

TEST(WholeJob, FullSelectionSendsEveryPlaneInPlaneOrder) {
    Job job(20, 0, 16, 360);  // CMYK at one bit, one line per row
    job.Line(0, {{}, Ink({0x01, 0x02}, 1), {}, {}});
    job.End();
    EXPECT_EQ(Hex(job.stream),
              Hex(Concat({Header(1), Select({'C', 'M', 'Y', 'K'}), kEmptyPacket,
                          Packet({0x01, 0x01, 0x02, 0x80}), kEmptyPacket, kEmptyPacket})));
}

TEST(WholeJob, BlackAndLightBlackRowsUseTheirOwnSelections) {
    // Quality 10 on media 1: CMYKk with K in plane 3 (one bit) and k in plane 4.
    Job job(10, 1, 8, 360);
    const Bytes ink = {0x00, 0x30};                     // two bytes at two bits per pixel: 8 pixels
    const Bytes k = {0xF0};                             // one byte at one bit per pixel: 8 pixels
    job.Line(0, {Ink(ink, 2), {}, {}, Ink(k, 1), {}});  // class 4
    job.Line(1, {{}, {}, {}, Ink(k, 1), {}});           // K only
    job.Line(2, {{}, {}, {}, Ink(k, 1), {}});           // K again: no selection
    job.Line(3, {{}, {}, {}, Ink(k, 1), Ink(ink, 2)});  // K and k
    job.Line(4, {{}, {}, {}, {}, Ink(ink, 2)});         // k only
    job.End();
    const Bytes lineOfInk = Packet({0x00, 0x00, 0x00, 0x30, 0x80});  // zero run of 1, then 30
    const Bytes lineOfK = Packet({0x00, 0xF0, 0x80});
    EXPECT_EQ(Hex(job.stream),
              Hex(Concat({Header(1), Select({'C', 'M', 'Y', 'K', 'k'}), lineOfInk, kEmptyPacket,
                          kEmptyPacket, lineOfK, kEmptyPacket,     // row 0
                          Select({'K'}), lineOfK,                  // row 1
                          lineOfK,                                 // row 2
                          Select({'K', 'k'}), lineOfK, lineOfInk,  // row 3
                          Select({'k'}), lineOfInk})));            // row 4
}

TEST(WholeJob, BlankRowsBecomeOneSkipBeforeTheNextInkedRow) {
    Job job(20, 0, 8, 360);
    job.Line(0, {Ink({0x80}, 1), {}, {}, {}});
    job.Line(1, {{}, {}, {}, {}});
    job.Line(2, {Ink({0x00}, 1), {}, {}, {}});  // pixels but no ink
    job.Line(3, {{}, {}, {}, {}});
    job.Line(4, {{}, {}, Ink({0x01}, 1), {}});
    job.End();
    const Bytes inked = Packet({0x00, 0x80, 0x80});
    const Bytes inked01 = Packet({0x00, 0x01, 0x80});
    EXPECT_EQ(Hex(job.stream), Hex(Concat({Header(1), Select({'C', 'M', 'Y', 'K'}), inked,
                                           kEmptyPacket, kEmptyPacket, kEmptyPacket, Skip(3),
                                           kEmptyPacket, kEmptyPacket, inked01, kEmptyPacket})));
}

TEST(WholeJob, LongSkipsSplitAt32767Rows) {
    const Bytes row = Packet({0x00, 0xFF, 0x80});
    {
        // Rows no line reached are skipped at once, after the committed row.
        Job job(20, 3, 8, 360);
        job.Line(10, {Ink({0xFF}, 1), {}, {}, {}});
        job.Line(40011, {Ink({0xFF}, 1), {}, {}, {}});
        job.End();
        EXPECT_EQ(Hex(job.stream),
                  Hex(Concat({Header(1), Skip(10), Select({'C', 'M', 'Y', 'K'}), row, kEmptyPacket,
                              kEmptyPacket, kEmptyPacket, Skip(32767), Skip(7233), row,
                              kEmptyPacket, kEmptyPacket, kEmptyPacket})));
    }
    {
        // Rows above the page's first line are owed, and sent with the first inked row.
        Job job(20, 3, 8, 360);
        job.Line(40000, {Ink({0xFF}, 1), {}, {}, {}});
        job.End();
        EXPECT_EQ(Hex(job.stream),
                  Hex(Concat({Header(1), Skip(32767), Skip(7233), Select({'C', 'M', 'Y', 'K'}), row,
                              kEmptyPacket, kEmptyPacket, kEmptyPacket})));
    }
}

TEST(WholeJob, PageEndFinishesAPartialRowAndRowsFillMissingSubLines) {
    Job job(20, 0, 8, 300);  // eight lines per row
    job.Line(0, {Ink({0x11}, 1), {}, {}, {}});
    job.Line(2, {Ink({0x22}, 1), {}, {}, {}});
    job.Line(9, {{}, {}, {}, Ink({0x33}, 1)});  // row 1, sub-line 1
    job.End();
    const Bytes row0 =
        Packet({0x00, 0x11, 0x80, 0x80, 0x00, 0x22, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80});
    const Bytes row1 = Packet({0x80, 0x00, 0x33, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80});
    EXPECT_EQ(Hex(job.stream),
              Hex(Concat({Header(8), Select({'C', 'M', 'Y', 'K'}), row0, kEmptyPacket, kEmptyPacket,
                          kEmptyPacket, Select({'K'}), row1})));
}

TEST(WholeJob, TwoPagesInOneContextEachGetAHeaderAndASelection) {
    Job job(20, 0, 8, 360);
    job.Line(0, {{}, {}, {}, Ink({0x0F}, 1)});
    job.End();
    job.Page(300);
    job.Line(5, {{}, {}, {}, Ink({0x0F}, 1)});
    job.Line(6, {{}, {}, {}, {}});
    job.End();
    const Bytes row1 = Packet({0x00, 0x0F, 0x80});
    Bytes row8 = {0x80, 0x80, 0x80, 0x80, 0x80, 0x00, 0x0F, 0x80, 0x80, 0x80};
    EXPECT_EQ(
        Hex(job.stream),
        Hex(Concat({Header(1), Select({'K'}), row1, Header(8), Select({'K'}), Packet(row8)})));
}

TEST(WholeJob, SixteenPlaneSplitPage) {
    Job job(0, 26, 8, 360);
    // Input 0 (C) levels 1 to 8 go to planes 0 and 6; input 3 (c) level 15 to 3, 9, 12, 14.
    std::vector<PlaneLine> planes(6);
    planes[0] = Ink({0x12, 0x34, 0x56, 0x78}, 4);
    planes[3] = Ink({0xF0, 0x00, 0x00, 0x00}, 4);
    job.Line(0, planes);
    job.End();
    const Bytes sixteen = Select({0x43, 0x4D, 0x59, 0x63, 0x6D, 0x6B, 0xC3, 0xCD, 0xD9, 0xA3, 0xAD,
                                  0xEB, 0xE3, 0xED, 0x23, 0x2D});
    const Bytes level15 = Packet({0x00, 0xC0, 0x80});
    Bytes expected = Concat({Header(1), sixteen});
    for (int plane = 0; plane < 16; ++plane) {
        Bytes packet = kEmptyPacket;
        if (plane == 0) packet = Packet({0x01, 0x6A, 0xFC, 0x80});
        if (plane == 6) packet = Packet({0x01, 0x06, 0x6C, 0x80});
        if (plane == 3 || plane == 9 || plane == 12 || plane == 14) packet = level15;
        expected.insert(expected.end(), packet.begin(), packet.end());
    }
    EXPECT_EQ(Hex(job.stream), Hex(expected));
}

}  // namespace
