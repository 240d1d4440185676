// PNG and JPEG pictures through the public source interface: decoding of every colour
// type and bit depth to exact bytes, placement on a page, scaling, and damaged files.
#include "picture.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "inkrow/source.h"
#include "test_files.h"
#include "test_seed.h"

namespace inkrow::source_test {
namespace {

using inkrow::source::ChooseDecodeEighths;
using inkrow::source::MakeResampleAxis;
using inkrow::source::Placement;
using inkrow::source::PlacePicture;
using inkrow::source::ResampleAxis;

PngRecipe Recipe(int width, int height, int colorType, int bitDepth,
                 std::vector<unsigned> samples) {
    PngRecipe recipe;
    recipe.width = width;
    recipe.height = height;
    recipe.colorType = colorType;
    recipe.bitDepth = bitDepth;
    recipe.samples = std::move(samples);
    return recipe;
}

RenderSourceOptions PictureOptions(int pageWidth = 0, int pageHeight = 0) {
    RenderSourceOptions options;
    RenderSourceOptionsInit(&options);
    options.pageWidth = pageWidth;
    options.pageHeight = pageHeight;
    return options;
}

ReadResult ReadPng(const TempDir& dir, const PngRecipe& recipe, int pageWidth = 0,
                   int pageHeight = 0) {
    const std::string path = dir.Path("picture.png");
    WriteBytes(path, MakePng(recipe));
    return ReadDocument(path, PictureOptions(pageWidth, pageHeight));
}

TEST(PngSource, DecodesEveryColourTypeAndDepth) {
    struct Case {
        const char* name;
        PngRecipe recipe;
        int colorSpace;
        Bytes expected;  // the whole 2x1 or 3x1 picture
    };
    PngRecipe palette = Recipe(3, 1, PNG_COLOR_TYPE_PALETTE, 2, {0, 1, 3});
    palette.palette = {10, 20, 30, 40, 50, 60, 70, 80, 90, 200, 210, 220};
    PngRecipe paletteAlpha = palette;
    // Entry 0 fully transparent (white), entry 1 half (on white), entry 3 opaque.
    paletteAlpha.paletteAlpha = {0, 128, 255, 255};
    PngRecipe grayKey = Recipe(3, 1, PNG_COLOR_TYPE_GRAY, 8, {5, 6, 0});
    grayKey.grayKey = 5;
    const Case cases[] = {
        {"gray 8",
         Recipe(3, 1, PNG_COLOR_TYPE_GRAY, 8, {0, 127, 255}),
         RENDER_GRAY8,
         {0, 127, 255}},
        {"gray 1", Recipe(3, 1, PNG_COLOR_TYPE_GRAY, 1, {0, 1, 0}), RENDER_GRAY8, {0, 255, 0}},
        {"gray 2", Recipe(3, 1, PNG_COLOR_TYPE_GRAY, 2, {1, 2, 3}), RENDER_GRAY8, {85, 170, 255}},
        {"gray 4", Recipe(3, 1, PNG_COLOR_TYPE_GRAY, 4, {1, 8, 15}), RENDER_GRAY8, {17, 136, 255}},
        // 16-bit samples are scaled, not cut: 0x1234 is 18.1 of 255, 0x80ff 128.5.
        {"gray 16",
         Recipe(3, 1, PNG_COLOR_TYPE_GRAY, 16, {0x1234, 0x80ff, 0xffff}),
         RENDER_GRAY8,
         {18, 128, 255}},
        {"rgb 8",
         Recipe(2, 1, PNG_COLOR_TYPE_RGB, 8, {1, 2, 3, 250, 251, 252}),
         RENDER_RGB8,
         {1, 2, 3, 250, 251, 252}},
        {"rgb 16",
         Recipe(2, 1, PNG_COLOR_TYPE_RGB, 16, {0, 0x8080, 0xffff, 0x0101, 0x0202, 0xfefe}),
         RENDER_RGB8,
         {0, 128, 255, 1, 2, 254}},
        {"palette 2", palette, RENDER_RGB8, {10, 20, 30, 40, 50, 60, 200, 210, 220}},
        // (40 * 128 + 255 * 127 + 127) / 255 = 147 and so on.
        {"palette with alpha",
         paletteAlpha,
         RENDER_RGB8,
         {255, 255, 255, 147, 152, 157, 200, 210, 220}},
        {"gray with key", grayKey, RENDER_GRAY8, {255, 6, 0}},
        {"gray alpha",
         Recipe(3, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {0, 0, 0, 255, 100, 128}),
         RENDER_GRAY8,
         {255, 0, 177}},
        {"rgba 16",
         Recipe(2, 1, PNG_COLOR_TYPE_RGB_ALPHA, 16, {0xffff, 0, 0, 0xffff, 0, 0, 0xffff, 0}),
         RENDER_RGB8,
         {255, 0, 0, 255, 255, 255}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ReadResult result = ReadPng(dir, c.recipe);
        ASSERT_EQ(result.openStatus, RENDER_OK) << result.error;
        ASSERT_EQ(result.endStatus, 0) << result.error;
        ASSERT_EQ(result.pages.size(), 1u);
        EXPECT_EQ(result.pages[0].width, c.recipe.width);
        EXPECT_EQ(result.pages[0].height, 1);
        EXPECT_EQ(result.pages[0].colorSpace, c.colorSpace);
        EXPECT_EQ(result.pixels[0], c.expected);
    }
}

TEST(PngSource, InterlacedMatchesProgressive) {
    PngRecipe recipe = Recipe(11, 9, PNG_COLOR_TYPE_RGB, 8, {});
    std::mt19937 random(7);
    for (int i = 0; i < 11 * 9 * 3; ++i)
        recipe.samples.push_back(random() & 0xff);
    TempDir dir;
    const ReadResult plain = ReadPng(dir, recipe);
    recipe.interlaced = true;
    const ReadResult interlaced = ReadPng(dir, recipe);
    ASSERT_EQ(plain.pages.size(), 1u) << plain.error;
    ASSERT_EQ(interlaced.pages.size(), 1u) << interlaced.error;
    EXPECT_EQ(interlaced.pixels[0], plain.pixels[0]);
    EXPECT_EQ(plain.pixels[0], Bytes(recipe.samples.begin(), recipe.samples.end()));
}

// A PNG's byte offset of the first IDAT chunk's data.
std::size_t FindChunk(const Bytes& png, const char* type) {
    std::size_t offset = 8;
    while (offset + 8 <= png.size()) {
        const std::size_t length = (std::size_t{png[offset]} << 24) | (png[offset + 1] << 16) |
                                   (png[offset + 2] << 8) | png[offset + 3];
        if (std::equal(type, type + 4, png.begin() + static_cast<std::ptrdiff_t>(offset + 4))) {
            return offset;
        }
        offset += 12 + length;
    }
    return 0;
}

TEST(PngSource, DamagedFilesFailWithTheCause) {
    PngRecipe recipe = Recipe(40, 40, PNG_COLOR_TYPE_RGB, 8, {});
    std::mt19937 random(11);
    for (int i = 0; i < 40 * 40 * 3; ++i)
        recipe.samples.push_back(random() & 0xff);
    const Bytes good = MakePng(recipe);
    const std::size_t idat = FindChunk(good, "IDAT");
    ASSERT_GT(idat, 0u);

    struct Case {
        const char* name;
        Bytes bytes;
        bool opens;  // the damage is past the header
        const char* words;
    };
    const std::size_t idatLength = (std::size_t{good[idat]} << 24) | (good[idat + 1] << 16) |
                                   (good[idat + 2] << 8) | good[idat + 3];
    Bytes badCrc = good;
    badCrc[idat + 8 + idatLength + 1] ^= 0x40;  // the pixel data's CRC
    Bytes badData = good;
    badData[idat + 8 + 5] ^= 0x40;  // the compressed pixel data itself
    Bytes badHeaderCrc = good;
    badHeaderCrc[8 + 8 + 3] ^= 0x01;  // the width in IHDR
    Bytes cutEnd = good;
    cutEnd.resize(good.size() - 6);  // inside IEND
    const Case cases[] = {
        {"truncated in the pixels",
         Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(idat + 200)), true,
         "truncated"},
        {"truncated in the header", Bytes(good.begin(), good.begin() + 20), false, "truncated"},
        {"truncated at the end", cutEnd, true, "truncated"},
        {"bad CRC in the pixels", badCrc, true, "CRC error"},
        {"damaged pixel data", badData, true, "IDAT"},
        {"bad CRC in the header", badHeaderCrc, false, "CRC error"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Path("bad.png");
        WriteBytes(path, c.bytes);
        const ReadResult result = ReadDocument(path, PictureOptions());
        if (c.opens) {
            ASSERT_EQ(result.openStatus, RENDER_OK) << result.error;
            EXPECT_EQ(result.endStatus, RENDER_BAD_ARGUMENT);
            EXPECT_TRUE(result.pages.empty());
        } else {
            EXPECT_EQ(result.openStatus, RENDER_BAD_ARGUMENT);
        }
        EXPECT_EQ(result.error.rfind("PNG: ", 0), 0u) << result.error;
        EXPECT_NE(result.error.find(c.words), std::string::npos) << result.error;
    }
}

TEST(PngSource, ErrorsStay) {
    PngRecipe recipe = Recipe(64, 64, PNG_COLOR_TYPE_GRAY, 8, std::vector<unsigned>(64 * 64, 9));
    Bytes bytes = MakePng(recipe);
    bytes.resize(bytes.size() / 2);
    TempDir dir;
    WriteBytes(dir.Path("cut.png"), bytes);
    const RenderSourceOptions options = PictureOptions();
    RenderSource* source = nullptr;
    ASSERT_EQ(RenderSourceOpen(dir.Path("cut.png").c_str(), &options, &source), RENDER_OK);
    RenderSourcePage page;
    ASSERT_EQ(RenderSourceNextPage(source, &page), 1);
    Bytes line(page.lineBytes);
    int status = RENDER_OK;
    int lines = 0;
    while (status == RENDER_OK && lines < page.height) {
        status = RenderSourceReadLine(source, line.data(), line.size());
        if (status == RENDER_OK) ++lines;
    }
    EXPECT_EQ(status, RENDER_BAD_ARGUMENT);
    EXPECT_LT(lines, page.height);
    // The failure answers every later call, and the document never ends cleanly.
    EXPECT_EQ(RenderSourceReadLine(source, line.data(), line.size()), RENDER_BAD_ARGUMENT);
    EXPECT_EQ(RenderSourceNextPage(source, &page), RENDER_BAD_ARGUMENT);
    EXPECT_NE(std::string(RenderSourceErrorText(source)).find("truncated"), std::string::npos);
    RenderSourceClose(source);
}

TEST(JpegSource, DecodesGrayRgbAndCmyk) {
    struct Case {
        const char* name;
        int components;
        bool adobe;
        Bytes colour;  // every pixel of the written picture
        int colorSpace;
        Bytes expected;
    };
    const Case cases[] = {
        {"gray", 1, false, {100}, RENDER_GRAY8, {100}},
        {"rgb", 3, false, {200, 40, 90}, RENDER_RGB8, {200, 40, 90}},
        // An Adobe file stores 255 - ink; the page gets 255 for full ink.
        {"adobe cmyk", 4, true, {0, 255, 155, 255}, RENDER_CMYK8, {255, 0, 100, 0}},
        {"plain cmyk", 4, false, {255, 0, 100, 0}, RENDER_CMYK8, {255, 0, 100, 0}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes pixels;
        for (int i = 0; i < 16 * 16; ++i)
            pixels.insert(pixels.end(), c.colour.begin(), c.colour.end());
        WriteBytes(dir.Path("p.jpg"), MakeJpeg(16, 16, c.components, pixels, 100, c.adobe));
        const ReadResult result = ReadDocument(dir.Path("p.jpg"), PictureOptions());
        ASSERT_EQ(result.endStatus, 0) << result.error;
        ASSERT_EQ(result.pages.size(), 1u);
        EXPECT_EQ(result.pages[0].colorSpace, c.colorSpace);
        EXPECT_EQ(result.pages[0].width, 16);
        EXPECT_EQ(result.pages[0].height, 16);
        for (const auto& [x, y] : {std::pair{0, 0}, std::pair{15, 15}, std::pair{7, 9}}) {
            const Bytes pixel = PixelAt(result, 0, x, y);
            for (std::size_t i = 0; i < pixel.size(); ++i) {
                EXPECT_NEAR(pixel[i], c.expected[i], 3) << "channel " << i;
            }
        }
    }
}

TEST(JpegSource, TruncatedAndDamagedFilesFail) {
    Bytes pixels(64 * 64 * 3);
    std::mt19937 random(5);
    for (auto& p : pixels)
        p = static_cast<std::uint8_t>(random());
    const Bytes good = MakeJpeg(64, 64, 3, pixels);
    TempDir dir;
    struct Case {
        const char* name;
        Bytes bytes;
        bool opens;
        const char* words;
    };
    Bytes noLines = good;
    for (std::size_t i = 2; i + 8 < noLines.size(); ++i) {
        if (noLines[i] == 0xff && noLines[i + 1] == 0xc0) {  // the frame header: no lines
            noLines[i + 5] = 0;
            noLines[i + 6] = 0;
            break;
        }
    }
    const Case cases[] = {
        {"cut in the data",
         Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2)), true,
         "truncated"},
        {"cut before the end marker", Bytes(good.begin(), good.end() - 2), true, "truncated"},
        {"cut in the header", Bytes(good.begin(), good.begin() + 30), false, "truncated"},
        {"empty frame", noLines, false, "JPEG: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(dir.Path("bad.jpg"), c.bytes);
        const ReadResult result = ReadDocument(dir.Path("bad.jpg"), PictureOptions());
        EXPECT_EQ(result.openStatus, c.opens ? RENDER_OK : RENDER_BAD_ARGUMENT) << result.error;
        if (c.opens) {
            EXPECT_EQ(result.endStatus, RENDER_BAD_ARGUMENT);
        }
        EXPECT_TRUE(result.pages.empty());
        EXPECT_EQ(result.error.rfind("JPEG: ", 0), 0u) << result.error;
        EXPECT_NE(result.error.find(c.words), std::string::npos) << result.error;
    }
}

TEST(PicturePlacement, FitsAndCentres) {
    struct Case {
        int width, height, pageWidth, pageHeight;
        Placement expected;
    };
    const Case cases[] = {
        {10, 5, 100, 100, {100, 100, 0, 25, 100, 50}},
        {5, 10, 100, 100, {100, 100, 25, 0, 50, 100}},
        {4, 4, 8, 4, {8, 4, 2, 0, 4, 4}},
        {3, 3, 0, 0, {3, 3, 0, 0, 3, 3}},
        {1000, 1, 10, 10, {10, 10, 0, 4, 10, 1}},  // never thinner than a line
        {4960, 7016, 4960, 7016, {4960, 7016, 0, 0, 4960, 7016}},
    };
    for (const Case& c : cases) {
        const Placement p = PlacePicture(c.width, c.height, c.pageWidth, c.pageHeight);
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        EXPECT_EQ(p.pageWidth, c.expected.pageWidth);
        EXPECT_EQ(p.pageHeight, c.expected.pageHeight);
        EXPECT_EQ(p.x, c.expected.x);
        EXPECT_EQ(p.y, c.expected.y);
        EXPECT_EQ(p.width, c.expected.width);
        EXPECT_EQ(p.height, c.expected.height);
    }
}

TEST(PicturePlacement, ResampleWeightsCoverEverySample) {
    const std::uint32_t seed = testseed::TestSeed(20261113);
    SCOPED_TRACE(testseed::SeedNote(seed));
    std::mt19937 random(seed);
    for (int round = 0; round < 300; ++round) {
        const int source = 1 + static_cast<int>(random() % 3000);
        const int target = 1 + static_cast<int>(random() % 3000);
        SCOPED_TRACE(std::to_string(source) + " -> " + std::to_string(target));
        const ResampleAxis axis = MakeResampleAxis(source, target);
        std::vector<double> used(static_cast<std::size_t>(source), 0.0);
        int previousFirst = 0;
        for (int t = 0; t < target; ++t) {
            const auto i = static_cast<std::size_t>(t);
            double sum = 0;
            ASSERT_GE(axis.first[i], previousFirst);  // the row window only moves forward
            previousFirst = axis.first[i];
            ASSERT_GE(axis.count[i], 1);
            ASSERT_LE(axis.first[i] + axis.count[i], source);
            for (int k = 0; k < axis.count[i]; ++k) {
                const float w = axis.weights[axis.offset[i] + static_cast<std::size_t>(k)];
                ASSERT_GE(w, 0.0f);
                sum += w;
                used[static_cast<std::size_t>(axis.first[i] + k)] += w;
            }
            ASSERT_NEAR(sum, 1.0, 1e-5);
        }
        // Downscaling averages: every source sample counts, and equally.
        if (source >= target) {
            const double share = static_cast<double>(target) / source;
            for (double u : used)
                ASSERT_NEAR(u, share, 1e-4);
        }
    }
    // Equal sizes copy.
    const ResampleAxis same = MakeResampleAxis(5, 5);
    for (int t = 0; t < 5; ++t) {
        EXPECT_EQ(same.first[static_cast<std::size_t>(t)], t);
        EXPECT_EQ(same.count[static_cast<std::size_t>(t)], 1);
    }
}

TEST(PictureScaling, PlacesOnPaperWithMargins) {
    TempDir dir;
    // A 4x2 mid-gray picture on a 12x12 page: 12x6 at rows 3..8, white around it.
    const ReadResult gray =
        ReadPng(dir, Recipe(4, 2, PNG_COLOR_TYPE_GRAY, 8, std::vector<unsigned>(8, 90)), 12, 12);
    ASSERT_EQ(gray.pages.size(), 1u) << gray.error;
    EXPECT_EQ(gray.pages[0].width, 12);
    EXPECT_EQ(gray.pages[0].height, 12);
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 12; ++x) {
            EXPECT_EQ(PixelAt(gray, 0, x, y)[0], y >= 3 && y < 9 ? 90 : 255) << x << "," << y;
        }
    }

    // A picture of the page's width is not scaled: its rows are copied exactly, between
    // white bands.
    std::vector<unsigned> ramp;
    for (unsigned i = 0; i < 8 * 4; ++i)
        ramp.push_back(i * 7 + 3);
    const ReadResult exact = ReadPng(dir, Recipe(8, 4, PNG_COLOR_TYPE_GRAY, 8, ramp), 8, 8);
    ASSERT_EQ(exact.pages.size(), 1u) << exact.error;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const unsigned expected =
                y >= 2 && y < 6 ? ramp[static_cast<std::size_t>((y - 2) * 8 + x)] : 255;
            EXPECT_EQ(PixelAt(exact, 0, x, y)[0], expected) << x << "," << y;
        }
    }

    // CMYK paper has no ink: the margins are 0 in every channel.
    Bytes ink;
    for (int i = 0; i < 8 * 8; ++i)
        ink.insert(ink.end(), {0, 255, 255, 255});  // Adobe: full cyan
    WriteBytes(dir.Path("c.jpg"), MakeJpeg(8, 8, 4, ink, 100, true));
    const ReadResult cmyk = ReadDocument(dir.Path("c.jpg"), PictureOptions(20, 10));
    ASSERT_EQ(cmyk.pages.size(), 1u) << cmyk.error;
    EXPECT_EQ(cmyk.pages[0].lineBytes, 80u);
    EXPECT_EQ(PixelAt(cmyk, 0, 0, 5), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(PixelAt(cmyk, 0, 19, 5), (Bytes{0, 0, 0, 0}));
    const Bytes centre = PixelAt(cmyk, 0, 10, 5);
    EXPECT_NEAR(centre[0], 255, 3);
    EXPECT_NEAR(centre[1], 0, 3);
}

TEST(PictureScaling, DownscalingAveragesAndUpscalingInterpolates) {
    TempDir dir;
    // A one-pixel checkerboard halved: every page pixel averages two black and two white.
    PngRecipe checker = Recipe(8, 8, PNG_COLOR_TYPE_GRAY, 8, {});
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x)
            checker.samples.push_back((x + y) % 2 != 0 ? 255 : 0);
    }
    const ReadResult half = ReadPng(dir, checker, 4, 4);
    ASSERT_EQ(half.pages.size(), 1u) << half.error;
    for (std::uint8_t value : half.pixels[0])
        EXPECT_NEAR(value, 128, 1);

    // A black-to-white pair stretched to 8 pixels: a monotone ramp with the ends kept.
    const ReadResult ramp = ReadPng(dir, Recipe(2, 1, PNG_COLOR_TYPE_GRAY, 8, {0, 255}), 8, 4);
    ASSERT_EQ(ramp.pages.size(), 1u) << ramp.error;
    const int row = 1;  // the 8x4 picture fills the page
    EXPECT_EQ(PixelAt(ramp, 0, 0, row)[0], 0);
    EXPECT_EQ(PixelAt(ramp, 0, 7, row)[0], 255);
    for (int x = 1; x < 8; ++x) {
        EXPECT_GE(PixelAt(ramp, 0, x, row)[0], PixelAt(ramp, 0, x - 1, row)[0]);
    }
    EXPECT_NEAR(PixelAt(ramp, 0, 3, row)[0], 96, 1);  // 3.5 / 8 of the way, less the half pixel
}

// A JPEG much larger than its place is reduced by the decoder in eighths, never below
// the place's size; the scaler does the rest and the page comes out the same.
TEST(PictureScaling, LargeJpegIsReducedWhileDecoding) {
    struct Case {
        int width, height, placedWidth, placedHeight, eighths;
    };
    const Case cases[] = {
        {4960, 7016, 4960, 7016, 8},   // the page's own size
        {8000, 8000, 4960, 4960, 8},   // under twice the size: no second resampling
        {9920, 14032, 4960, 7016, 4},  // twice
        {19840, 28064, 4960, 7016, 2},
        {40000, 1000, 4960, 124, 1},
        {16, 16, 3, 3, 2},         // one eighth would round 16 down to 2, short of 3
        {17, 17, 3, 3, 1},         // ... and 17 up to 3, enough
        {9920, 100, 4960, 80, 8},  // twice as wide but not as high: whole
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseDecodeEighths(c.width, c.height, c.placedWidth, c.placedHeight), c.eighths)
            << c.width << "x" << c.height << " into " << c.placedWidth << "x" << c.placedHeight;

    // Four flat quadrants, 256 x 256 onto a 32 x 32 page (decoded at one eighth).
    const Bytes colours[4] = {{200, 40, 90}, {20, 180, 60}, {250, 250, 250}, {10, 10, 120}};
    Bytes pixels;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const Bytes& colour = colours[(y / 128) * 2 + x / 128];
            pixels.insert(pixels.end(), colour.begin(), colour.end());
        }
    TempDir dir;
    WriteBytes(dir.Path("big.jpg"), MakeJpeg(256, 256, 3, pixels, 95));
    const ReadResult page = ReadDocument(dir.Path("big.jpg"), PictureOptions(32, 32));
    ASSERT_EQ(page.pages.size(), 1u) << page.error;
    EXPECT_EQ(page.pages[0].width, 32);
    EXPECT_EQ(page.pages[0].height, 32);
    for (int quadrant = 0; quadrant < 4; ++quadrant) {
        const Bytes pixel = PixelAt(page, 0, quadrant % 2 * 16 + 8, quadrant / 2 * 16 + 8);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_NEAR(pixel[i], colours[quadrant][i], 6) << "quadrant " << quadrant;
    }
}

TEST(PictureScaling, LargePageFromSmallPicture) {
    // An A4 page at 300 dpi from a small picture, read line by line: the page is exact,
    // the picture (2480x3497) sits between white bands of 5 and 6 lines.
    PngRecipe recipe = Recipe(100, 141, PNG_COLOR_TYPE_RGB, 8, {});
    for (int i = 0; i < 100 * 141; ++i)
        recipe.samples.insert(recipe.samples.end(), {30, 60, 90});
    TempDir dir;
    WriteBytes(dir.Path("small.png"), MakePng(recipe));
    const RenderSourceOptions options = PictureOptions(2480, 3508);
    RenderSource* source = nullptr;
    ASSERT_EQ(RenderSourceOpen(dir.Path("small.png").c_str(), &options, &source), RENDER_OK);
    RenderSourcePage page;
    ASSERT_EQ(RenderSourceNextPage(source, &page), 1);
    EXPECT_EQ(page.width, 2480);
    EXPECT_EQ(page.height, 3508);
    EXPECT_EQ(page.lineBytes, 2480u * 3);
    const Bytes white(page.lineBytes, 255);
    Bytes colour;
    for (int i = 0; i < 2480; ++i)
        colour.insert(colour.end(), {30, 60, 90});
    Bytes line(page.lineBytes);
    for (int y = 0; y < page.height; ++y) {
        ASSERT_EQ(RenderSourceReadLine(source, line.data(), line.size()), RENDER_OK) << y;
        const bool inPicture = y >= 5 && y < 5 + 3497;
        ASSERT_EQ(line, inPicture ? colour : white) << "line " << y;
    }
    EXPECT_EQ(RenderSourceNextPage(source, &page), 0);
    RenderSourceClose(source);
}

}  // namespace
}  // namespace inkrow::source_test
