// A job's preview drawn from the stream the print layer wrote: the first page only, in
// its colours, whatever follows it in the stream, and a clear reason when it cannot be
// drawn.
#include "job_preview_image.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "inkrow/print.h"

namespace {

using inkrow::app::DrawFirstPage;
using inkrow::app::PreviewLimits;
using inkrow::app::PreviewPage;
using inkrow::app::RgbPicture;
using Bytes = std::vector<std::uint8_t>;

struct Printed {
    Bytes stream;
    PreviewPage page;  // the first page, as the progress reports it
    bool haveMode = false;
    std::size_t firstPageEnd = 0;  // stream bytes when the first page was whole
    std::size_t bytesBeforeMode = 0;
};

int Append(void* context, const std::uint8_t* bytes, std::size_t length) {
    auto* printed = static_cast<Printed*>(context);
    printed->stream.insert(printed->stream.end(), bytes, bytes + length);
    return 0;
}

void Note(void* context, const PrintProgress* progress) {
    auto* printed = static_cast<Printed*>(context);
    if (progress->event == PRINT_NEW_MODE && !printed->haveMode && progress->mode != nullptr) {
        printed->haveMode = true;
        printed->bytesBeforeMode = printed->stream.size();
        printed->page = {progress->width, progress->height, progress->resolution, *progress->mode};
    }
    if (progress->event == PRINT_PAGE_DONE && printed->firstPageEnd == 0)
        printed->firstPageEnd = printed->stream.size();
}

constexpr std::uint8_t kRed[3] = {220, 30, 30};
constexpr std::uint8_t kBlue[3] = {20, 60, 200};

// Pages of RGB: the top half of each the first colour, the bottom half the second.
Printed PrintBands(RenderModeRequest mode, int width, int height,
                   const std::vector<std::pair<const std::uint8_t*, const std::uint8_t*>>& pages) {
    Printed printed;
    PrintJobOptions options;
    PrintJobOptionsInit(&options);
    options.mode = mode;
    options.write = Append;
    options.writeContext = &printed;
    options.progress = Note;
    options.progressContext = &printed;
    PrintJob* job = nullptr;
    EXPECT_EQ(PrintJobOpen(&options, &job), RENDER_OK);
    const PrintPage page{width,           height, RENDER_RGB8,
                         mode.resolution, 0,      static_cast<std::size_t>(width) * 3};
    Bytes line(page.lineBytes);
    for (const auto& [top, bottom] : pages) {
        EXPECT_GE(PrintJobStartPage(job, &page), 0);
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* colour = y < height / 2 ? top : bottom;
            for (int x = 0; x < width; ++x)
                std::copy(colour, colour + 3, line.begin() + x * 3);
            EXPECT_EQ(PrintJobPushLine(job, line.data(), line.size()), RENDER_OK);
        }
        EXPECT_EQ(PrintJobEndPage(job), RENDER_OK);
    }
    EXPECT_EQ(PrintJobFinish(job), RENDER_OK);
    PrintJobClose(job);
    EXPECT_TRUE(printed.haveMode);
    return printed;
}

// The mean colour of the 9x9 pixels around (x, y): a pixel of the picture shows a few
// halftone dots, so single pixels vary.
std::array<std::uint8_t, 3> PatchAt(const RgbPicture& picture, std::uint32_t x, std::uint32_t y) {
    unsigned sums[3] = {0, 0, 0};
    unsigned count = 0;
    for (std::uint32_t py = y - 4; py <= y + 4; ++py)
        for (std::uint32_t px = x - 4; px <= x + 4; ++px, ++count)
            for (int c = 0; c < 3; ++c)
                sums[c] += picture.pixels[(std::size_t{py} * picture.width + px) * 3 + c];
    return {static_cast<std::uint8_t>(sums[0] / count), static_cast<std::uint8_t>(sums[1] / count),
            static_cast<std::uint8_t>(sums[2] / count)};
}

bool IsReddish(const std::array<std::uint8_t, 3>& rgb) {
    return rgb[0] > rgb[1] + 60 && rgb[0] > rgb[2] + 60;
}
bool IsBluish(const std::array<std::uint8_t, 3>& rgb) {
    return rgb[2] > rgb[0] + 25 && rgb[2] > rgb[1] + 25;
}

RenderModeRequest Mode(int quality, int media, int resolution, bool formFeed = false) {
    RenderModeRequest mode{};
    mode.qualityCode = quality;
    mode.mediaCode = media;
    mode.resolution = resolution;
    mode.formFeed = formFeed ? 1 : 0;
    return mode;
}

// Each print mode's inks come out in the document's colours, at about 150 dpi, whatever
// follows the first page: a second page, or a second page cut short.
TEST(JobPreviewImage, DrawsTheFirstPageInItsColours) {
    struct Case {
        const char* name;
        RenderModeRequest mode;
        int pages;
        bool cutInSecondPage;
    };
    const Case cases[] = {
        {"CMYK 300 dpi, two pages", Mode(10, 0, 300), 2, false},
        {"CMYK 300 dpi, second page cut", Mode(10, 0, 300), 2, true},
        {"form feed job", Mode(10, 0, 300, true), 2, false},
        {"360 dpi, one line a row", Mode(10, 0, 360), 1, false},
        {"600 dpi, photo inks", Mode(5, 27, 600), 1, false},
        {"sixteen-ink split", Mode(0, 26, 600), 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int width = c.mode.resolution * 2;  // two inches by three
        const int height = c.mode.resolution * 3;
        std::vector<std::pair<const std::uint8_t*, const std::uint8_t*>> pages{{kRed, kBlue}};
        if (c.pages == 2) pages.push_back({kBlue, kBlue});
        const Printed printed = PrintBands(c.mode, width, height, pages);
        // The application's copy starts with the first page's mode: nothing comes before.
        EXPECT_EQ(printed.bytesBeforeMode, 0u);
        if (c.mode.qualityCode == 0) {
            EXPECT_EQ(printed.page.mode.split, 1);
        }
        std::span<const std::uint8_t> stream(printed.stream);
        if (c.cutInSecondPage)
            stream =
                stream.first(printed.firstPageEnd + (stream.size() - printed.firstPageEnd) / 2);
        RgbPicture picture;
        RgbPicture thumbnail;
        std::string why;
        ASSERT_TRUE(
            DrawFirstPage(stream, printed.page, PreviewLimits{}, &picture, &thumbnail, &why))
            << why;
        const int factor = (c.mode.resolution + 75) / 150;
        EXPECT_EQ(picture.width, static_cast<std::uint32_t>((width + factor - 1) / factor));
        EXPECT_EQ(picture.height, static_cast<std::uint32_t>((height + factor - 1) / factor));
        EXPECT_EQ(thumbnail.width, 256u);
        EXPECT_NEAR(thumbnail.height, 384u, 1u);
        // The second page (all blue) must not show through in the red half.
        for (const RgbPicture* shown : {&picture, &thumbnail}) {
            const std::uint32_t x = shown->width / 2;
            EXPECT_TRUE(IsReddish(PatchAt(*shown, x, shown->height / 8)));
            EXPECT_TRUE(IsReddish(PatchAt(*shown, x, shown->height * 3 / 8)));
            EXPECT_TRUE(IsBluish(PatchAt(*shown, x, shown->height * 5 / 8)));
            EXPECT_TRUE(IsBluish(PatchAt(*shown, x, shown->height * 7 / 8)));
        }
    }
}

TEST(JobPreviewImage, SaysWhyItCannotDraw) {
    const Printed printed = PrintBands(Mode(10, 0, 300), 600, 900, {{kRed, kBlue}});
    const Bytes garbage = {0x1B, '(', 'Z', 0, 0};
    PreviewLimits tight;
    tight.maxRasterBytes = 1000;
    PreviewPage empty = printed.page;
    empty.width = 0;
    struct Case {
        std::span<const std::uint8_t> stream;
        PreviewPage page;
        PreviewLimits limits;
        const char* reason;
    };
    const Case cases[] = {
        {{}, printed.page, {}, "the stream holds no page"},
        {garbage, printed.page, {}, "malformed at byte 0"},
        {std::span(printed.stream).first(printed.stream.size() / 2),
         printed.page,
         {},
         "malformed at byte"},
        {printed.stream, printed.page, tight, "too large to draw"},
        {printed.stream, empty, {}, "the page has no pixels"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        RgbPicture picture;
        RgbPicture thumbnail;
        std::string why;
        EXPECT_FALSE(DrawFirstPage(c.stream, c.page, c.limits, &picture, &thumbnail, &why));
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }
}

}  // namespace
