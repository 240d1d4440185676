// rastertoinkrow as CUPS runs it: a child process reading CUPS raster written with
// libcups. Its stream must decode strictly and equal what RenderJob makes of the same
// lines with the print mode the page headers ask for.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cups_support.h"

namespace cupstest {
namespace {

namespace decode = inkrow::decode;

constexpr unsigned kWidth = 301;  // not a multiple of 8 or 5: partial last bytes
constexpr unsigned kHeight = 90;

struct PrintCase {
    const char* name;
    cups_cspace_t space;
    cups_mode_t rasterMode;
    unsigned dpi, media, printQuality;
    int pages;
    // What the filter must print with.
    int quality;
    int colorSpace;
    bool blackOnly;
    int linesPerRow;
};

const PrintCase kPrintCases[] = {
    {"CmykPlainUnsetQuality", CUPS_CSPACE_CMYK, CUPS_RASTER_WRITE, 300, 0, 0, 3, 10, RENDER_CMYK8,
     false, 8},
    {"CmykCompressedDraftGlossy", CUPS_CSPACE_CMYK, CUPS_RASTER_WRITE_COMPRESSED, 360, 27, 3, 2, 15,
     RENDER_CMYK8, false, 1},
    {"CmykHighPhoto", CUPS_CSPACE_CMYK, CUPS_RASTER_WRITE, 600, 26, 5, 1, 5, RENDER_CMYK8, false,
     16},
    {"SwGrayNormal", CUPS_CSPACE_SW, CUPS_RASTER_WRITE, 600, 0, 4, 2, 10, RENDER_GRAY8, true, 16},
    {"KGrayDraftPlain", CUPS_CSPACE_K, CUPS_RASTER_WRITE_COMPRESSED, 300, 0, 3, 2, 20, RENDER_GRAY8,
     true, 8},
    {"WGrayDraftMatte", CUPS_CSPACE_W, CUPS_RASTER_WRITE, 300, 7, 3, 1, 10, RENDER_GRAY8, true, 8},
    {"SrgbHighMatte", CUPS_CSPACE_SRGB, CUPS_RASTER_WRITE, 360, 7, 5, 1, 5, RENDER_RGB8, false, 1},
    // PWG raster has no media code field: plain paper, and the default quality.
    {"PwgSgray", CUPS_CSPACE_SW, CUPS_RASTER_WRITE_PWG, 600, 0, 0, 2, 10, RENDER_GRAY8, true, 16},
    {"RgbNormalGlossy", CUPS_CSPACE_RGB, CUPS_RASTER_WRITE_COMPRESSED, 300, 27, 4, 2, 10,
     RENDER_RGB8, false, 8},
};

class PrintTest : public testing::TestWithParam<PrintCase> {};

std::vector<Page> MakePages(const cups_page_header2_t& header, int count) {
    std::vector<Page> pages;
    for (int i = 0; i < count; ++i)
        pages.push_back(MakePage(header, i));
    return pages;
}

TEST_P(PrintTest, StreamIsRenderJobsAndDecodes) {
    const PrintCase& c = GetParam();
    const std::vector<Page> pages =
        MakePages(MakeHeader(kWidth, kHeight, c.space, c.dpi, c.media, c.printQuality), c.pages);
    const FilterRun run = RunFilter(WriteRaster(pages, c.rasterMode));
    ASSERT_EQ(run.status, 0) << run.messages;
    EXPECT_EQ(CountMessages(run.messages, "PAGE:"), c.pages) << run.messages;
    EXPECT_EQ(CountMessages(run.messages, "ERROR:"), 0) << run.messages;
    EXPECT_NE(run.messages.find("quality " + std::to_string(c.quality) + " on media " +
                                std::to_string(c.media)),
              std::string::npos)
        << run.messages;

    const RenderJobOptions options =
        MakeOptions(c.quality, static_cast<int>(c.media), static_cast<int>(c.dpi), kWidth,
                    c.colorSpace, c.blackOnly);
    EXPECT_TRUE(run.stream == RenderDirect(options, pages))
        << "the stream differs from RenderJob's";

    RenderMode mode;
    ASSERT_EQ(RenderDescribeMode(&options.raster.mode, &mode), RENDER_OK);
    const decode::Decoded decoded = DecodeOrFail(run.stream, WidestLineBytes(mode, kWidth));
    ASSERT_EQ(decoded.pages.size(), static_cast<std::size_t>(c.pages));
    const std::string inks(mode.inks);
    for (const decode::Page& page : decoded.pages) {
        EXPECT_EQ(page.linesPerRow, c.linesPerRow);
        EXPECT_LE(page.rows * page.linesPerRow, kHeight + page.linesPerRow - 1);
        EXPECT_FALSE(page.inks.empty());
        for (const decode::InkRaster& ink : page.inks)
            EXPECT_NE(inks.find(static_cast<char>(ink.code)), std::string::npos)
                << "ink " << decode::FormatInkCode(ink.code) << " is not in " << inks;
    }
    if (c.blackOnly && c.media == 0) {
        EXPECT_EQ(inks, "K");
    }
}

INSTANTIATE_TEST_SUITE_P(Filter, PrintTest, testing::ValuesIn(kPrintCases),
                         [](const testing::TestParamInfo<PrintCase>& test) {
                             return std::string(test.param.name);
                         });

TEST(Filter, ReadsStandardInputLikeAFile) {
    const std::vector<Page> pages =
        MakePages(MakeHeader(kWidth, kHeight, CUPS_CSPACE_CMYK, 300), 2);
    const Bytes raster = WriteRaster(pages);
    FilterProcess::Options fromStdin;
    fromStdin.inputFromStdin = true;
    const FilterRun piped = RunFilter(raster, fromStdin);
    const FilterRun file = RunFilter(raster);
    ASSERT_EQ(piped.status, 0) << piped.messages;
    EXPECT_EQ(CountMessages(piped.messages, "PAGE:"), 2);
    EXPECT_FALSE(piped.stream.empty());
    EXPECT_TRUE(piped.stream == file.stream);
}

// A page of another width or print mode ends the job and starts a new one: the stream
// is the streams of the separate jobs one after the other.
TEST(Filter, PagesOfAnotherWidthOrModeStartANewJob) {
    const Page wide = MakePage(MakeHeader(kWidth, kHeight, CUPS_CSPACE_CMYK, 300), 0);
    const Page narrow1 = MakePage(MakeHeader(200, kHeight, CUPS_CSPACE_CMYK, 300), 1);
    const Page narrow2 = MakePage(MakeHeader(200, kHeight, CUPS_CSPACE_CMYK, 300), 2);
    const Page glossy = MakePage(MakeHeader(200, kHeight, CUPS_CSPACE_CMYK, 300, 27), 3);
    const FilterRun run = RunFilter(WriteRaster({wide, narrow1, narrow2, glossy}));
    ASSERT_EQ(run.status, 0) << run.messages;
    EXPECT_EQ(CountMessages(run.messages, "PAGE:"), 4);
    EXPECT_EQ(CountMessages(run.messages, "INFO: Page 2 changes"), 1) << run.messages;
    EXPECT_EQ(CountMessages(run.messages, "INFO: Page 4 changes"), 1) << run.messages;

    Bytes expected = RenderDirect(MakeOptions(10, 0, 300, kWidth, RENDER_CMYK8, false), {wide});
    const Bytes second =
        RenderDirect(MakeOptions(10, 0, 300, 200, RENDER_CMYK8, false), {narrow1, narrow2});
    const Bytes third = RenderDirect(MakeOptions(10, 27, 300, 200, RENDER_CMYK8, false), {glossy});
    expected.insert(expected.end(), second.begin(), second.end());
    expected.insert(expected.end(), third.begin(), third.end());
    EXPECT_TRUE(run.stream == expected);
    EXPECT_EQ(DecodeOrFail(run.stream, 0).pages.size(), 4u);
}

TEST(Filter, RasterWithoutPagesPrintsNothing) {
    const FilterRun run = RunFilter(WriteRaster({}));
    EXPECT_EQ(run.status, 0) << run.messages;
    EXPECT_TRUE(run.stream.empty());
    EXPECT_NE(run.messages.find("no pages"), std::string::npos) << run.messages;
}

Bytes Text(const char* text);

// A document (not raster) with a PPD in the environment goes through the page sources:
// the PPD's choices and the job's options give the mode and page, the filter makes the
// copies and takes one page range.
TEST(Filter, PrintsDocumentsWithCopiesAndAPageRange) {
    const char* kTwoPages =
        "%!PS\n/Helvetica findfont 40 scalefont setfont\n"
        "72 72 moveto (A) show showpage 72 72 moveto (B) show showpage\n";
    struct {
        const char* copies;
        const char* options;
        int status;
        int pages;
        const char* words;
    } const cases[] = {
        {"2", "PageSize=4x6 Resolution=300dpi", 0, 4, "quality 10 on media 0"},
        {"1", "PageSize=4x6 Resolution=300dpi print-quality=3 page-ranges=2", 0, 1,
         "quality 20 on media 0"},
        {"1", "PageSize=4x6 page-ranges=1,2", 1, 0, "ERROR: page-ranges 1,2: only one range"},
    };
    setenv("PPD", INKROW_PPD, 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        FilterProcess::Options options;
        options.arguments = {"1", "user", "title", c.copies, c.options};
        const FilterRun run = RunFilter(Text(kTwoPages), options);
        EXPECT_EQ(run.status, c.status) << run.messages;
        EXPECT_EQ(CountMessages(run.messages, "PAGE:"), c.pages) << run.messages;
        EXPECT_NE(run.messages.find(c.words), std::string::npos) << run.messages;
        if (c.status == 0) {
            EXPECT_EQ(DecodeOrFail(run.stream, 0).pages.size(), std::size_t(c.pages));
        }
    }
    unsetenv("PPD");
}

// Bad input: exit status 1, an ERROR: naming the cause, and only whole pages reported.
// Whatever was written is still a well-formed stream.
struct BadInputCase {
    const char* name;
    Bytes (*make)();
    const char* error;
    int wholePages;   // PAGE: messages
    int streamPages;  // pages in the stream, the one cut short included
};

Page GoodPage(int variant) {
    return MakePage(MakeHeader(kWidth, kHeight, CUPS_CSPACE_CMYK, 300), variant);
}

Bytes Text(const char* text) {
    return Bytes(text, text + std::strlen(text));
}

Bytes OneBitRaster() {
    cups_page_header2_t header = MakeHeader(kWidth, kHeight, CUPS_CSPACE_K, 300);
    FixBits(&header, 1);
    return WriteRaster({MakePage(header, 0)});
}

Bytes KcmyRaster() {
    return WriteRaster({MakePage(MakeHeader(kWidth, kHeight, CUPS_CSPACE_KCMY, 300), 0)});
}

Bytes BadSecondPage() {
    cups_page_header2_t header = MakeHeader(kWidth, kHeight, CUPS_CSPACE_CMYK, 720);
    return WriteRaster({GoodPage(0), MakePage(header, 1)});
}

// Both pages written whole, then cut in the middle of the second page's pixels.
Bytes CutMidPage(cups_mode_t mode) {
    const Bytes one = WriteRaster({GoodPage(0)}, mode);
    Bytes two = WriteRaster({GoodPage(0), GoodPage(1)}, mode);
    two.resize(one.size() + (two.size() - one.size()) / 2);
    return two;
}

Bytes CutMidPageUncompressed() {
    return CutMidPage(CUPS_RASTER_WRITE);
}
Bytes CutMidPageCompressed() {
    return CutMidPage(CUPS_RASTER_WRITE_COMPRESSED);
}

Bytes CutInSecondHeader() {
    const Bytes one = WriteRaster({GoodPage(0)});
    Bytes two = WriteRaster({GoodPage(0), GoodPage(1)});
    two.resize(one.size() + 100);
    return two;
}

// The second page's header whole, and not one of its lines: no empty page may appear.
Bytes CutAfterSecondHeader() {
    const Bytes one = WriteRaster({GoodPage(0)});
    Bytes two = WriteRaster({GoodPage(0), GoodPage(1)});
    two.resize(one.size() + sizeof(cups_page_header2_t));
    return two;
}

// A whole second header that libcups refuses (no bytes per line).
Bytes RefusedSecondHeader() {
    const Bytes one = WriteRaster({GoodPage(0)});
    cups_page_header2_t header = MakeHeader(kWidth, kHeight, CUPS_CSPACE_CMYK, 300);
    header.cupsBytesPerLine = 0;
    Bytes stream = one;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&header);
    stream.insert(stream.end(), bytes, bytes + sizeof header);
    stream.insert(stream.end(), 4000, 0);
    return stream;
}

const BadInputCase kBadInputCases[] = {
    {"Empty", [] { return Bytes{}; }, "The input is empty", 0, 0},
    {"NotRaster", [] { return Text("%PDF-1.4\n1 0 obj\n<<>>\nendobj\n"); },
     "The input is not a CUPS raster stream (Unknown raster format", 0, 0},
    {"OneBit", OneBitRaster, "page 1: 1-bit colour is not supported", 0, 0},
    {"KcmyColourSpace", KcmyRaster, "page 1: colour space 8 (KCMY)", 0, 0},
    {"SecondPageAt720Dpi", BadSecondPage, "page 2: a resolution of 720x720", 1, 1},
    {"CutMidPage", CutMidPageUncompressed, "page 2 ended after", 1, 2},
    {"CutMidPageCompressed", CutMidPageCompressed, "page 2 ended after", 1, 2},
    {"CutAfterSecondHeader", CutAfterSecondHeader, "page 2 ended after 0 of its 90 lines", 1, 1},
    {"CutInSecondHeader", CutInSecondHeader, "The header of page 2 is damaged or cut short", 1, 1},
    {"RefusedSecondHeader", RefusedSecondHeader, "The header of page 2 is damaged or cut short", 1,
     1},
};

class BadInputTest : public testing::TestWithParam<BadInputCase> {};

TEST_P(BadInputTest, FailsNamingTheCause) {
    const BadInputCase& c = GetParam();
    const FilterRun run = RunFilter(c.make());
    EXPECT_EQ(run.status, 1) << run.messages;
    EXPECT_NE(run.messages.find(std::string("ERROR: ") + c.error), std::string::npos)
        << run.messages;
    EXPECT_EQ(CountMessages(run.messages, "PAGE:"), c.wholePages) << run.messages;
    EXPECT_EQ(CountMessages(run.messages, "INFO: Printed"), 0) << run.messages;
    EXPECT_EQ(DecodeOrFail(run.stream, 0).pages.size(), static_cast<std::size_t>(c.streamPages));
}

INSTANTIATE_TEST_SUITE_P(Filter, BadInputTest, testing::ValuesIn(kBadInputCases),
                         [](const testing::TestParamInfo<BadInputCase>& test) {
                             return std::string(test.param.name);
                         });

TEST(Filter, UnreadableInputIsNamed) {
    struct {
        const char* path;
        const char* error;
    } const cases[] = {
        {"/nonexistent/job.ras", "ERROR: Unable to open the raster file \"/nonexistent/job.ras\""},
        {"/", "ERROR: Unable to read the raster stream: Is a directory"},
    };
    for (const auto& c : cases) {
        FilterProcess::Options options;
        options.inputFromStdin = true;  // so that Start adds no input file of its own
        options.arguments = {"1", "user", "title", "1", "", c.path};
        FilterProcess process;
        ASSERT_TRUE(process.Start(options));
        EXPECT_EQ(process.Wait(60), 1) << c.path;
        EXPECT_NE(process.Messages().find(c.error), std::string::npos) << process.Messages();
        EXPECT_TRUE(process.Stream().empty());
    }
}

TEST(Filter, WrongArgumentCountPrintsUsage) {
    FilterProcess::Options options;
    options.inputFromStdin = true;
    options.arguments = {"1", "user", "title"};
    FilterProcess process;
    ASSERT_TRUE(process.Start(options));
    EXPECT_EQ(process.Wait(60), 1);
    EXPECT_NE(process.Messages().find("Usage:"), std::string::npos) << process.Messages();
    EXPECT_TRUE(process.Stream().empty());
}

TEST(Filter, WriteFailureIsAnError) {
    FilterProcess::Options options;
    options.stdoutPath = "/dev/full";
    const FilterRun run = RunFilter(WriteRaster({GoodPage(0), GoodPage(1)}), options);
    EXPECT_EQ(run.status, 1) << run.messages;
    EXPECT_NE(run.messages.find("ERROR: Unable to write the printer stream"), std::string::npos)
        << run.messages;
    EXPECT_EQ(CountMessages(run.messages, "PAGE:"), 0) << run.messages;
}

// Cancelling: the filter stops in the middle of page 2 while waiting for its lines. The
// first page is whole and reported; the second is ended (so that the printer ejects the
// sheet) but not reported; the third is never started.
TEST(Filter, SigtermStopsCleanlyMidPage) {
    const std::vector<Page> pages = {GoodPage(0), GoodPage(1), GoodPage(2)};
    const Bytes raster = WriteRaster(pages);
    const std::size_t pageBytes = WriteRaster({GoodPage(0)}).size() - 4;  // less the sync word
    const std::size_t halfway = 4 + pageBytes + pageBytes / 2;

    FilterProcess::Options options;
    options.inputFromStdin = true;
    FilterProcess process;
    ASSERT_TRUE(process.Start(options));
    ASSERT_TRUE(process.Write(raster, 0, halfway));
    ASSERT_TRUE(process.WaitForMessage("PAGE: 1 1", 60)) << process.Messages();
    process.Signal(SIGTERM);
    // The rest arrives after the cancel; the filter must not print it. It may have closed
    // its input already, so a failed write is expected.
    process.Write(raster, halfway, raster.size() - halfway);
    EXPECT_EQ(process.Wait(60), 0) << process.Messages();

    const std::string messages = process.Messages();
    EXPECT_EQ(CountMessages(messages, "PAGE:"), 1) << messages;
    EXPECT_EQ(CountMessages(messages, "ERROR:"), 0) << messages;
    EXPECT_NE(messages.find("INFO: Printing canceled after 1 whole page"), std::string::npos)
        << messages;
    const Bytes stream = process.Stream();
    EXPECT_EQ(DecodeOrFail(stream, 0).pages.size(), 2u);
    const Bytes first =
        RenderDirect(MakeOptions(10, 0, 300, kWidth, RENDER_CMYK8, false), {pages[0]});
    ASSERT_GT(stream.size(), first.size());
    EXPECT_TRUE(std::equal(first.begin(), first.end(), stream.begin()));
}

}  // namespace
}  // namespace cupstest
