// Tone: ramps of each ink printed, read back with the decoder, and measured. Coverage
// follows the ink's target (split share and tone curve) within 2 % and rises with the
// amount asked for; a flat tone prints the same at the top and the bottom of a page.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "halftone.h"
#include "ink_model.h"
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
    render::BuildSeparation(mode, RENDER_CMYK8, nullptr, &separation);
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
                // (Without a K ink, light black gives way to the composite in the darks.)
                const bool fades = info.ink == 'c' || info.ink == 'm' || info.ink == 'k';
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

// Dark and light ink together print, in the ink model, the colour the dark ink alone
// would print (within one ΔE2000 at every step); the light ink alone takes the highlights.
TEST(LightInks, PairPrintsTheDarkInksToneAndLightLeadsInHighlights) {
    for (char dark : {'C', 'M', 'K'}) {
        render::LightSplit split;
        render::BuildLightSplit(dark, false, &split);
        const char inks[2] = {dark, static_cast<char>(dark - 'A' + 'a')};
        inkrow::ink::InkSet pair;
        ASSERT_TRUE(inkrow::ink::MakeInkSet(inks, 2, &pair));
        for (int i = 0; i <= 100; ++i) {
            const auto amount = static_cast<std::size_t>(i * render::kInkFull / 100);
            const double ideal[2] = {render::ApplyToneCurve(dark, i / 100.0), 0.0};
            const double printed[2] = {split.dark[amount] / double{render::kInkFull},
                                       split.light[amount] / double{render::kInkFull}};
            const auto want = inkrow::ink::ToLab(inkrow::ink::PredictPatch(pair, ideal));
            const auto got = inkrow::ink::ToLab(inkrow::ink::PredictPatch(pair, printed));
            EXPECT_LE(inkrow::ink::DeltaE2000(want, got), 1.0) << dark << " " << i << " %";
            if (i <= 15) {
                EXPECT_EQ(split.dark[amount], 0) << dark << " " << i << " %";
            }
        }
        EXPECT_EQ(split.light[render::kInkFull], 0);
        EXPECT_EQ(split.dark[render::kInkFull], render::kInkFull);
    }
}

// Black, in every ink set: a solid 100 % black (device K, and sRGB black) and black
// text-like strokes print at L* <= 20 in the ink model, read back from the stream. The
// sets without a K ink build it from cyan, magenta, yellow and light black.
constexpr int kStroke = 3;
void DrawBlack(int y, int width, std::uint8_t* line, const void*) {
    for (int x = 0; x < width; ++x) {
        std::uint8_t* p = line + 4 * x;
        const bool patch = x < kPatch;
        const bool stroke = x >= kPatch + kStroke && (x / kStroke) % 2 == 0 && (y / 24) % 2 == 0;
        p[0] = p[1] = p[2] = 0;
        p[3] = patch || stroke ? 255 : 0;
    }
}

void DrawRgbBlack(int y, int width, std::uint8_t* line, const void* context) {
    std::vector<std::uint8_t> cmyk(static_cast<std::size_t>(width) * 4);
    DrawBlack(y, width, cmyk.data(), context);
    for (int x = 0; x < width; ++x)
        for (int c = 0; c < 3; ++c)
            line[3 * x + c] = cmyk[static_cast<std::size_t>(4 * x + 3)] != 0 ? 0 : 255;
}

TEST(Black, SolidAndTextPrintDarkInEveryInkSet) {
    RenderModePair pairs[64];
    const int count = std::min(64, RenderListModePairs(pairs, 64));
    bool seen[16] = {};
    for (int p = 0; p < count; ++p) {
        if (seen[pairs[p].inkSetId]) continue;
        seen[pairs[p].inkSetId] = true;
        for (int space : {RENDER_CMYK8, RENDER_RGB8}) {
            const int width = 2 * kPatch;
            RenderJobOptions options =
                rendertest::MakeOptions(pairs[p].qualityCode, pairs[p].mediaCode, width, space);
            options.raster.mode.resolution = 300;
            RenderMode mode;
            ASSERT_EQ(RenderDescribeMode(&options.raster.mode, &mode), RENDER_OK);
            SCOPED_TRACE(std::string(mode.inks) + (space == RENDER_RGB8 ? " sRGB" : " CMYK"));
            const rendertest::JobRun run = rendertest::RunJob(
                options, 1, kPatch, space == RENDER_RGB8 ? DrawRgbBlack : DrawBlack);
            ASSERT_EQ(run.status, RENDER_OK) << run.error;
            const auto decoded = rendertest::DecodeOrFail(run.stream);
            std::vector<std::vector<Printed>> planes;
            for (int plane = 0; plane < mode.planeCount; ++plane)
                planes.push_back(PrintedPlanesOf(decoded.pages[0], mode, plane, width));
            inkrow::ink::InkSet set;
            ASSERT_TRUE(inkrow::ink::MakeInkSet(mode.inks, mode.planeCount, &set));
            // Mean of each region in the model's 1/n domain, as an instrument averages.
            const auto lightness = [&](bool strokes) {
                inkrow::ink::Bands sum;
                int pixels = 0;
                std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 4);
                for (int y = kInset; y < kPatch - kInset; ++y) {
                    DrawBlack(y, width, row.data(), nullptr);
                    for (int x = 0; x < width; ++x) {
                        const bool inPatch = x >= kInset && x < kPatch - kInset;
                        const bool inStroke =
                            x >= kPatch && row[4 * static_cast<std::size_t>(x) + 3];
                        if (strokes ? !inStroke : !inPatch) continue;
                        double coverage[RENDER_MAX_PLANES] = {};
                        for (int plane = 0; plane < mode.planeCount; ++plane) {
                            const auto& printed = planes[static_cast<std::size_t>(plane)];
                            for (const Printed& pr : printed) {
                                if (pr.image.levels.empty()) continue;
                                coverage[plane] +=
                                    pr.image.levels[static_cast<std::size_t>(y) * pr.image.width +
                                                    static_cast<std::size_t>(x)] /
                                    static_cast<double>(pr.topLevel * printed.size());
                            }
                        }
                        const auto mix = inkrow::ink::MixRoot(set, coverage);
                        for (int b = 0; b < 3; ++b)
                            sum.v[b] += mix.v[b];
                        ++pixels;
                    }
                }
                for (int b = 0; b < 3; ++b)
                    sum.v[b] /= pixels;
                return inkrow::ink::ToLab(inkrow::ink::FromRoot(sum)).l;
            };
            EXPECT_LE(lightness(false), 20.0) << "solid";
            EXPECT_LE(lightness(true), 20.0) << "text";
        }
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
