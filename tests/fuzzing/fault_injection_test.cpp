// Out of memory at every allocation of whole jobs. A job first runs with no failure and
// counts its allocations; then, for every k up to that count, it runs again with the
// k-th allocation failing. The call that meets the failure must report it and leave the
// context as it was; the job retries it, as a caller would, and must end with the very
// same command stream and no block left once the context is closed.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "core/call_state.h"
#include "core/context.h"
#include "job_driver.h"
#include "test_heap.h"

using namespace jobdriver;

namespace {

struct PagePlan {
    PageParams page;
    std::vector<std::int32_t> lines;
    std::int32_t formFeedLimit = -1;  // -1: the page ends with OutputFlush
};

struct JobPlan {
    std::string name;
    JobParams job;
    int bandPlanes;  // band entries the configuration reads
    int bitsPerPixel;
    std::vector<PagePlan> pages;
    bool endsWithFlush = false;  // a form-feed job's final OutputFlush
};

void PrintTo(const JobPlan& plan, std::ostream* out) {
    *out << plan.name;
}

// The line content of a plane, the same on every attempt: the module works in the
// caller's lines, so a retried call needs them afresh.
std::vector<PlaneLine> MakeLines(const JobPlan& plan, std::int32_t lineNumber) {
    const int bytes = (plan.job.pixelWidth * plan.bitsPerPixel + 7) / 8;
    std::vector<PlaneLine> planes(plan.bandPlanes);
    for (int i = 0; i < plan.bandPlanes; ++i) {
        std::uint32_t random = static_cast<std::uint32_t>(lineNumber * 7919 + i * 104729 + 1);
        const int kind = (lineNumber + i) % 5;
        if (kind == 4) continue;  // null pixels
        PlaneLine& line = planes[i];
        line.pixels.assign(bytes, 0);
        for (int b = 0; b < bytes; ++b) {
            random = random * 1103515245u + 12345u;
            const std::uint8_t value = static_cast<std::uint8_t>(random >> 16);
            if (kind == 0) line.pixels[b] = value;                         // noise
            if (kind == 1) line.pixels[b] = b % 9 < 4 ? 0x5A : 0;          // runs
            if (kind == 2 && b % 13 == 0) line.pixels[b] = value | 1;      // sparse
            if (kind == 3) line.pixels[b] = static_cast<std::uint8_t>(b);  // literals
        }
        line.start = static_cast<std::int16_t>(i % 3);
        line.end = plan.job.pixelWidth;
        line.trail = static_cast<std::int16_t>(i % 2);
    }
    return planes;
}

// What a failing call must leave alone, as far as it is cheap to see.
struct ContextView {
    std::int16_t state = 0, mode = 0;
    std::int16_t pendingCompletion = 0, pageHeaderState = 0, lastInkSelection = 0;
    std::int32_t pendingBlankRows = 0, lastLineNumber = 0;
    std::int32_t rowNumber = 0;
    std::int16_t subLine = 0;
    std::int32_t packetUsed = 0, stagingUsed = 0;
    std::int16_t planeCount = 0;
    bool controlChainEmpty = true;
    std::int64_t liveBlocks = 0;

    bool operator==(const ContextView&) const = default;
};

void PrintTo(const ContextView& view, std::ostream* out) {
    *out << "state " << view.mode << "/" << view.state << ", pendingCompletion "
         << view.pendingCompletion << ", header " << view.pageHeaderState << ", selection "
         << view.lastInkSelection << ", blank rows " << view.pendingBlankRows << ", last line "
         << view.lastLineNumber << ", row " << view.rowNumber << "/" << view.subLine << ", packet "
         << view.packetUsed << ", staging " << view.stagingUsed << ", planes " << view.planeCount
         << ", control chain " << (view.controlChainEmpty ? "empty" : "used") << ", live blocks "
         << view.liveBlocks;
}

ContextView ViewOf(OutputHandle handle) {
    ContextView view;
    view.liveBlocks = testheap::LiveBlocks();
    const auto* context = static_cast<const inkrow::OutputContext*>(handle);
    if (context == nullptr) return view;
    const auto* state = static_cast<const inkrow::CallState*>(context->stateHandle);
    view.state = state->state;
    view.mode = state->mode;
    view.pendingCompletion = context->pendingCompletion;
    view.pageHeaderState = context->pageHeaderState;
    view.lastInkSelection = context->lastInkSelection;
    view.pendingBlankRows = context->pendingBlankRows;
    view.lastLineNumber = context->lastLineNumber;
    view.rowNumber = context->planes[0].previousLine.rowNumber;
    view.subLine = context->planes[0].previousLine.subLine;
    view.packetUsed = context->planes[0].packetChain.usedLength;
    view.stagingUsed = context->stagingChains[0].usedLength;
    view.planeCount = context->planeCount;
    view.controlChainEmpty =
        context->controlChain.nextHandle == nullptr && context->controlChain.usedLength == 0;
    return view;
}

struct JobRun {
    Bytes stream;
    std::int64_t allocations = 0;
    int failedCalls = 0;
};

// Runs `call` until it does not run out of memory; a call that does must have changed
// nothing.
int16_t Retrying(OutputHandle* handle, JobRun* run, const std::function<int16_t()>& call) {
    for (;;) {
        const ContextView before = ViewOf(*handle);
        const int16_t result = call();
        if (result != OUTPUT_NO_MEMORY) return result;
        ++run->failedCalls;
        EXPECT_EQ(ViewOf(*handle), before) << "a call that ran out of memory changed the context";
    }
}

int16_t SendPlannedLine(OutputHandle* handle, const JobPlan& plan, std::int32_t lineNumber,
                        JobRun* run) {
    return Retrying(handle, run, [&] {
        std::vector<PlaneLine> planes = MakeLines(plan, lineNumber);
        RasterBand band = MakeBand(lineNumber, planes);
        void* list = reinterpret_cast<void*>(0x1);
        const int16_t result = OutputProduceTwo(handle, &band, &list);
        if (result == OUTPUT_NO_MEMORY) {
            EXPECT_EQ(list, reinterpret_cast<void*>(0x1)) << "the list variable was written";
            const std::vector<PlaneLine> fresh = MakeLines(plan, lineNumber);
            for (std::size_t i = 0; i < planes.size(); ++i)
                EXPECT_EQ(planes[i].pixels, fresh[i].pixels) << "the caller's line was touched";
            return result;
        }
        if (result != OUTPUT_OK) return result;
        AppendSegments(list, &run->stream);
        return OutputComplete(handle);
    });
}

int16_t EndPlannedPage(OutputHandle* handle, const PagePlan& page, JobRun* run) {
    return Retrying(handle, run, [&] {
        void* list = nullptr;
        const int16_t result = page.formFeedLimit >= 0
                                   ? OutputFormFeed(handle, &list, page.formFeedLimit)
                                   : OutputFlush(handle, &list);
        if (result != OUTPUT_OK) return result;
        AppendSegments(list, &run->stream);
        return OutputComplete(handle);
    });
}

// One whole job; failAt 0 fails nothing. Every call must succeed, after retries.
JobRun RunJob(const JobPlan& plan, std::int64_t failAt) {
    JobRun run;
    testheap::Reset();
    if (failAt > 0) testheap::FailAllocation(failAt);
    OutputHandle handle = nullptr;
    int16_t opened;
    while ((opened = OutputOpen(&handle)) == OUTPUT_OPEN_FAILED) {
        ++run.failedCalls;
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(testheap::LiveBlocks(), 0);
    }
    EXPECT_EQ(opened, OUTPUT_OPENED);
    JobParams job = plan.job;
    EXPECT_EQ(OutputInitTwo(&handle, &job, OUTPUT_JOB_PARAMS_VERSION), OUTPUT_OK);
    for (const PagePlan& page : plan.pages) {
        PageParams params = page.page;
        EXPECT_EQ(Retrying(&handle, &run, [&] { return OutputInitPart(&handle, &params); }),
                  OUTPUT_OK);
        for (std::int32_t line : page.lines)
            EXPECT_EQ(SendPlannedLine(&handle, plan, line, &run), OUTPUT_OK) << "line " << line;
        EXPECT_EQ(EndPlannedPage(&handle, page, &run), OUTPUT_OK);
    }
    if (plan.endsWithFlush) {
        EXPECT_EQ(EndPlannedPage(&handle, PagePlan{}, &run), OUTPUT_OK);
    }
    run.allocations = testheap::Allocations();
    OutputClose(&handle);
    EXPECT_EQ(testheap::LiveBlocks(), 0) << "blocks outlive the context";
    testheap::Reset();
    return run;
}

std::vector<std::int32_t> Lines(std::initializer_list<std::int32_t> lines) {
    return lines;
}

std::vector<JobPlan> Plans() {
    std::vector<JobPlan> plans;
    {
        JobPlan plan{"cmyk-one-bit", MakeJob(20, 3, 64), 4, 1, {}, false};
        plan.pages.push_back({MakePage(300), Lines({0, 1, 2, 5, 8, 9, 23, 24, 31, 200}), -1});
        // One line per row, rows far apart: several skip commands in one call.
        plan.pages.push_back({MakePage(360), Lines({3, 4, 70000, 70001, 140003}), -1});
        plan.pages.push_back({MakePage(600), Lines({}), -1});
        plans.push_back(plan);
    }
    {
        JobPlan plan{"cmykk-converted", MakeJob(10, 7, 100), 5, 2, {}, false};
        plan.pages.push_back({MakePage(600), Lines({0, 7, 15, 16, 17, 40, 41, 63, 64}), -1});
        plan.pages.push_back({MakePage(300, 0, 1), Lines({2, 3, 11, 12, 30}), -1});
        plans.push_back(plan);
    }
    {
        JobPlan plan{"sixteen-planes", MakeJob(0, 26, 40), 6, 4, {}, false};
        plan.pages.push_back({MakePage(300), Lines({0, 1, 9, 10, 30, 31}), -1});
        plan.pages.push_back({MakePage(600), Lines({5, 6, 40}), -1});
        plans.push_back(plan);
    }
    {
        JobPlan plan{"form-feed-job", MakeJob(20, 3, 48, 1), 4, 1, {}, true};
        plan.pages.push_back({MakePage(300), Lines({0, 1, 8, 9, 17, 30}), 24});
        plan.pages.push_back({MakePage(300), Lines({2, 3, 19, 40}), 48});
        plan.pages.push_back({MakePage(300), Lines({0, 16, 33}), 8});
        plans.push_back(plan);
    }
    {
        JobPlan plan{"page-form-feed-flag", MakeJob(10, 1, 33), 5, 2, {}, false};
        plan.pages.push_back({MakePage(600, 0, 0, 0, 1), Lines({0, 4, 8, 12, 13, 50}), -1});
        plan.pages.push_back({MakePage(600), Lines({1, 2, 20}), -1});
        plans.push_back(plan);
    }
    return plans;
}

class FaultInjection : public ::testing::TestWithParam<JobPlan> {};

TEST_P(FaultInjection, EveryAllocationFailingOnceLeavesTheStreamAlone) {
    const JobPlan& plan = GetParam();
    const JobRun clean = RunJob(plan, 0);
    ASSERT_EQ(clean.failedCalls, 0);
    ASSERT_GT(clean.allocations, 5);
    ASSERT_FALSE(clean.stream.empty());
    for (std::int64_t k = 1; k <= clean.allocations; ++k) {
        SCOPED_TRACE("allocation " + std::to_string(k) + " of " +
                     std::to_string(clean.allocations) + " fails");
        const JobRun failing = RunJob(plan, k);
        EXPECT_EQ(failing.failedCalls, 1) << "the failed allocation was not reported once";
        ASSERT_EQ(failing.stream, clean.stream);
        if (HasFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Jobs, FaultInjection, ::testing::ValuesIn(Plans()),
                         [](const ::testing::TestParamInfo<JobPlan>& test) {
                             std::string name = test.param.name;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

}  // namespace
