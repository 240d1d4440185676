// Contexts are independent: many jobs in different print modes, normal and form-feed,
// run at once on several threads, each thread keeping several contexts open and taking
// turns between them in a random order, must give every job the very stream it gives
// when it runs alone. The module links as the shared library with the platform heap, as
// a caller gets it; the ThreadSanitizer build runs this test to find any state two
// contexts share.
#include <gtest/gtest.h>

#include <algorithm>
#include <barrier>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "job_driver.h"
#include "test_seed.h"

using namespace jobdriver;

namespace {

// Print modes that exist (quality, media): photo, CMYK, sixteen inks, draft, fine,
// glossy, matte, plain.
constexpr std::int16_t kModes[][2] = {{20, 3},  {10, 7},  {0, 26},  {10, 1}, {5, 7},
                                      {15, 27}, {10, 18}, {15, 29}, {30, 2}, {5, 1}};
constexpr std::int16_t kResolutions[] = {300, 600, 360};

struct JobPlan {
    std::int16_t quality = 0, media = 0, width = 0;
    std::int16_t formFeed = 0;  // 1: the form-feed page cycle
    std::int16_t resolution = 300;
    std::int16_t blackOnly = 0, kForBlack = 0;
    int pages = 1;
    int lines = 0;         // lines sent per page
    std::int32_t gap = 0;  // blank lines skipped in the middle of a page
    std::uint64_t contentSeed = 0;
};

std::string Describe(const JobPlan& plan) {
    return "quality " + std::to_string(plan.quality) + " media " + std::to_string(plan.media) +
           " width " + std::to_string(plan.width) + (plan.formFeed ? " form-feed" : "") +
           (plan.blackOnly ? " black-only" : "") + " at " + std::to_string(plan.resolution);
}

// One job driven a step at a time (a whole line, a page's end), so that a thread can take
// turns between several open jobs. Every call must succeed.
struct JobRun {
    JobPlan plan;
    OutputHandle handle = nullptr;
    int page = -1;  // -1 before the job's setup
    int line = 0;
    bool done = false;
    Bytes stream;
    std::string failure;

    void Fail(const std::string& what, std::int16_t result) {
        failure = Describe(plan) + ": " + what + " gave " +
                  std::to_string(static_cast<std::uint16_t>(result));
        OutputClose(&handle);
        done = true;
    }

    // Every plane entry gets a line long enough for four bits per pixel, the most any
    // configuration reads; its content depends only on the job, the page and the line.
    void SendNextLine() {
        std::mt19937_64 random(plan.contentSeed ^ (std::uint64_t(page) << 40) ^
                               std::uint64_t(line) * 0x9E3779B97F4A7C15ull);
        const std::size_t bytes = (std::size_t(plan.width) * 4 + 7) / 8;
        std::vector<PlaneLine> planes(OUTPUT_MAX_BAND_PLANES);
        for (PlaneLine& plane : planes) {
            plane.pixels.assign(bytes, 0);
            const unsigned kind = random() % 4;
            for (std::uint8_t& value : plane.pixels) {
                const std::uint64_t r = random();
                value = kind == 0   ? 0
                        : kind == 1 ? static_cast<std::uint8_t>(r)
                        : kind == 2 ? static_cast<std::uint8_t>((r & 7) == 0 ? r >> 8 : 0)
                                    : 0xFF;
            }
            // The span: the whole line, or a stretch inside it.
            plane.end = plan.width;
            if (random() % 3 == 0 && plan.width > 2) {
                plane.start = static_cast<std::int16_t>(random() % (plan.width / 2));
                plane.trail = static_cast<std::int16_t>(random() % (plan.width / 2));
            }
        }
        const std::int32_t lineNumber = line < plan.lines / 2 ? line : line + plan.gap;
        const std::int16_t result = SendLine(&handle, lineNumber, planes, &stream);
        if (result != OUTPUT_OK) return Fail("line " + std::to_string(lineNumber), result);
        ++line;
    }

    void Step() {
        if (done) return;
        if (page < 0) {
            const std::int16_t opened = OutputOpen(&handle);
            if (opened != OUTPUT_OPENED) return Fail("OutputOpen", opened);
            const JobParams job = MakeJob(plan.quality, plan.media, plan.width, plan.formFeed);
            const std::int16_t result = OutputInitTwo(&handle, &job, OUTPUT_JOB_PARAMS_VERSION);
            if (result != OUTPUT_OK) return Fail("OutputInitTwo", result);
            page = 0;
            line = -1;
            return;
        }
        if (line < 0) {
            const PageParams setup =
                MakePage(plan.resolution, plan.blackOnly, plan.kForBlack, 0, plan.formFeed);
            const std::int16_t result = OutputInitPart(&handle, &setup);
            if (result != OUTPUT_OK) return Fail("OutputInitPart", result);
            line = 0;
            return;
        }
        if (line < plan.lines) return SendNextLine();
        const std::int16_t ended = plan.formFeed != 0
                                       ? FeedPage(&handle, plan.lines + plan.gap, &stream)
                                       : EndPage(&handle, &stream);
        if (ended != OUTPUT_OK) return Fail("the end of page " + std::to_string(page), ended);
        ++page;
        line = -1;
        if (page < plan.pages) return;
        if (plan.formFeed != 0) {
            const std::int16_t flushed = EndPage(&handle, &stream);
            if (flushed != OUTPUT_OK) return Fail("the end of the job", flushed);
        }
        OutputClose(&handle);
        done = true;
    }
};

// Jobs in every mode of the table, normal and form-feed, both row heights, black only
// now and then; narrow and short enough that the test stays quick under ThreadSanitizer.
std::vector<JobPlan> MakeJobs(std::uint64_t seed, int count) {
    std::mt19937_64 random(seed);
    std::vector<JobPlan> jobs;
    for (int i = 0; i < count; ++i) {
        JobPlan plan;
        const auto& mode = kModes[i % std::size(kModes)];
        plan.quality = mode[0];
        plan.media = mode[1];
        plan.width = static_cast<std::int16_t>(16 + random() % 300);
        plan.formFeed = (i / std::size(kModes)) % 2 == 1 || random() % 4 == 0 ? 1 : 0;
        plan.resolution = kResolutions[random() % std::size(kResolutions)];
        plan.blackOnly = random() % 5 == 0 ? 1 : 0;
        plan.kForBlack = random() % 3 == 0 ? 1 : 0;
        plan.pages = 1 + static_cast<int>(random() % 3);
        plan.lines = 8 + static_cast<int>(random() % 40);
        plan.gap = static_cast<std::int32_t>(random() % 3 == 0 ? random() % 200 : 0);
        plan.contentSeed = random();
        jobs.push_back(plan);
    }
    return jobs;
}

Bytes RunAlone(const JobPlan& plan, std::string* failure) {
    JobRun run;
    run.plan = plan;
    while (!run.done)
        run.Step();
    *failure = run.failure;
    return run.stream;
}

TEST(ContextsOnThreads, EveryStreamIsTheOneItsJobGivesAlone) {
    const std::uint32_t seed = testseed::TestSeed(20261209);
    SCOPED_TRACE(testseed::SeedNote(seed));
    constexpr int kThreads = 4;
    constexpr int kJobsPerThread = 6;
    const std::vector<JobPlan> plans = MakeJobs(seed, kThreads * kJobsPerThread);

    std::vector<Bytes> alone;
    for (const JobPlan& plan : plans) {
        std::string failure;
        alone.push_back(RunAlone(plan, &failure));
        ASSERT_TRUE(failure.empty()) << failure;
        ASSERT_FALSE(alone.back().empty()) << Describe(plan);
    }

    // Thread t runs jobs t, t + kThreads, ... all open at once, taking a step of a job
    // drawn at random each time; the threads start together.
    std::vector<JobRun> runs(plans.size());
    for (std::size_t j = 0; j < plans.size(); ++j)
        runs[j].plan = plans[j];
    std::barrier start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 order(static_cast<std::uint32_t>(seed) + static_cast<std::uint32_t>(t));
            std::vector<JobRun*> open;
            for (std::size_t j = static_cast<std::size_t>(t); j < runs.size(); j += kThreads)
                open.push_back(&runs[j]);
            start.arrive_and_wait();
            while (!open.empty()) {
                const std::size_t pick = order() % open.size();
                open[pick]->Step();
                if (open[pick]->done) open.erase(open.begin() + static_cast<std::ptrdiff_t>(pick));
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    for (std::size_t j = 0; j < runs.size(); ++j) {
        EXPECT_TRUE(runs[j].failure.empty()) << runs[j].failure;
        EXPECT_TRUE(runs[j].stream == alone[j])
            << "job " << j << " (" << Describe(plans[j]) << ") sent " << runs[j].stream.size()
            << " bytes among the threads, " << alone[j].size() << " alone";
    }
}

}  // namespace
