// Pixel expansion of decoded rasters, the renderings, and the PNG writer read back
// through libpng.
#include "picture.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "test_seed.h"

namespace inkrow::decode {
namespace {

using Bytes = std::vector<std::uint8_t>;

InkRaster MakeRaster(const Bytes& bytes, std::uint32_t widthBytes) {
    InkRaster raster;
    raster.code = 'K';
    raster.widthBytes = widthBytes;
    raster.longestLine = widthBytes;
    raster.lineCount = widthBytes == 0 ? 0 : bytes.size() / widthBytes;
    raster.bytes = bytes;
    return raster;
}

TEST(ExpandRaster, UnpacksEachFormat) {
    struct Case {
        const char* name;
        PixelFormat format;
        Bytes bytes;
        std::uint32_t width;
        Bytes levels;
        std::uint8_t maxLevel;
    };
    const Case cases[] = {
        {"1 bit", {1, false}, {0xA5}, 0, {1, 0, 1, 0, 0, 1, 0, 1}, 1},
        {"1 bit, narrower picture", {1, false}, {0xE0, 0xFF}, 3, {1, 1, 1}, 1},
        {"1 bit, wider picture", {1, false}, {0x80}, 10, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1},
        {"2 bit", {2, false}, {0xE4}, 0, {3, 2, 1, 0}, 3},
        {"4 bit", {4, false}, {0x9F}, 0, {9, 15}, 15},
        {"8 bit", {8, false}, {0x42}, 0, {0x42}, 255},
        // Five-pixel codes: 00000, 11111, 11222 and 21000, first pixel weightiest.
        {"base three",
         {2, true},
         {0x00, 0x79, 0x86, 0xBD},
         0,
         {0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 1, 0, 0, 0},
         2},
        {"base three, top code", {2, true}, {242}, 0, {2, 2, 2, 2, 2}, 2},
        {"base three, cut", {2, true}, {0x79, 0x79}, 7, {1, 1, 1, 1, 1, 1, 1}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const InkRaster raster = MakeRaster(c.bytes, static_cast<std::uint32_t>(c.bytes.size()));
        LevelImage image;
        ASSERT_TRUE(ExpandRaster(raster, c.format, c.width, &image));
        EXPECT_EQ(image.height, 1u);
        EXPECT_EQ(image.width, c.levels.size());
        EXPECT_EQ(image.levels, c.levels);
        EXPECT_EQ(image.maxLevel, c.maxLevel);
        EXPECT_EQ(image.invalidCodes, 0u);
    }
}

TEST(ExpandRaster, RowsAndBadInput) {
    const InkRaster raster = MakeRaster({0x80, 0x01}, 1);
    LevelImage image;
    ASSERT_TRUE(ExpandRaster(raster, {1, false}, 0, &image));
    EXPECT_EQ(image.height, 2u);
    EXPECT_EQ(image.levels[0], 1);
    EXPECT_EQ(image.levels[15], 1);
    EXPECT_FALSE(ExpandRaster(raster, {3, false}, 0, &image));

    // No valid five-pixel code is above 242; such bytes are counted, not trusted.
    ASSERT_TRUE(ExpandRaster(MakeRaster({250}, 1), {2, true}, 0, &image));
    EXPECT_EQ(image.invalidCodes, 1u);
    for (std::uint8_t level : image.levels)
        EXPECT_LE(level, 2);

    // An ink that never carried a byte still gets a blank picture of the page's height.
    InkRaster blank;
    blank.lineCount = 4;
    ASSERT_TRUE(ExpandRaster(blank, {1, false}, 9, &image));
    EXPECT_EQ(image.levels, Bytes(36, 0));
}

TEST(Render, GrayAndPreview) {
    LevelImage levels;
    levels.width = 4;
    levels.height = 1;
    levels.maxLevel = 3;
    levels.levels = {0, 1, 2, 3};
    EXPECT_EQ(RenderGray(levels), (Bytes{255, 170, 85, 0}));

    LevelImage full;
    full.width = 2;
    full.height = 1;
    full.levels = {1, 0};
    const InkLayer black[] = {{'K', &full}};
    // The ink model's black on the paper, the paper drawn white.
    const Bytes blackPixel = ComposePreview(black, 3, 1);
    EXPECT_LT(blackPixel[0], 60);
    EXPECT_NEAR(blackPixel[0], blackPixel[1], 2);
    EXPECT_EQ((Bytes(blackPixel.begin() + 3, blackPixel.end())), (Bytes(6, 255)));

    const InkLayer cyan[] = {{'C', &full}};
    const Bytes rgb = ComposePreview(cyan, 1, 1);
    EXPECT_LT(rgb[0], 80);
    EXPECT_GT(rgb[2], 200);

    // A split plane of cyan draws like cyan.
    const InkLayer split[] = {{0xC3, &full}};
    EXPECT_EQ(ComposePreview(split, 1, 1), rgb);
}

struct ReadBack {
    bool ok = false;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t format = 0;
    Bytes pixels;
};

ReadBack ReadPng(const std::string& path) {
    ReadBack result;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return result;
    result.width = image.width;
    result.height = image.height;
    result.format = image.format;
    result.pixels.resize(PNG_IMAGE_SIZE(image));
    result.ok = png_image_finish_read(&image, nullptr, result.pixels.data(), 0, nullptr) != 0;
    return result;
}

TEST(WritePng, WritesReadablePictures) {
    const std::filesystem::path directory =
        std::filesystem::path(testing::TempDir()) / "inkrow_decoder_png";
    std::filesystem::create_directories(directory);
    std::string message;

    const Bytes gray = {0, 64, 128, 192, 255, 7};
    const std::string grayPath = (directory / "gray.png").string();
    ASSERT_TRUE(WritePng(grayPath, 3, 2, 1, gray.data(), &message)) << message;
    const ReadBack grayBack = ReadPng(grayPath);
    ASSERT_TRUE(grayBack.ok);
    EXPECT_EQ(grayBack.width, 3u);
    EXPECT_EQ(grayBack.height, 2u);
    EXPECT_EQ(grayBack.format, static_cast<std::uint32_t>(PNG_FORMAT_GRAY));
    EXPECT_EQ(grayBack.pixels, gray);

    const Bytes rgb = {255, 0, 0, 0, 255, 0};
    const std::string rgbPath = (directory / "rgb.png").string();
    ASSERT_TRUE(WritePng(rgbPath, 2, 1, 3, rgb.data(), &message)) << message;
    const ReadBack rgbBack = ReadPng(rgbPath);
    ASSERT_TRUE(rgbBack.ok);
    EXPECT_EQ(rgbBack.format, static_cast<std::uint32_t>(PNG_FORMAT_RGB));
    EXPECT_EQ(rgbBack.pixels, rgb);

    EXPECT_FALSE(WritePng((directory / "none" / "x.png").string(), 1, 1, 1, gray.data(), &message));
    EXPECT_FALSE(message.empty());
    EXPECT_FALSE(WritePng(grayPath, 0, 1, 1, gray.data(), &message));
    EXPECT_FALSE(WritePng(grayPath, 1, 1, 2, gray.data(), &message));
    std::filesystem::remove_all(directory);
}

// The row-by-row writers draw exactly what the whole-picture functions compute: random
// rasters of every format, narrower and wider than the picture, shorter than it.
TEST(RowByRow, MatchesWholePictures) {
    const std::uint32_t seed = testseed::TestSeed(20261209);
    SCOPED_TRACE(testseed::SeedNote(seed));
    std::mt19937 random(seed);
    const std::filesystem::path directory =
        std::filesystem::path(testing::TempDir()) / "inkrow_decoder_rows";
    std::filesystem::create_directories(directory);
    const PixelFormat formats[] = {{1, false}, {2, false}, {4, false}, {8, false}, {2, true}};
    const std::uint8_t codes[] = {'C', 'M', 'Y', 'K', 'c'};
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        const std::uint32_t width = 1 + random() % 70;
        const std::uint32_t height = 1 + random() % 12;
        std::vector<InkRaster> rasters;
        std::vector<PictureInk> inks;
        for (int i = 0; i < 3; ++i) {
            const PixelFormat format = formats[random() % 5];
            const std::uint32_t widthBytes = random() % 20;
            const std::uint32_t lines = random() % (height + 3);
            Bytes bytes(std::size_t{widthBytes} * lines);
            for (std::uint8_t& b : bytes)
                b = random() % 3 == 0 ? 0 : static_cast<std::uint8_t>(random());
            InkRaster raster = MakeRaster(bytes, widthBytes);
            raster.lineCount = lines;
            raster.code = codes[random() % 5];
            rasters.push_back(raster);
            inks.push_back({raster.code, nullptr, format});
        }
        std::vector<LevelImage> images(3);
        std::vector<InkLayer> layers;
        for (std::size_t i = 0; i < 3; ++i) {
            inks[i].raster = &rasters[i];
            ASSERT_TRUE(ExpandRaster(rasters[i], inks[i].format, width, &images[i]));
            layers.push_back({inks[i].code, &images[i]});
            std::vector<std::uint8_t> line(width);
            for (std::uint64_t y = 0; y < rasters[i].lineCount; ++y) {
                std::uint64_t invalid = 0;
                ExpandRasterLine(rasters[i], inks[i].format, y, width, line.data(), &invalid);
                const Bytes whole(
                    images[i].levels.begin() + static_cast<std::ptrdiff_t>(y * width),
                    images[i].levels.begin() + static_cast<std::ptrdiff_t>((y + 1) * width));
                ASSERT_EQ(line, whole) << "ink " << i << " line " << y;
            }
        }
        std::string message;
        std::uint64_t invalid = 0;
        const std::string previewPath = (directory / "preview.png").string();
        PngFile* file = OpenPngFile(previewPath, &message);
        ASSERT_NE(file, nullptr) << message;
        ASSERT_TRUE(WritePreviewPng(file, inks, width, height, &invalid, &message)) << message;
        const ReadBack preview = ReadPng(previewPath);
        ASSERT_TRUE(preview.ok);
        EXPECT_EQ(preview.pixels, ComposePreview(layers, width, height));

        const std::string grayPath = (directory / "gray.png").string();
        file = OpenPngFile(grayPath, &message);
        ASSERT_NE(file, nullptr) << message;
        ASSERT_TRUE(WriteGrayPng(file, inks[0], width, height, &invalid, &message)) << message;
        const ReadBack gray = ReadPng(grayPath);
        ASSERT_TRUE(gray.ok);
        // RenderGray covers the raster's own lines; the picture goes on white below.
        Bytes expected = RenderGray(images[0]);
        expected.resize(std::size_t{width} * height, 255);
        EXPECT_EQ(gray.pixels, expected);
    }
    std::filesystem::remove_all(directory);
}

// A path that cannot be written fails when it is opened, naming the path once; a picture
// that cannot be written leaves no file behind.
TEST(RowByRow, FailuresNameThePathAndLeaveNoFile) {
    const std::filesystem::path directory =
        std::filesystem::path(testing::TempDir()) / "inkrow_decoder_fail";
    std::filesystem::create_directories(directory);
    std::string message;
    const std::string missing = (directory / "none" / "x.png").string();
    EXPECT_EQ(OpenPngFile(missing, &message), nullptr);
    EXPECT_EQ(message.find(missing), 0u) << message;
    EXPECT_EQ(message.find(missing, 1), std::string::npos) << message;

    const InkRaster raster = MakeRaster({0xFF}, 1);
    const PictureInk ink{'K', &raster, {1, false}};
    std::uint64_t invalid = 0;
    const std::string path = (directory / "empty.png").string();
    PngFile* file = OpenPngFile(path, &message);
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(WritePreviewPng(file, {&ink, 1}, 8, 0, &invalid, &message));
    EXPECT_EQ(message.find(path), 0u) << message;
    EXPECT_FALSE(std::filesystem::exists(path));
    file = OpenPngFile(path, &message);
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(WriteGrayPng(file, ink, 0, 1, &invalid, &message));
    EXPECT_FALSE(std::filesystem::exists(path));
    file = OpenPngFile(path, &message);
    DiscardPngFile(file);
    EXPECT_FALSE(std::filesystem::exists(path));
    std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace inkrow::decode
