// The raster stage on its own: extents, levels each plane kind may take, where colours
// go in each ink set, determinism and bad arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "inkrow/render.h"
#include "test_seed.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Raster {
    RenderRaster* raster = nullptr;
    explicit Raster(const RenderRasterOptions& options) {
        EXPECT_EQ(RenderRasterOpen(&options, &raster), RENDER_OK);
        if (raster != nullptr) RenderRasterStartPage(raster);
    }
    ~Raster() { RenderRasterClose(raster); }
    Raster(const Raster&) = delete;
    Raster& operator=(const Raster&) = delete;
};

RenderRasterOptions Options(int quality, int media, int width, int colorSpace) {
    RenderRasterOptions options;
    RenderRasterOptionsInit(&options);
    options.mode.qualityCode = quality;
    options.mode.mediaCode = media;
    options.width = width;
    options.colorSpace = colorSpace;
    return options;
}

int LevelAt(const BandPlane& plane, int bitsPerPixel, int x) {
    if (plane.pixels == nullptr) return 0;
    const int perByte = 8 / bitsPerPixel;
    const int shift = 8 - bitsPerPixel * (x % perByte + 1);
    return (plane.pixels[x / perByte] >> shift) & ((1 << bitsPerPixel) - 1);
}

// Total ink level of every plane of the given ink over `lines` lines of one colour.
std::vector<long> InkTotals(const RenderRasterOptions& options, const Bytes& pixel, int lines) {
    Raster r(options);
    const RenderMode* mode = RenderRasterMode(r.raster);
    std::vector<long> totals(static_cast<std::size_t>(mode->planeCount), 0);
    Bytes line;
    for (int x = 0; x < options.width; ++x)
        line.insert(line.end(), pixel.begin(), pixel.end());
    for (int y = 0; y < lines; ++y) {
        RasterBand band;
        int inked = 0;
        EXPECT_EQ(RenderRasterLine(r.raster, line.data(), line.size(), &band, &inked), RENDER_OK);
        for (int i = 0; i < mode->planeCount; ++i)
            for (int x = 0; x < options.width; ++x)
                totals[static_cast<std::size_t>(i)] +=
                    LevelAt(band.bandPlanes[i], mode->planes[i].bitsPerPixel, x);
    }
    return totals;
}

TEST(RenderRaster, ExtentsCoverExactlyTheInkedPixels) {
    const RenderRasterOptions options = Options(5, 0, 640, RENDER_RGB8);
    Raster r(options);
    const RenderMode* mode = RenderRasterMode(r.raster);
    Bytes line(640 * 3, 255);
    for (int x = 100; x < 200; ++x) {
        line[3 * x] = 20;  // a dark teal: every plane but yellow may print
        line[3 * x + 1] = 90;
        line[3 * x + 2] = 110;
    }
    for (int y = 0; y < 40; ++y) {
        RasterBand band;
        int inked = 0;
        ASSERT_EQ(RenderRasterLine(r.raster, line.data(), line.size(), &band, &inked), RENDER_OK);
        EXPECT_EQ(band.lineNumber, y);
        EXPECT_EQ(inked, 1);
        for (int i = 0; i < mode->planeCount; ++i) {
            const BandPlane& plane = band.bandPlanes[i];
            if (plane.pixels == nullptr) {
                EXPECT_EQ(plane.start, plane.end);
                continue;
            }
            EXPECT_GE(plane.start, 100);
            EXPECT_LE(plane.end, 200);
            EXPECT_EQ(plane.trail, 0);
            const int bits = mode->planes[i].bitsPerPixel;
            EXPECT_NE(LevelAt(plane, bits, plane.start), 0);
            EXPECT_NE(LevelAt(plane, bits, plane.end - 1), 0);
            for (int x = 0; x < 640; ++x)
                if (x < plane.start || x >= plane.end) {
                    EXPECT_EQ(LevelAt(plane, bits, x), 0);
                }
        }
    }
    Bytes white(640 * 3, 255);
    RasterBand band;
    int inked = 1;
    ASSERT_EQ(RenderRasterLine(r.raster, white.data(), white.size(), &band, &inked), RENDER_OK);
    EXPECT_EQ(inked, 0);
    for (int i = 0; i < mode->planeCount; ++i) {
        EXPECT_EQ(band.bandPlanes[i].pixels, nullptr);
        EXPECT_EQ(band.bandPlanes[i].start, band.bandPlanes[i].end);
    }
}

// Converted planes never take level 3 (it would erase five pixels); the two-way split
// inputs never go past 7 (8 and up print nothing), and split inputs use only the values
// of their levels.
TEST(RenderRaster, LevelsStayWithinWhatEachPlaneCanPrint) {
    const std::uint32_t seed = testseed::TestSeed(20261112);
    SCOPED_TRACE(testseed::SeedNote(seed));
    std::mt19937 random(seed);
    for (auto [quality, media] :
         {std::pair{10, 0}, std::pair{15, 27}, std::pair{10, 27}, std::pair{0, 26}}) {
        for (int halftone : {RENDER_DIFFUSION, RENDER_ORDERED}) {
            RenderRasterOptions options = Options(quality, media, 300, RENDER_RGB8);
            options.halftone = halftone;
            Raster r(options);
            const RenderMode* mode = RenderRasterMode(r.raster);
            Bytes line(300 * 3);
            for (int y = 0; y < 64; ++y) {
                for (auto& byte : line)
                    byte = static_cast<std::uint8_t>(random() % 256 / (y % 4 + 1));
                RasterBand band;
                int inked = 0;
                ASSERT_EQ(RenderRasterLine(r.raster, line.data(), line.size(), &band, &inked),
                          RENDER_OK);
                for (int i = 0; i < mode->planeCount; ++i)
                    for (int x = 0; x < 300; ++x) {
                        const RenderPlaneInfo& plane = mode->planes[i];
                        const int value = LevelAt(band.bandPlanes[i], plane.bitsPerPixel, x);
                        const auto* values = plane.levelValues;
                        ASSERT_NE(std::find(values, values + plane.levels, value),
                                  values + plane.levels)
                            << mode->inks << " plane " << i << " value " << value;
                    }
            }
        }
    }
}

TEST(RenderRaster, ColoursGoToTheInksTheirModeHas) {
    const Bytes red = {255, 0, 0};
    const Bytes lightCyan = {220, 245, 250};
    // Black only: a red prints in black.
    RenderRasterOptions blackOnly = Options(10, 0, 64, RENDER_RGB8);
    blackOnly.mode.blackOnly = 1;
    auto totals = InkTotals(blackOnly, red, 16);
    ASSERT_EQ(totals.size(), 1u);
    EXPECT_GT(totals[0], 0);
    // keepColor keeps the colours: red is magenta and yellow.
    blackOnly.mode.keepColor = 1;
    totals = InkTotals(blackOnly, red, 16);
    ASSERT_EQ(totals.size(), 4u);
    EXPECT_EQ(totals[0], 0);
    EXPECT_GT(totals[1], 0);
    EXPECT_GT(totals[2], 0);
    EXPECT_EQ(totals[3], 0);
    // Gray input prints in black alone where there is a black ink...
    totals = InkTotals(Options(10, 0, 64, RENDER_GRAY8), {100}, 16);
    EXPECT_EQ(totals[0] + totals[1] + totals[2], 0);
    EXPECT_GT(totals[3], 0);
    // ... in k alone in light grays when k stands for black, and with cyan, magenta and
    // yellow added in dark ones, which k alone cannot print...
    RenderRasterOptions kForBlack = Options(10, 0, 64, RENDER_GRAY8);
    kForBlack.mode.kForBlack = 1;
    totals = InkTotals(kForBlack, {230}, 16);
    ASSERT_EQ(totals.size(), 4u);  // CMYk
    EXPECT_EQ(totals[0] + totals[1] + totals[2], 0);
    EXPECT_GT(totals[3], 0);
    totals = InkTotals(kForBlack, {40}, 16);
    EXPECT_GT(totals[0], 0);
    EXPECT_GT(totals[1], 0);
    EXPECT_GT(totals[2], 0);
    EXPECT_GT(totals[3], 0);
    // ... and in cyan, magenta and yellow where there is none.
    totals = InkTotals(Options(10, 18, 64, RENDER_GRAY8), {100}, 16);
    ASSERT_EQ(totals.size(), 3u);
    EXPECT_GT(totals[0], 0);
    EXPECT_GT(totals[1], 0);
    EXPECT_GT(totals[2], 0);
    // A light cyan prints with the light ink alone where there is one (CMYKcm).
    totals = InkTotals(Options(5, 0, 64, RENDER_RGB8), lightCyan, 16);
    EXPECT_EQ(totals[0], 0);
    EXPECT_GT(totals[4], 0);
}

TEST(RenderRaster, SameInputSameOutputAndTheTwoHalftonesDiffer) {
    auto renderAll = [](int halftone) {
        RenderRasterOptions options = Options(5, 0, 200, RENDER_RGB8);
        options.halftone = halftone;
        Raster r(options);
        Bytes all;
        Bytes line(600);
        for (int y = 0; y < 50; ++y) {
            for (int x = 0; x < 600; ++x)
                line[static_cast<std::size_t>(x)] =
                    static_cast<std::uint8_t>((x * 7 + y * 3) % 256);
            RasterBand band;
            int inked = 0;
            EXPECT_EQ(RenderRasterLine(r.raster, line.data(), line.size(), &band, &inked),
                      RENDER_OK);
            const RenderMode* mode = RenderRasterMode(r.raster);
            for (int i = 0; i < mode->planeCount; ++i) {
                const std::uint8_t* pixels = band.bandPlanes[i].pixels;
                if (pixels != nullptr)
                    all.insert(all.end(), pixels,
                               pixels + (200 * mode->planes[i].bitsPerPixel + 7) / 8);
            }
        }
        return all;
    };
    EXPECT_EQ(renderAll(RENDER_DIFFUSION), renderAll(RENDER_DIFFUSION));
    EXPECT_EQ(renderAll(RENDER_ORDERED), renderAll(RENDER_ORDERED));
    EXPECT_NE(renderAll(RENDER_DIFFUSION), renderAll(RENDER_ORDERED));
}

TEST(RenderRaster, RefusesBadOptionsAndLines) {
    RenderRaster* raster = nullptr;
    RenderRasterOptions options = Options(10, 0, 0, RENDER_RGB8);
    EXPECT_EQ(RenderRasterOpen(&options, &raster), RENDER_BAD_WIDTH);
    options.width = RENDER_MAX_WIDTH + 1;
    EXPECT_EQ(RenderRasterOpen(&options, &raster), RENDER_BAD_WIDTH);
    options.width = 10;
    options.colorSpace = 2;
    EXPECT_EQ(RenderRasterOpen(&options, &raster), RENDER_BAD_ARGUMENT);
    options.colorSpace = RENDER_RGB8;
    options.halftone = 7;
    EXPECT_EQ(RenderRasterOpen(&options, &raster), RENDER_BAD_ARGUMENT);
    options.halftone = RENDER_DIFFUSION;
    options.threads = -1;
    EXPECT_EQ(RenderRasterOpen(&options, &raster), RENDER_BAD_ARGUMENT);
    options.threads = 0;
    options.mode.qualityCode = 0;  // quality 0 prints only on two media
    EXPECT_EQ(RenderRasterOpen(&options, &raster), RENDER_UNSUPPORTED_MODE);
    EXPECT_EQ(raster, nullptr);
    EXPECT_EQ(RenderRasterOpen(nullptr, &raster), RENDER_BAD_ARGUMENT);
    EXPECT_EQ(RenderRasterOpen(&options, nullptr), RENDER_BAD_ARGUMENT);

    Raster r(Options(10, 0, 10, RENDER_RGB8));
    Bytes line(30, 0);
    RasterBand band;
    EXPECT_EQ(RenderRasterLine(r.raster, line.data(), 29, &band, nullptr), RENDER_BAD_LINE);
    EXPECT_EQ(RenderRasterLine(r.raster, line.data(), 40, &band, nullptr), RENDER_BAD_LINE);
    EXPECT_EQ(RenderRasterLine(r.raster, nullptr, 30, &band, nullptr), RENDER_BAD_ARGUMENT);
    EXPECT_EQ(RenderRasterLine(r.raster, line.data(), 30, nullptr, nullptr), RENDER_BAD_ARGUMENT);
    EXPECT_EQ(RenderRasterLine(nullptr, line.data(), 30, &band, nullptr), RENDER_BAD_ARGUMENT);
    EXPECT_EQ(RenderRasterLine(r.raster, line.data(), 30, &band, nullptr), RENDER_OK);
    EXPECT_STREQ(RenderStatusText(RENDER_BAD_LINE), "bad line");
}

void FormatInto(char* text, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

void FormatInto(char* text, std::size_t size, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    RenderFormatErrorV(text, size, format, arguments);
    va_end(arguments);
}

TEST(ResultText, EveryModuleResultHasItsOwnNamedText) {
    const struct {
        int16_t code;
        const char* name;
    } results[] = {{OUTPUT_OK, "OUTPUT_OK"},
                   {OUTPUT_OPENED, "OUTPUT_OPENED"},
                   {OUTPUT_OPEN_FAILED, "OUTPUT_OPEN_FAILED"},
                   {OUTPUT_FAILED, "OUTPUT_FAILED"},
                   {OUTPUT_NO_MEMORY, "OUTPUT_NO_MEMORY"},
                   {OUTPUT_NOT_NOW, "OUTPUT_NOT_NOW"},
                   {OUTPUT_NEVER, "OUTPUT_NEVER"}};
    std::set<std::string> texts;
    for (const auto& result : results) {
        const std::string text = RenderOutputResultText(result.code);
        EXPECT_EQ(text.rfind(std::string(result.name) + " (", 0), 0u) << text;
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), std::size(results));
    EXPECT_STREQ(RenderOutputResultText(0x1234), "an unknown result");

    char text[8];
    FormatInto(text, sizeof text, "page %d: %s", 12, "too long to fit");
    EXPECT_STREQ(text, "page 12");  // cut short, terminated
    FormatInto(text, 0, "%s", "nothing written");
    EXPECT_STREQ(text, "page 12");
}

}  // namespace
