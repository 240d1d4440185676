// The print-mode description agrees with what the module does: the pairs it accepts,
// the inks its pages select and the lines per row of its packets.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "inkrow/output.h"
#include "inkrow/render.h"
#include "render_support.h"

namespace {

using rendertest::Bytes;

bool ModuleAcceptsJob(int quality, int media) {
    OutputHandle handle = nullptr;
    EXPECT_EQ(OutputOpen(&handle), OUTPUT_OPENED);
    JobParams params{};
    params.qualityCode = static_cast<int16_t>(quality);
    params.mediaCode = static_cast<int16_t>(media);
    params.pixelWidth = 64;
    const bool accepted = OutputInitTwo(&handle, &params, OUTPUT_JOB_PARAMS_VERSION) == OUTPUT_OK;
    OutputClose(&handle);
    return accepted;
}

TEST(RenderMode, SupportedPairsAreExactlyThoseTheModuleAccepts) {
    for (int quality : {-5, 0, 1, 5, 10, 15, 20, 30, 99}) {
        for (int media = -1; media <= 40; ++media) {
            RenderModeRequest request{};
            request.qualityCode = quality;
            request.mediaCode = media;
            RenderMode mode;
            const int status = RenderDescribeMode(&request, &mode);
            EXPECT_EQ(status == RENDER_OK, ModuleAcceptsJob(quality, media))
                << "quality " << quality << " media " << media;
            if (status != RENDER_OK) {
                EXPECT_EQ(status, RENDER_UNSUPPORTED_MODE);
            }
        }
    }
}

TEST(RenderMode, RefusesNullsAndCodesBeyondSixteenBits) {
    RenderModeRequest request{};
    RenderMode mode;
    EXPECT_EQ(RenderDescribeMode(nullptr, &mode), RENDER_BAD_ARGUMENT);
    EXPECT_EQ(RenderDescribeMode(&request, nullptr), RENDER_BAD_ARGUMENT);
    request.mediaCode = 70000;
    EXPECT_EQ(RenderDescribeMode(&request, &mode), RENDER_BAD_ARGUMENT);
}

// Every ink from none to full across the line, so that every plane has something to
// print: light inks in the light part, dark inks and their heavier drops further on.
void DrawInkRamp(int, int width, std::uint8_t* line, const void*) {
    for (int x = 0; x < width; ++x)
        for (int c = 0; c < 4; ++c)
            line[4 * x + c] = static_cast<std::uint8_t>(x * 255 / (width - 1));
}

struct FlagCase {
    int blackOnly, kForBlack, keepColor, resolution;
};

TEST(RenderMode, PagesSelectTheDescribedInksAndLinesPerRow) {
    const FlagCase flagCases[] = {
        {0, 0, 0, 600}, {1, 0, 0, 300}, {0, 1, 0, 360}, {1, 0, 1, 600}, {1, 1, 0, 300}};
    RenderModePair pairs[64];
    const int count = RenderListModePairs(pairs, 64);
    ASSERT_LE(count, 64);
    for (int p = 0; p < count; ++p) {
        for (const FlagCase& flags : flagCases) {
            RenderJobOptions options =
                rendertest::MakeOptions(pairs[p].qualityCode, pairs[p].mediaCode, 80, RENDER_CMYK8);
            options.raster.mode.blackOnly = flags.blackOnly;
            options.raster.mode.kForBlack = flags.kForBlack;
            options.raster.mode.keepColor = flags.keepColor;
            options.raster.mode.resolution = flags.resolution;
            RenderMode mode;
            ASSERT_EQ(RenderDescribeMode(&options.raster.mode, &mode), RENDER_OK);
            SCOPED_TRACE("quality " + std::to_string(pairs[p].qualityCode) + " media " +
                         std::to_string(pairs[p].mediaCode) + " inks " + mode.inks);
            const rendertest::JobRun run = rendertest::RunJob(options, 1, 32, DrawInkRamp);
            ASSERT_EQ(run.status, RENDER_OK) << run.error;
            const auto decoded = rendertest::DecodeOrFail(run.stream);
            ASSERT_EQ(decoded.pages.size(), 1u);
            const auto& page = decoded.pages[0];
            EXPECT_EQ(page.linesPerRow, mode.linesPerRow);
            std::set<std::uint8_t> printed;
            for (const auto& ink : page.inks)
                if (ink.longestLine > 0) printed.insert(ink.code);
            std::set<std::uint8_t> expected;
            if (mode.split) {
                const auto codes = inkrow::decode::ListInkSetCodes(mode.inkSetId);
                expected.insert(codes.begin(), codes.end());
            } else {
                for (int i = 0; i < mode.planeCount; ++i)
                    expected.insert(mode.planes[i].inkCode);
            }
            EXPECT_EQ(printed, expected);
            EXPECT_EQ(mode.printerPlanes, static_cast<int>(expected.size()));
        }
    }
}

TEST(RenderMode, ListsEveryPairOnceAndCountsBeyondCapacity) {
    const int total = RenderListModePairs(nullptr, 0);
    std::vector<RenderModePair> pairs(static_cast<std::size_t>(total));
    EXPECT_EQ(RenderListModePairs(pairs.data(), total), total);
    EXPECT_EQ(RenderListModePairs(pairs.data(), 3), total);
    bool sixteen = false;
    for (const RenderModePair& pair : pairs) {
        RenderModeRequest request{};
        request.qualityCode = pair.qualityCode;
        request.mediaCode = pair.mediaCode;
        RenderMode mode;
        ASSERT_EQ(RenderDescribeMode(&request, &mode), RENDER_OK);
        EXPECT_EQ(mode.inkSetId, pair.inkSetId);
        sixteen = sixteen || (pair.qualityCode == 0 && pair.mediaCode == 26 && mode.split == 1);
    }
    EXPECT_TRUE(sixteen);
}

struct PlaneCase {
    int quality, media, kForBlack;
    const char* inks;
    const char* levels;  // per plane, as a digit; 'd' for 13
};

TEST(RenderMode, DescribesLevelsOfEachPlaneKind) {
    const PlaneCase cases[] = {
        {20, 0, 0, "CMYK", "2222"},      // one bit per pixel
        {10, 0, 0, "CMYK", "3322"},      // converted planes print levels 0..2
        {5, 0, 0, "CMYKcm", "444244"},   // two bits, black one bit
        {10, 0, 1, "CMYk", "3323"},      // k for black
        {0, 26, 0, "CMYcmk", "777dd7"},  // the sixteen-ink inputs
    };
    for (const PlaneCase& c : cases) {
        RenderModeRequest request{};
        request.qualityCode = c.quality;
        request.mediaCode = c.media;
        request.kForBlack = c.kForBlack;
        RenderMode mode;
        ASSERT_EQ(RenderDescribeMode(&request, &mode), RENDER_OK);
        EXPECT_STREQ(mode.inks, c.inks);
        for (int i = 0; i < mode.planeCount; ++i) {
            const int expected = c.levels[i] == 'd' ? 13 : c.levels[i] - '0';
            EXPECT_EQ(mode.planes[i].levels, expected) << c.inks << " plane " << i;
            EXPECT_EQ(mode.planes[i].codeConverted, expected == 3 ? 1 : 0);
        }
    }
}

}  // namespace
