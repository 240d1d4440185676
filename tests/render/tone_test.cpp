// Tone: ramps of each ink printed, read back with the decoder, and measured. Coverage
// follows the ink's target (split share and tone curve) within 2 % and rises with the
// amount asked for; a flat tone prints the same at the top and the bottom of a page.
#include <gtest/gtest.h>

#include <cmath>

#include "halftone.h"
#include "render_support.h"
#include "separation.h"

namespace {

namespace render = inkrow::render;

constexpr int kSteps = 11;
constexpr int kPatch = 96;
constexpr int kInset = 12;  // error diffusion settles in from a patch's edges

struct RampContext {
    int channel;  // CMYK channel ramped
};

// Patches left to right at 0, 10, ... 100 % of one channel.
void DrawRamp(int, int width, std::uint8_t* line, const void* context) {
    const int channel = static_cast<const RampContext*>(context)->channel;
    for (int x = 0; x < width; ++x) {
        for (int c = 0; c < 4; ++c)
            line[4 * x + c] = 0;
        line[4 * x + channel] = static_cast<std::uint8_t>((x / kPatch) * 255 / (kSteps - 1));
    }
}

// What a plane should cover for a byte value of its process ink.
double TargetOf(const render::Separation& separation, int plane, int value) {
    return separation.recipes[plane].table[separation.byteToAmount[value]] /
           static_cast<double>(render::kInkFull);
}

struct Printed {
    inkrow::decode::LevelImage image;
    int topLevel;
};

// The printer planes that carry a plane's ink: the plane itself, or in the sixteen-ink
// mode the two or four printer planes its input is split into (2 bits each).
std::vector<Printed> PrintedPlanesOf(const inkrow::decode::Page& page, const RenderMode& mode,
                                     int plane, int width) {
    std::vector<Printed> printed;
    if (!mode.split) {
        printed.push_back({rendertest::InkLevels(page, mode, mode.planes[plane].inkCode,
                                                 static_cast<std::uint32_t>(width)),
                           mode.planes[plane].levels - 1});
        return printed;
    }
    static constexpr int kSource[16] = {0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5, 3, 4, 3, 4};
    const auto codes = inkrow::decode::ListInkSetCodes(mode.inkSetId);
    for (int k = 0; k < 16; ++k)
        if (kSource[k] == plane)
            printed.push_back({rendertest::InkLevels(page, mode, codes[static_cast<std::size_t>(k)],
                                                     static_cast<std::uint32_t>(width)),
                               3});
    return printed;
}

struct ToneCase {
    int quality, media, halftone;
};

class ToneRamp : public ::testing::TestWithParam<ToneCase> {};

TEST_P(ToneRamp, CoverageFollowsTheTargetAndRises) {
    const ToneCase c = GetParam();
    RenderJobOptions options =
        rendertest::MakeOptions(c.quality, c.media, kSteps * kPatch, RENDER_CMYK8);
    options.raster.halftone = c.halftone;
    RenderMode mode;
    ASSERT_EQ(RenderDescribeMode(&options.raster.mode, &mode), RENDER_OK);
    render::Separation separation;
    render::BuildSeparation(mode, RENDER_CMYK8, &separation);
    for (int channel = 0; channel < 4; ++channel) {
        RampContext context{channel};
        const rendertest::JobRun run = rendertest::RunJob(options, 1, kPatch, DrawRamp, &context);
        ASSERT_EQ(run.status, RENDER_OK) << run.error;
        const auto decoded = rendertest::DecodeOrFail(run.stream);
        ASSERT_EQ(decoded.pages.size(), 1u);
        for (int plane = 0; plane < mode.planeCount; ++plane) {
            if (separation.recipes[plane].source != channel) continue;
            const RenderPlaneInfo& info = mode.planes[plane];
            SCOPED_TRACE(std::string(mode.inks) + " plane " + info.ink);
            const std::vector<Printed> printed =
                PrintedPlanesOf(decoded.pages[0], mode, plane, options.raster.width);
            double previous = -1;
            for (int step = 0; step < kSteps; ++step) {
                double coverage = 0;
                for (const Printed& p : printed)
                    coverage += rendertest::Coverage(p.image, step * kPatch + kInset, kInset,
                                                     (step + 1) * kPatch - kInset, kPatch - kInset,
                                                     p.topLevel) /
                                static_cast<double>(printed.size());
                const double target = TargetOf(separation, plane, step * 255 / (kSteps - 1));
                EXPECT_NEAR(coverage, target, 0.02) << "step " << step;
                // Light inks fade out as their dark partner takes over; the rest rise.
                const bool fades =
                    info.ink == 'c' || info.ink == 'm' ||
                    (info.ink == 'k' && std::string(mode.inks).find('K') != std::string::npos);
                if (!fades) {
                    EXPECT_GE(coverage, previous - 1e-9) << "step " << step;
                }
                previous = coverage;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, ToneRamp,
                         ::testing::Values(ToneCase{20, 0, RENDER_DIFFUSION},  // 1-bit CMYK
                                           ToneCase{10, 0, RENDER_DIFFUSION},  // converted C, M
                                           ToneCase{5, 0, RENDER_DIFFUSION},   // CMYKcm
                                           ToneCase{5, 7, RENDER_DIFFUSION},   // CMYKcmk
                                           ToneCase{5, 0, RENDER_ORDERED},
                                           ToneCase{10, 7, RENDER_ORDERED},    // CMYKk
                                           ToneCase{0, 26, RENDER_DIFFUSION},  // sixteen inks
                                           ToneCase{0, 26, RENDER_ORDERED}));

// Dark and light ink together print the density asked for, rising steadily.
TEST(LightInks, DarkPlusLightDensityRisesAndLightLeadsInHighlights) {
    for (char dark : {'C', 'M', 'K'}) {
        const render::LightSplit& split = render::LightSplitOf(dark);
        double previous = -1;
        for (int i = 0; i <= 100; ++i) {
            const double amount = i / 100.0;
            const double density =
                render::DarkShare(split, amount) + split.ratio * render::LightShare(split, amount);
            EXPECT_NEAR(density, amount, 1e-9) << dark << " " << amount;
            EXPECT_GE(density, previous);
            previous = density;
            if (amount <= split.handover) {
                EXPECT_EQ(render::DarkShare(split, amount), 0.0);
            }
        }
        EXPECT_EQ(render::LightShare(split, 1.0), 0.0);
        EXPECT_EQ(render::DarkShare(split, 1.0), 1.0);
    }
}

TEST(ToneCurves, RiseFromNothingToFull) {
    for (char ink : {'C', 'M', 'Y', 'K', 'c', 'm', 'k'}) {
        EXPECT_EQ(render::ApplyToneCurve(ink, 0.0), 0.0);
        EXPECT_NEAR(render::ApplyToneCurve(ink, 1.0), 1.0, 1e-12);
        double previous = 0;
        for (int i = 1; i <= 1000; ++i) {
            const double printed = render::ApplyToneCurve(ink, i / 1000.0);
            EXPECT_GT(printed, previous) << ink << " " << i;
            previous = printed;
        }
    }
}

void DrawMidGray(int, int width, std::uint8_t* line, const void*) {
    for (int x = 0; x < 3 * width; ++x)
        line[x] = 128;
}

TEST(ToneStability, MidGrayCoverageDoesNotDependOnPosition) {
    for (int halftone : {RENDER_DIFFUSION, RENDER_ORDERED}) {
        const int width = 256;
        const int height = 3000;
        RenderJobOptions options = rendertest::MakeOptions(5, 0, width, RENDER_RGB8);
        options.raster.halftone = halftone;
        RenderMode mode;
        ASSERT_EQ(RenderDescribeMode(&options.raster.mode, &mode), RENDER_OK);
        const rendertest::JobRun run = rendertest::RunJob(options, 1, height, DrawMidGray);
        ASSERT_EQ(run.status, RENDER_OK) << run.error;
        const auto decoded = rendertest::DecodeOrFail(run.stream);
        const auto black = rendertest::InkLevels(decoded.pages[0], mode, 'K', width);
        const double top = rendertest::Coverage(black, 0, 64, width, 576, 1);
        const double middle = rendertest::Coverage(black, 0, 1250, width, 1762, 1);
        const double bottom = rendertest::Coverage(black, 0, 2400, width, 2912, 1);
        EXPECT_GT(top, 0.05);
        EXPECT_NEAR(middle, top, 0.01) << "halftone " << halftone;
        EXPECT_NEAR(bottom, top, 0.01) << "halftone " << halftone;
    }
}

}  // namespace
