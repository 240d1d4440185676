#include "mode/page_setup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "catalog/print_modes.h"
#include "core/call_state.h"
#include "core/context.h"
#include "job_driver.h"
#include "test_heap.h"

using namespace jobdriver;

namespace inkrow {
namespace {

OutputContext* ContextOf(OutputHandle handle) {
    return static_cast<OutputContext*>(handle);
}
int StateOf(OutputHandle handle) {
    return static_cast<CallState*>(ContextOf(handle)->stateHandle)->state;
}

// A context with the job taken, ready for its first page.
OutputHandle OpenJob(std::int16_t quality, std::int16_t media, std::int16_t width,
                     std::int16_t formFeedJob = 0) {
    OutputHandle handle = nullptr;
    EXPECT_EQ(OutputOpen(&handle), kOpened);
    JobParams job = MakeJob(quality, media, width, formFeedJob);
    EXPECT_EQ(OutputInitTwo(&handle, &job, 219), kOk);
    return handle;
}

struct SetupCase {
    const char* name;
    std::int16_t quality, media, blackOnly, kForBlack, keepColor;
    std::int16_t inkSet;
    std::vector<int> shifts;       // pixelShift per plane
    std::vector<int> conversions;  // non-zero: converted
    int split;
};

const std::vector<SetupCase> kSetupCases = {
    {"sixteen planes ignore the flags", 0, 26, 1, 1, 0, 9, std::vector<int>(16, 1),
     std::vector<int>(16, 0), 1},
    {"black only, column 0", 20, 3, 1, 0, 0, 1, {3}, {0}, 0},
    {"black only, column 1", 10, 7, 1, 0, 0, 1, {3}, {0}, 0},
    {"black only not for column 2", 10, 27, 1, 0, 0, 7, {2, 2, 2, 2, 2, 2}, {1, 1, 1, 1, 1, 1}, 0},
    {"keep colour overrides black only", 20, 3, 1, 0, 1, 3, {3, 3, 3, 3}, {0, 0, 0, 0}, 0},
    {"k for black wins over black only", 10, 0, 1, 1, 0, 4, {2, 2, 3, 2}, {1, 1, 0, 1}, 0},
    {"k for black at quality 10, column 0", 10, 0, 0, 1, 0, 4, {2, 2, 3, 2}, {1, 1, 0, 1}, 0},
    {"k for black at quality 10, column 1", 10, 8, 0, 1, 0, 4, {2, 2, 3, 2}, {1, 1, 0, 1}, 0},
    {"k for black at quality 5, column 1",
     5,
     7,
     0,
     1,
     0,
     7,
     {2, 2, 2, 2, 2, 2},
     {0, 0, 0, 0, 0, 0},
     0},
    {"k for black keeps the tables elsewhere",
     5,
     0,
     0,
     1,
     0,
     6,
     {2, 2, 2, 3, 2, 2},
     {0, 0, 0, 0, 0, 0},
     0},
    {"tables: quality 10 media 1", 10, 1, 0, 0, 0, 5, {2, 2, 2, 3, 2}, {0, 0, 0, 0, 0}, 0},
    {"tables: quality 10 media 7", 10, 7, 0, 0, 0, 5, {2, 2, 3, 3, 2}, {1, 1, 0, 0, 1}, 0},
    {"tables: quality 5 media 7",
     5,
     7,
     0,
     0,
     0,
     8,
     {2, 2, 2, 3, 2, 2, 2},
     {0, 0, 0, 0, 0, 0, 0},
     0},
};

TEST(PageSetup, ConfigurationRules) {
    for (const SetupCase& setup : kSetupCases) {
        SCOPED_TRACE(setup.name);
        OutputHandle handle = OpenJob(setup.quality, setup.media, 100);
        PageParams page = MakePage(600, setup.blackOnly, setup.kForBlack, setup.keepColor);
        ASSERT_EQ(OutputInitPart(&handle, &page), kOk);
        const OutputContext* context = ContextOf(handle);
        EXPECT_EQ(context->inkSetId, setup.inkSet);
        ASSERT_EQ(context->planeCount, static_cast<int>(setup.shifts.size()));
        for (int plane = 0; plane < context->planeCount; ++plane) {
            const PlaneState& state = context->planes[plane];
            EXPECT_EQ(state.pixelShift, setup.shifts[plane]) << plane;
            EXPECT_EQ(state.codeConversion != 0, setup.conversions[plane] != 0) << plane;
            EXPECT_EQ(state.twoBitSplit, setup.split) << plane;
        }
        OutputClose(&handle);
    }
}

TEST(PageSetup, BuffersHeadersAndCounters) {
    OutputHandle handle = OpenJob(10, 7, 100);  // planes at 2, 2, 1, 1, 2 bits
    PageParams page = MakePage(600);
    ASSERT_EQ(OutputInitPart(&handle, &page), kOk);
    const OutputContext* context = ContextOf(handle);
    const std::uint8_t header[] = {0x1B, 0x28, 0x46, 0x00, 0x00};
    const std::int32_t rowBufferSizes[] = {26, 26, 14, 14, 26};
    EXPECT_EQ(context->ringDepth, 1);
    EXPECT_EQ(context->linesPerRow, 16);
    for (int plane = 0; plane < context->planeCount; ++plane) {
        const BufferNode& packet = context->planes[plane].packetChain;
        const BufferNode& staging = context->stagingChains[plane];
        EXPECT_EQ(packet.capacity, 0xF400u);
        EXPECT_EQ(staging.capacity, 0xF400u);
        EXPECT_EQ(packet.usedLength, 5);
        EXPECT_EQ(staging.usedLength, 5);
        EXPECT_EQ(packet.nextHandle, nullptr);
        EXPECT_EQ(std::memcmp(packet.dataHandle, header, 5), 0);
        EXPECT_EQ(std::memcmp(staging.dataHandle, header, 5), 0);
        EXPECT_EQ(RowBufferSize(context->planes[plane].pixelShift, 100), rowBufferSizes[plane]);
        for (const LineState* line :
             {&context->planes[plane].previousLine, &context->planes[plane].currentLine}) {
            EXPECT_EQ(line->subLine, -1);
            EXPECT_EQ(line->blankFlag, kLineIsBlank);
            EXPECT_EQ(line->rowNumber, 0);
            EXPECT_EQ(line->firstInkByte, 0);
        }
    }
    EXPECT_EQ(context->pendingBlankRows, 0);
    EXPECT_EQ(context->pendingCompletion, 0);
    EXPECT_EQ(context->pageHeaderState, 0);
    EXPECT_EQ(context->lastInkSelection, 0);
    EXPECT_EQ(StateOf(handle), 3);
    OutputClose(&handle);
}

TEST(PageSetup, RowBufferSizes) {
    EXPECT_EQ(RowBufferSize(3, 100), 14);
    EXPECT_EQ(RowBufferSize(2, 100), 26);
    EXPECT_EQ(RowBufferSize(1, 100), 51);
    EXPECT_EQ(RowBufferSize(3, 5), 2);
    EXPECT_EQ(RowBufferSize(3, 0), 1);
    EXPECT_EQ(RowBufferSize(1, 32767), 16385);
}

TEST(PageSetup, LinesPerRowFollowResolutionAndFormFeedFlag) {
    const struct {
        std::int16_t resolution, formFeed, expected;
    } cases[] = {{300, 0, 8}, {600, 0, 16}, {360, 0, 1}, {0, 0, 1}, {600, 1, 8}, {360, 1, 8}};
    for (const auto& c : cases) {
        OutputHandle handle = OpenJob(20, 0, 64);
        PageParams page = MakePage(c.resolution, 0, 0, 0, c.formFeed);
        ASSERT_EQ(OutputInitPart(&handle, &page), kOk);
        EXPECT_EQ(ContextOf(handle)->linesPerRow, c.expected) << c.resolution;
        EXPECT_EQ(ContextOf(handle)->formFeedMode, c.formFeed);
        OutputClose(&handle);
    }
}

TEST(PageSetup, RefusedOutOfOrderAndWithoutRecord) {
    OutputHandle handle = OpenJob(20, 0, 64);
    PageParams page = MakePage(300);
    EXPECT_EQ(OutputInitPart(&handle, nullptr), kFailed);
    EXPECT_EQ(StateOf(handle), 2);
    ASSERT_EQ(OutputInitPart(&handle, &page), kOk);
    EXPECT_EQ(OutputInitPart(&handle, &page), kNotNow);  // no page end in between
    OutputClose(&handle);
}

TEST(PageSetup, FailedAllocationLeavesNothingBehindAndARetryWorks) {
    // Sixteen planes: 48 blocks; fail each in turn.
    for (int failing = 1; failing <= 48; ++failing) {
        OutputHandle handle = OpenJob(0, 26, 200);
        const std::int64_t before = testheap::LiveBlocks();
        PageParams page = MakePage(600);
        testheap::FailAllocation(failing);
        EXPECT_EQ(OutputInitPart(&handle, &page), kNoMemory) << failing;
        testheap::Reset();
        EXPECT_EQ(testheap::LiveBlocks(), before) << failing;
        EXPECT_EQ(StateOf(handle), 2);
        EXPECT_EQ(ContextOf(handle)->planeCount, 0);
        ASSERT_EQ(OutputInitPart(&handle, &page), kOk);
        EXPECT_EQ(ContextOf(handle)->planeCount, 16);
        OutputClose(&handle);
        EXPECT_EQ(testheap::LiveBlocks(), 0);
    }
}

TEST(PageSetup, FormFeedJobSetsUpItsFirstPageAndRearmsTheNext) {
    OutputHandle handle = OpenJob(10, 0, 64, 1);
    EXPECT_EQ(StateOf(handle), 10);
    PageParams page = MakePage(600);  // the form-feed job decides lines per row
    ASSERT_EQ(OutputInitPart(&handle, &page), kOk);
    EXPECT_EQ(StateOf(handle), 11);
    EXPECT_EQ(ContextOf(handle)->planeCount, 4);
    EXPECT_EQ(ContextOf(handle)->linesPerRow, 8);
    EXPECT_EQ(ContextOf(handle)->formFeedMode, 1);
    Bytes stream;
    std::vector<PlaneLine> planes(4);
    planes[0].pixels = {0x15, 0x00};
    planes[0].end = 8;
    ASSERT_EQ(SendLine(&handle, 3, planes, &stream), kOk);
    ASSERT_EQ(FeedPage(&handle, 8, &stream), kOk);
    EXPECT_EQ(StateOf(handle), 10);
    const std::int64_t blocks = testheap::LiveBlocks();
    ASSERT_EQ(OutputInitPart(&handle, &page), kOk);
    EXPECT_EQ(testheap::LiveBlocks(), blocks);  // nothing allocated by the re-arm
    EXPECT_EQ(StateOf(handle), 11);
    const OutputContext* context = ContextOf(handle);
    for (int plane = 0; plane < 4; ++plane) {
        EXPECT_EQ(context->planes[plane].previousLine.subLine, -1);
        EXPECT_EQ(context->planes[plane].packetChain.usedLength, 5);
    }
    OutputClose(&handle);
    EXPECT_EQ(testheap::LiveBlocks(), 0);
}

}  // namespace
}  // namespace inkrow
