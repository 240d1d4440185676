#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

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
CallState* StateOf(OutputHandle handle) {
    return static_cast<CallState*>(ContextOf(handle)->stateHandle);
}

TEST(Lifecycle, OpenWithNullOutAllocatesNothing) {
    testheap::Reset();
    EXPECT_EQ(OutputOpen(nullptr), kOpenFailed);
    EXPECT_EQ(testheap::Allocations(), 0);
}

TEST(Lifecycle, OpenStartsInStateOneWithNothingConfigured) {
    OutputHandle handle = nullptr;
    ASSERT_EQ(OutputOpen(&handle), kOpened);
    OutputContext* context = ContextOf(handle);
    EXPECT_EQ(StateOf(handle)->state, kStateOpened);
    EXPECT_EQ(StateOf(handle)->mode, kModeNormal);
    EXPECT_EQ(context->planeCount, 0);
    EXPECT_EQ(context->ringDepth, 0);
    EXPECT_EQ(context->linesPerRow, 0);
    for (int plane = 0; plane < kMaxPlanes; ++plane) {
        EXPECT_EQ(context->rowBufferHandles[plane], nullptr);
        EXPECT_EQ(context->planes[plane].packetChain.dataHandle, nullptr);
        EXPECT_EQ(context->stagingChains[plane].dataHandle, nullptr);
    }
    EXPECT_EQ(context->controlChain.capacity, 80u);
    // Context, segment list, segment items, control block, state record.
    EXPECT_EQ(testheap::LiveBlocks(), 5);

    void* list = nullptr;
    EXPECT_EQ(OutputComplete(&handle), kNotNow);
    EXPECT_EQ(OutputProduce(&handle), kNotNow);
    EXPECT_EQ(OutputFlush(&handle, &list), kNotNow);
    EXPECT_EQ(OutputFormFeed(&handle, &list, 8), kNever);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(OutputInit(), kFailed);
    OutputClose(&handle);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(testheap::LiveBlocks(), 0);
    OutputClose(&handle);  // harmless a second time
    OutputClose(nullptr);
}

TEST(Lifecycle, OpenReleasesEverythingWhenAnyAllocationFails) {
    for (int failing = 1; failing <= 5; ++failing) {
        OutputHandle handle = reinterpret_cast<OutputHandle>(0x1);
        testheap::FailAllocation(failing);
        EXPECT_EQ(OutputOpen(&handle), kOpenFailed) << failing;
        testheap::Reset();
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(testheap::LiveBlocks(), 0) << failing;
    }
}

TEST(Lifecycle, NullHandleVariableIsAGeneralFailure) {
    OutputHandle empty = nullptr;
    JobParams job = MakeJob(20, 0, 100);
    PageParams page = MakePage(300);
    RasterBand band{};
    void* list = nullptr;
    for (OutputHandle* address : {static_cast<OutputHandle*>(nullptr), &empty}) {
        EXPECT_EQ(OutputInitTwo(address, &job, 219), kFailed);
        EXPECT_EQ(OutputInitPart(address, &page), kFailed);
        EXPECT_EQ(OutputProduceTwo(address, &band, &list), kFailed);
        EXPECT_EQ(OutputProduce(address), kFailed);
        EXPECT_EQ(OutputComplete(address), kFailed);
        EXPECT_EQ(OutputFlush(address, &list), kFailed);
        EXPECT_EQ(OutputFormFeed(address, &list, 0), kFailed);
        OutputClose(address);
    }
    EXPECT_EQ(list, nullptr);
}

// Steps that take a fresh context into each state a caller can reach, in both modes.
struct Road {
    std::string name;
    int16_t formFeedJob;
    CallStateId expectedState;
    std::function<void(OutputHandle*)> drive;
};

void Line(OutputHandle* handle, int32_t lineNumber, bool complete) {
    std::vector<PlaneLine> planes(4);
    for (auto& plane : planes) {
        plane.pixels = {0xFF, 0x0F, 0x00, 0x81};
        plane.end = 32;
    }
    RasterBand band = MakeBand(lineNumber, planes);
    void* list = nullptr;
    ASSERT_EQ(OutputProduceTwo(handle, &band, &list), kOk);
    if (complete) {
        ASSERT_EQ(OutputComplete(handle), kOk);
    }
}

TEST(Lifecycle, CloseReleasesEveryBlockFromEveryState) {
    auto setUp = [](OutputHandle* handle) {
        PageParams page = MakePage(300);
        ASSERT_EQ(OutputInitPart(handle, &page), kOk);
    };
    auto flush = [](OutputHandle* handle) {
        void* list = nullptr;
        ASSERT_EQ(OutputFlush(handle, &list), kOk);
    };
    auto feed = [](OutputHandle* handle) {
        void* list = nullptr;
        ASSERT_EQ(OutputFormFeed(handle, &list, 64), kOk);
    };
    const std::vector<Road> roads = {
        {"opened", 0, kStateOpened, [](OutputHandle*) {}},
        {"job taken", 0, kStateJobReady, [](OutputHandle*) {}},
        {"page set up", 0, kStatePageOpen, setUp},
        {"band produced", 0, kStateBandSent,
         [&](OutputHandle* h) {
             setUp(h);
             Line(h, 3, false);
         }},
        {"row change produced", 0, kStateBandSent,
         [&](OutputHandle* h) {
             setUp(h);
             Line(h, 3, true);
             Line(h, 40, false);
         }},
        {"band completed", 0, kStatePageOpen,
         [&](OutputHandle* h) {
             setUp(h);
             Line(h, 3, true);
         }},
        {"page end produced", 0, kStatePageEndSent,
         [&](OutputHandle* h) {
             setUp(h);
             Line(h, 3, true);
             flush(h);
         }},
        {"page end completed", 0, kStateJobReady,
         [&](OutputHandle* h) {
             setUp(h);
             Line(h, 3, true);
             flush(h);
             OutputComplete(h);
         }},
        {"form-feed job taken", 1, kStateFormFeedJobReady, [](OutputHandle*) {}},
        {"form-feed page set up", 1, kStateFormFeedPageOpen, setUp},
        {"form-feed band", 1, kStateFormFeedBandSent,
         [&](OutputHandle* h) {
             setUp(h);
             Line(h, 9, false);
         }},
        {"form feed produced", 1, kStateFormFeedSent,
         [&](OutputHandle* h) {
             setUp(h);
             Line(h, 9, true);
             feed(h);
         }},
        {"form feed completed", 1, kStateFormFeedJobReady,
         [&](OutputHandle* h) {
             setUp(h);
             Line(h, 9, true);
             feed(h);
             OutputComplete(h);
         }},
        {"form-feed job flushed", 1, kStateFormFeedFlushSent, flush},
        {"form-feed job ended", 1, kStateFormFeedJobEnded,
         [&](OutputHandle* h) {
             flush(h);
             OutputComplete(h);
         }},
    };
    for (const Road& road : roads) {
        SCOPED_TRACE(road.name);
        OutputHandle handle = nullptr;
        ASSERT_EQ(OutputOpen(&handle), kOpened);
        if (road.expectedState != kStateOpened) {
            JobParams job = MakeJob(20, 0, 32, road.formFeedJob);
            ASSERT_EQ(OutputInitTwo(&handle, &job, 219), kOk);
        }
        road.drive(&handle);
        EXPECT_EQ(StateOf(handle)->state, road.expectedState);
        OutputClose(&handle);
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(testheap::LiveBlocks(), 0);
    }
}

TEST(Lifecycle, PageEndReleasesThePlaneBuffersAndKeepsThePlaneCount) {
    OutputHandle handle = nullptr;
    ASSERT_EQ(OutputOpen(&handle), kOpened);
    JobParams job = MakeJob(20, 0, 32);
    ASSERT_EQ(OutputInitTwo(&handle, &job, 219), kOk);
    PageParams page = MakePage(300);
    ASSERT_EQ(OutputInitPart(&handle, &page), kOk);
    EXPECT_EQ(testheap::LiveBlocks(), 5 + 4 * 3);
    Bytes stream;
    ASSERT_EQ(EndPage(&handle, &stream), kOk);
    OutputContext* context = ContextOf(handle);
    EXPECT_EQ(context->planeCount, 4);
    for (int plane = 0; plane < 4; ++plane) {
        EXPECT_EQ(context->rowBufferHandles[plane], nullptr);
        EXPECT_EQ(context->planes[plane].packetChain.dataHandle, nullptr);
        EXPECT_EQ(context->stagingChains[plane].dataHandle, nullptr);
    }
    EXPECT_EQ(testheap::LiveBlocks(), 5);
    // The next page allocates them again.
    ASSERT_EQ(OutputInitPart(&handle, &page), kOk);
    EXPECT_EQ(testheap::LiveBlocks(), 5 + 4 * 3);
    OutputClose(&handle);
    EXPECT_EQ(testheap::LiveBlocks(), 0);
}

}  // namespace
}  // namespace inkrow
