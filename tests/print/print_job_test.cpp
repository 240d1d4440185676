// The print layer's page loop against the render stage it drives: the same pages give
// the same bytes as a RenderJob fed by hand, and each of its rules (page changes, page
// ranges, cancelling, pages cut short, refused headers and resolutions) holds.
#include <cups/raster.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "inkrow/print.h"
#include "inkrow/raster_header.h"
#include "test_seed.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

int Append(void* context, const std::uint8_t* bytes, std::size_t length) {
    static_cast<Bytes*>(context)->insert(static_cast<Bytes*>(context)->end(), bytes,
                                         bytes + length);
    return 0;
}

struct Page {
    int width;
    int height;
    int colorSpace;
    int resolution;
    Bytes pixels;
};

Page MakePage(int width, int height, int colorSpace, int resolution, std::mt19937* random) {
    Page page{width, height, colorSpace, resolution, {}};
    page.pixels.resize(static_cast<std::size_t>(width) * height * colorSpace);
    for (std::uint8_t& value : page.pixels)
        value = static_cast<std::uint8_t>((*random)() & 0xFF);
    return page;
}

// The stream of RenderJobs fed by hand: one job per run of pages of one layout.
Bytes ByHand(const std::vector<Page>& pages) {
    Bytes stream;
    RenderJob* job = nullptr;
    const Page* previous = nullptr;
    for (const Page& page : pages) {
        if (previous == nullptr || previous->width != page.width ||
            previous->colorSpace != page.colorSpace || previous->resolution != page.resolution) {
            if (job != nullptr) {
                EXPECT_EQ(RenderJobClose(job), RENDER_OK);
            }
            RenderJobOptions options;
            RenderJobOptionsInit(&options);
            options.raster.mode.resolution = page.resolution;
            options.raster.width = page.width;
            options.raster.colorSpace = page.colorSpace;
            options.write = Append;
            options.writeContext = &stream;
            EXPECT_EQ(RenderJobOpen(&options, &job), RENDER_OK);
        }
        previous = &page;
        EXPECT_EQ(RenderJobStartPage(job), RENDER_OK);
        const std::size_t line = static_cast<std::size_t>(page.width) * page.colorSpace;
        for (int y = 0; y < page.height; ++y)
            EXPECT_EQ(RenderJobWriteLine(job, page.pixels.data() + y * line, line), RENDER_OK);
        EXPECT_EQ(RenderJobEndPage(job), RENDER_OK);
    }
    if (job != nullptr) {
        EXPECT_EQ(RenderJobClose(job), RENDER_OK);
    }
    return stream;
}

struct PrintRun {
    Bytes stream;
    int status = RENDER_OK;
    std::string error;
    int printed = 0;
};

// Pushes the pages through a PrintJob; cancelAfter lines in all, when not negative.
PrintRun Pushed(const std::vector<Page>& pages, PrintJobOptions options, long cancelAfter = -1) {
    PrintRun run;
    struct Cancel {
        long lines;
    } cancel{cancelAfter};
    options.write = Append;
    options.writeContext = &run.stream;
    if (cancelAfter >= 0) {
        options.cancel = [](void* context) {
            return static_cast<Cancel*>(context)->lines-- <= 0 ? 1 : 0;
        };
        options.cancelContext = &cancel;
    }
    PrintJob* job = nullptr;
    EXPECT_EQ(PrintJobOpen(&options, &job), RENDER_OK);
    for (const Page& page : pages) {
        const PrintPage described{
            page.width,      page.height, page.colorSpace,
            page.resolution, 0,           static_cast<std::size_t>(page.width) * page.colorSpace};
        if (PrintJobStartPage(job, &described) < 0) break;
        bool failed = false;
        for (int y = 0; y < page.height && !failed; ++y)
            failed = PrintJobPushLine(job, page.pixels.data() + y * described.lineBytes,
                                      described.lineBytes) != RENDER_OK;
        if (failed || PrintJobEndPage(job) != RENDER_OK) break;
    }
    run.status = PrintJobFinish(job);
    run.error = PrintJobErrorText(job);
    run.printed = PrintJobPagesPrinted(job);
    EXPECT_EQ(PrintJobClose(job), run.status);
    return run;
}

PrintJobOptions Defaults() {
    PrintJobOptions options;
    PrintJobOptionsInit(&options);
    return options;
}

TEST(PrintJob, PrintsWhatARenderJobPrintsAndStartsAFreshOneOnAPageChange) {
    const std::uint32_t seed = testseed::TestSeed(20);
    SCOPED_TRACE(testseed::SeedNote(seed));
    std::mt19937 random(seed);
    const std::vector<Page> pages = {
        MakePage(301, 40, RENDER_RGB8, 600, &random),  MakePage(301, 33, RENDER_RGB8, 600, &random),
        MakePage(200, 20, RENDER_RGB8, 600, &random),   // narrower
        MakePage(200, 20, RENDER_GRAY8, 600, &random),  // other colours
        MakePage(200, 20, RENDER_GRAY8, 300, &random),  // other resolution
    };
    const PrintRun run = Pushed(pages, Defaults());
    EXPECT_EQ(run.status, RENDER_OK) << run.error;
    EXPECT_EQ(run.printed, 5);
    EXPECT_EQ(run.stream, ByHand(pages));
}

TEST(PrintJob, PrintsOnlyThePageRange) {
    std::mt19937 random(3);
    const std::vector<Page> pages = {MakePage(64, 9, RENDER_CMYK8, 300, &random),
                                     MakePage(64, 9, RENDER_CMYK8, 300, &random),
                                     MakePage(64, 9, RENDER_CMYK8, 300, &random)};
    PrintJobOptions options = Defaults();
    options.firstPage = 2;
    options.lastPage = 2;
    const PrintRun run = Pushed(pages, options);
    EXPECT_EQ(run.status, RENDER_OK) << run.error;
    EXPECT_EQ(run.printed, 1);
    EXPECT_EQ(run.stream, ByHand({pages[1]}));
}

TEST(PrintJob, EveryRefusalStopsTheJobWithItsWords) {
    std::mt19937 random(4);
    struct Case {
        const char* name;
        std::vector<Page> pages;
        PrintJobOptions options;
        long cancelAfter;
        int status;
        const char* words;
    };
    PrintJobOptions badMode = Defaults();
    badMode.mode.qualityCode = 30;
    badMode.mode.mediaCode = 7;
    const Page small = MakePage(16, 4, RENDER_GRAY8, 600, &random);
    const Case cases[] = {
        {"720 dpi",
         {MakePage(16, 4, RENDER_GRAY8, 720, &random)},
         Defaults(),
         -1,
         RENDER_BAD_ARGUMENT,
         "page 1: a resolution of 720x720 dpi is not supported"},
        {"no print mode",
         {small},
         badMode,
         -1,
         RENDER_UNSUPPORTED_MODE,
         "quality 30 with media 7: unsupported print mode"},
        {"cancel",
         {small, small},
         Defaults(),
         6,
         RENDER_CANCELED,
         "canceled on page 2 after 0 of 4 lines"},
        {"too wide",
         {MakePage(RENDER_MAX_WIDTH + 1, 1, RENDER_GRAY8, 600, &random)},
         Defaults(),
         -1,
         RENDER_BAD_WIDTH,
         "page 1: 32768x1 pixels is out of range"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PrintRun run = Pushed(c.pages, c.options, c.cancelAfter);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.error.find(c.words), std::string::npos) << run.error;
    }
}

TEST(PrintJob, APageCutShortIsAnErrorAndTheStreamStaysWhole) {
    PrintJobOptions options = Defaults();
    Bytes stream;
    options.write = Append;
    options.writeContext = &stream;
    PrintJob* job = nullptr;
    ASSERT_EQ(PrintJobOpen(&options, &job), RENDER_OK);
    const PrintPage page{8, 5, RENDER_GRAY8, 600, 0, 8};
    ASSERT_EQ(PrintJobStartPage(job, &page), 1);
    const Bytes line(8, 0);
    for (int y = 0; y < 3; ++y)
        ASSERT_EQ(PrintJobPushLine(job, line.data(), line.size()), RENDER_OK);
    EXPECT_EQ(PrintJobPushLine(job, line.data(), 7), RENDER_BAD_LINE);
    EXPECT_NE(std::string(PrintJobErrorText(job)).find("page 1: a line of 7 bytes, not 8"),
              std::string::npos);
    EXPECT_EQ(PrintJobEndPage(job), RENDER_BAD_LINE);  // the first failure stays
    EXPECT_EQ(PrintJobClose(job), RENDER_BAD_LINE);
    EXPECT_FALSE(stream.empty());

    ASSERT_EQ(PrintJobOpen(&options, &job), RENDER_OK);
    ASSERT_EQ(PrintJobStartPage(job, &page), 1);
    ASSERT_EQ(PrintJobPushLine(job, line.data(), line.size()), RENDER_OK);
    EXPECT_EQ(PrintJobEndPage(job), RENDER_BAD_LINE);
    EXPECT_STREQ(PrintJobErrorText(job),
                 "page 1 ended after 1 of its 5 lines (the document is truncated)");
    EXPECT_EQ(PrintJobClose(job), RENDER_BAD_LINE);
}

TEST(PrintJob, ARasterHeaderIsReadByTheOnePolicy) {
    std::mt19937 random(5);
    const Page gray = MakePage(24, 6, RENDER_GRAY8, 300, &random);
    cups_page_header2_t header{};
    header.cupsWidth = 24;
    header.cupsHeight = 6;
    header.cupsBitsPerColor = 8;
    header.cupsBitsPerPixel = 8;
    header.cupsBytesPerLine = 24;
    header.cupsColorSpace = CUPS_CSPACE_K;
    header.cupsColorOrder = CUPS_ORDER_BANDED;  // one channel: any order
    header.HWResolution[0] = header.HWResolution[1] = 300;
    // K is ink: the job inverts it, so the ink of 255 - gray prints as the gray page.
    Bytes stream;
    PrintJobOptions options = Defaults();
    options.write = Append;
    options.writeContext = &stream;
    PrintJob* job = nullptr;
    ASSERT_EQ(PrintJobOpen(&options, &job), RENDER_OK);
    ASSERT_EQ(PrintJobStartRasterPage(job, &header), 1);
    Bytes line(24);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 24; ++x)
            line[x] = static_cast<std::uint8_t>(255 - gray.pixels[y * 24 + x]);
        ASSERT_EQ(PrintJobPushLine(job, line.data(), line.size()), RENDER_OK);
    }
    ASSERT_EQ(PrintJobEndPage(job), RENDER_OK);
    ASSERT_EQ(PrintJobClose(job), RENDER_OK);
    EXPECT_EQ(stream, ByHand({gray}));

    header.cupsBitsPerColor = 16;
    header.cupsBitsPerPixel = 16;
    ASSERT_EQ(PrintJobOpen(&options, &job), RENDER_OK);
    EXPECT_EQ(PrintJobStartRasterPage(job, &header), RENDER_BAD_ARGUMENT);
    EXPECT_STREQ(PrintJobErrorText(job),
                 "page 1: 16-bit colour is not supported: only 8 bits per colour");
    EXPECT_EQ(PrintJobClose(job), RENDER_BAD_ARGUMENT);
}

TEST(PrintJob, AFailedWriteFailsTheJob) {
    std::mt19937 random(6);
    PrintJobOptions options = Defaults();
    options.write = [](void*, const std::uint8_t*, std::size_t) { return 1; };
    PrintJob* job = nullptr;
    ASSERT_EQ(PrintJobOpen(&options, &job), RENDER_OK);
    const Page page = MakePage(16, 64, RENDER_GRAY8, 600, &random);
    const PrintPage described{16, 64, RENDER_GRAY8, 600, 0, 16};
    int status = PrintJobStartPage(job, &described);
    for (int y = 0; y < 64 && status >= 0; ++y)
        status = PrintJobPushLine(job, page.pixels.data() + y * 16, 16);
    if (status >= 0) status = PrintJobEndPage(job);
    EXPECT_EQ(PrintJobClose(job), RENDER_WRITE_FAILED);
    EXPECT_EQ(PrintJobOpen(nullptr, &job), RENDER_BAD_ARGUMENT);
    options.copies = 0;
    EXPECT_EQ(PrintJobOpen(&options, &job), RENDER_BAD_ARGUMENT);
}

}  // namespace
