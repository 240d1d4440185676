// inkrow-page's job (job.h).
#include "job.h"

#include <cstdio>
#include <vector>

#include "inkrow/output.h"
#include "modes.h"

namespace inkrow::page {

namespace {

std::string PageTitle(int page, int pages) {
    std::string title = "INKROW TEST PAGE";
    if (pages > 1) title += "  " + std::to_string(page + 1) + " OF " + std::to_string(pages);
    return title;
}

bool Expect(int16_t result, int16_t wanted, const char* call, int page, int line) {
    if (result == wanted) return true;
    if (line >= 0)
        std::fprintf(stderr, "inkrow-page: %s on page %d, line %d returned %s (0x%04X)\n", call,
                     page + 1, line, RenderOutputResultText(result),
                     static_cast<unsigned>(result) & 0xFFFFu);
    else if (page >= 0)
        std::fprintf(stderr, "inkrow-page: %s on page %d returned %s (0x%04X)\n", call, page + 1,
                     RenderOutputResultText(result), static_cast<unsigned>(result) & 0xFFFFu);
    else
        std::fprintf(stderr, "inkrow-page: %s returned %s (0x%04X)\n", call,
                     RenderOutputResultText(result), static_cast<unsigned>(result) & 0xFFFFu);
    return false;
}

// A producing call and its completion, with the list sent in between.
bool ProduceAndComplete(OutputHandle* handle, int16_t produced, void* list, const char* call,
                        int page, int line, Sink* sink, JobResult* result,
                        Clock::time_point started) {
    result->moduleSeconds += SecondsSince(started);
    if (!Expect(produced, OUTPUT_OK, call, page, line)) return false;
    if (!SendSegments(list, sink)) return false;
    const Clock::time_point completing = Clock::now();
    const int16_t completed = OutputComplete(handle);
    result->moduleSeconds += SecondsSince(completing);
    return Expect(completed, OUTPUT_OK, "OutputComplete", page, line);
}

bool RunPages(OutputHandle* handle, const Job& job, const Options& options, Sink* sink,
              JobResult* result) {
    const int16_t formFeed = PageFlag(options.formFeed);
    JobParams jobParams{};
    jobParams.mediaCode = static_cast<int16_t>(options.mode.media);
    jobParams.qualityCode = static_cast<int16_t>(options.mode.quality);
    jobParams.pixelWidth = static_cast<int16_t>(job.width);
    jobParams.formFeedFlag = formFeed;
    Clock::time_point started = Clock::now();
    int16_t code = OutputInitTwo(handle, &jobParams, OUTPUT_JOB_PARAMS_VERSION);
    result->moduleSeconds += SecondsSince(started);
    if (!Expect(code, OUTPUT_OK, "OutputInitTwo", -1, -1)) return false;

    PageParams pageParams{};
    pageParams.blackOnly = PageFlag(options.mode.blackOnly);
    pageParams.resolution = static_cast<int16_t>(options.resolution);
    pageParams.formFeedFlag = formFeed;
    pageParams.kForBlack = PageFlag(options.mode.kForBlack);
    pageParams.keepColor = PageFlag(options.mode.keepColor);

    const testpage::PlaneSetup& setup = job.setup;
    std::vector<std::vector<std::uint8_t>> lines(static_cast<std::size_t>(setup.count));
    for (int i = 0; i < setup.count; ++i)
        lines[i].resize(testpage::LineBytes(job.width, setup.planes[i].bitsPerPixel));
    std::vector<std::uint8_t> levels(static_cast<std::size_t>(job.width));

    for (int page = 0; page < options.pages; ++page) {
        const testpage::Page drawing = BuildJobPage(job, options, page);
        started = Clock::now();
        code = OutputInitPart(handle, &pageParams);
        result->moduleSeconds += SecondsSince(started);
        if (!Expect(code, OUTPUT_OK, "OutputInitPart", page, -1)) return false;

        int lastInked = -1;
        for (int y = 0; y < job.height; ++y) {
            // The module works on the lines in place, so each is drawn afresh.
            const Clock::time_point drawing0 = Clock::now();
            RasterBand band{};
            band.lineNumber = y;
            for (int i = 0; i < setup.count; ++i) {
                BandPlane& plane = band.bandPlanes[i];
                plane.end = static_cast<int16_t>(job.width);
                if (!testpage::RenderLevels(drawing, y, i, levels.data())) {
                    plane.start = plane.end;  // and pixels stays null: nothing on this line
                    continue;
                }
                const int first = testpage::PackLevels(
                    levels.data(), job.width, setup.planes[i].bitsPerPixel, lines[i].data());
                plane.pixels = lines[i].data();
                plane.start = static_cast<int16_t>(first);
                plane.trail = 0;
                result->rasterBytes += lines[i].size();
                lastInked = y;
            }
            result->renderSeconds += SecondsSince(drawing0);

            void* list = nullptr;
            started = Clock::now();
            code = OutputProduceTwo(handle, &band, &list);
            if (!ProduceAndComplete(handle, code, list, "OutputProduceTwo", page, y, sink, result,
                                    started))
                return false;
            ++result->lines;
        }
        result->lastInkedLine.push_back(lastInked);

        void* list = nullptr;
        started = Clock::now();
        if (options.formFeed) {
            // Rows at and after the limit are dropped: give the whole last row.
            const int limit =
                (job.height + job.linesPerRow - 1) / job.linesPerRow * job.linesPerRow;
            code = OutputFormFeed(handle, &list, limit);
            if (!ProduceAndComplete(handle, code, list, "OutputFormFeed", page, -1, sink, result,
                                    started))
                return false;
        } else {
            code = OutputFlush(handle, &list);
            if (!ProduceAndComplete(handle, code, list, "OutputFlush", page, -1, sink, result,
                                    started))
                return false;
        }
    }
    if (options.formFeed) {
        void* list = nullptr;
        started = Clock::now();
        code = OutputFlush(handle, &list);
        if (!ProduceAndComplete(handle, code, list, "OutputFlush (end of job)", -1, -1, sink,
                                result, started))
            return false;
    }
    return true;
}

}  // namespace

testpage::Page BuildJobPage(const Job& job, const Options& options, int page) {
    return testpage::BuildPage(job.setup, job.width, job.height, options.resolution,
                               PageTitle(page, options.pages), job.subtitle);
}

bool RunJob(const Job& job, const Options& options, Sink* sink, JobResult* result) {
    OutputHandle handle = nullptr;
    const Clock::time_point started = Clock::now();
    const int16_t opened = OutputOpen(&handle);
    result->moduleSeconds += SecondsSince(started);
    if (!Expect(opened, OUTPUT_OPENED, "OutputOpen", -1, -1)) return false;
    const bool ok = RunPages(&handle, job, options, sink, result);
    const Clock::time_point closing = Clock::now();
    OutputClose(&handle);
    result->moduleSeconds += SecondsSince(closing);
    if (ok && handle != nullptr) {
        std::fputs("inkrow-page: OutputClose left the handle set\n", stderr);
        return false;
    }
    return ok;
}

void PrintConfiguration(const Job& job, const Options& options) {
    std::printf("print mode: quality %ld, media %ld: ink set %d (%s), %s: %s\n",
                options.mode.quality, options.mode.media, job.mode.inkSetId,
                DescribeInks(job.mode).c_str(),
                Count(static_cast<std::uint64_t>(job.mode.printerPlanes), "plane").c_str(),
                DescribeFormats(job.mode).c_str());
    std::printf("page: %d x %d pixels at %d dpi (A4), %d lines per row, %d page%s%s\n", job.width,
                job.height, options.resolution, job.linesPerRow, options.pages,
                options.pages == 1 ? "" : "s", options.formFeed ? ", form-feed job" : "");
}

}  // namespace inkrow::page
