// The halftone building blocks: the shipped threshold matrix, error diffusion's
// bookkeeping between lines, and packing.
#include "halftone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "test_seed.h"

namespace {

namespace render = inkrow::render;

TEST(BlueNoise, ShippedMatrixIsWhatTheGeneratorBuilds) {
    const render::ThresholdMatrix built = render::BuildBlueNoiseMatrix();
    const std::vector<std::uint16_t> shipped(std::begin(render::kBlueNoiseMatrix),
                                             std::end(render::kBlueNoiseMatrix));
    EXPECT_EQ(built.values, shipped);
    std::vector<std::uint16_t> sorted = shipped;
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < render::kInkFull; ++i)
        ASSERT_EQ(sorted[static_cast<std::size_t>(i)], i);
}

// Low thresholds are spread out: the first 1/16 of the cells, about one in four pixels
// apart on average, never touch each other, even across the wrap.
TEST(BlueNoise, SparseThresholdsKeepApart) {
    const std::uint16_t* matrix = render::kBlueNoiseMatrix;
    const int n = render::kMatrixSize;
    auto on = [&](int x, int y) {
        return matrix[static_cast<std::size_t>(((y + n) % n) * n + (x + n) % n)] <
               render::kInkFull / 16;
    };
    int touching = 0;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            if (on(x, y) && (on(x + 1, y) || on(x, y + 1) || on(x + 1, y + 1) || on(x - 1, y + 1)))
                ++touching;
    EXPECT_EQ(touching, 0);
}

// Diffusion keeps the mean of a flat tone, leaves white alone, and the state left by one
// page's ink does not leak into blank lines.
TEST(Diffusion, KeepsTheMeanAndWhiteStaysWhite) {
    const int width = 256;
    for (int levelCount : {2, 3, 4, 8, 16}) {
        render::DiffusionState state;
        render::ResetDiffusion(&state, width);
        std::vector<std::uint16_t> identity(render::kInkFull + 1);
        for (int a = 0; a <= render::kInkFull; ++a)
            identity[static_cast<std::size_t>(a)] = static_cast<std::uint16_t>(a);
        std::vector<std::uint16_t> amounts(width, 1234);
        std::vector<std::uint8_t> levels(width + 8, 0);
        long total = 0;
        for (int y = 0; y < 256; ++y) {
            const render::InkedRange range =
                render::DiffuseLine(&state, amounts.data(), identity.data(), 0, width, levelCount,
                                    y, 0, nullptr, levels.data());
            for (int x = range.first; x < range.end; ++x)
                total += levels[static_cast<std::size_t>(x)];
            std::fill(levels.begin(), levels.end(), 0);
        }
        const double mean = static_cast<double>(total) / (256.0 * width * (levelCount - 1));
        EXPECT_NEAR(mean, 1234.0 / render::kInkFull, 0.002) << levelCount << " levels";
        std::fill(amounts.begin(), amounts.end(), 0);
        for (int y = 256; y < 260; ++y) {
            const render::InkedRange range =
                render::DiffuseLine(&state, amounts.data(), identity.data(), 0, width, levelCount,
                                    y, 0, nullptr, levels.data());
            EXPECT_EQ(range.end, range.first);
            EXPECT_TRUE(
                std::all_of(levels.begin(), levels.end(), [](std::uint8_t v) { return v == 0; }));
        }
        // Errors left from the inked lines were discarded: a later light line starts clean.
        EXPECT_TRUE(
            std::all_of(state.rows[0].begin(), state.rows[0].end(), [](int e) { return e == 0; }));
        EXPECT_TRUE(
            std::all_of(state.rows[1].begin(), state.rows[1].end(), [](int e) { return e == 0; }));
    }
}

// Both halftones, at every level count a plane takes, on random amounts with white
// pixels among them: levels stay below the count, white pixels never print, a full
// amount prints the top level, and the mean of a region follows its amount.
TEST(Halftones, KeepTheirLevelCountsAndNeverPrintWhereNoInkWasAsked) {
    const std::uint32_t seed = testseed::TestSeed(21);
    SCOPED_TRACE(testseed::SeedNote(seed));
    std::mt19937 random(seed);
    const int width = 200;
    std::vector<std::uint16_t> identity(render::kInkFull + 1);
    for (int a = 0; a <= render::kInkFull; ++a)
        identity[static_cast<std::size_t>(a)] = static_cast<std::uint16_t>(a);
    for (bool ordered : {false, true}) {
        for (int levelCount : {2, 3, 4, 7, 13}) {
            SCOPED_TRACE((ordered ? "ordered, " : "diffusion, ") + std::to_string(levelCount));
            render::DiffusionState state;
            render::ResetDiffusion(&state, width);
            std::vector<std::uint8_t> levels(width + 8, 0);
            std::vector<std::uint16_t> amounts(width);
            // Columns 0..49 random with white between, 50..99 full, 100..199 one flat tone.
            const auto flat = static_cast<std::uint16_t>(random() % render::kInkFull);
            long flatTotal = 0;
            for (int y = 0; y < 128; ++y) {
                for (int x = 0; x < width; ++x)
                    amounts[static_cast<std::size_t>(x)] =
                        x < 50 ? (random() % 3 == 0 ? 0 : random() % (render::kInkFull + 1))
                               : (x < 100 ? render::kInkFull : flat);
                if (ordered)
                    render::OrderLine(amounts.data(), identity.data(), 0, width, levelCount, y,
                                      y * 7, levels.data());
                else
                    render::DiffuseLine(&state, amounts.data(), identity.data(), 0, width,
                                        levelCount, y, y * 7, nullptr, levels.data());
                for (int x = 0; x < width; ++x) {
                    const auto at = static_cast<std::size_t>(x);
                    ASSERT_LT(levels[at], levelCount) << "x " << x << " y " << y;
                    if (amounts[at] == 0) {
                        ASSERT_EQ(levels[at], 0) << "x " << x << " y " << y;
                    }
                    if (x >= 50 && x < 100) {
                        ASSERT_EQ(levels[at], levelCount - 1) << "x " << x << " y " << y;
                    }
                    if (x >= 100) flatTotal += levels[at];
                }
                std::fill(levels.begin(), levels.end(), 0);
            }
            EXPECT_NEAR(static_cast<double>(flatTotal) / (128.0 * 100 * (levelCount - 1)),
                        static_cast<double>(flat) / render::kInkFull, 0.01);
        }
    }
}

TEST(Packing, PacksMostSignificantFirstAndClearsTheRest) {
    // Packing reads whole bytes of pixels: the level arrays run on with zeros.
    const std::uint8_t levels[16] = {0, 1, 2, 3, 1, 0, 0, 0, 0, 3};
    std::uint8_t line[3] = {0xEE, 0xEE, 0xEE};
    render::PackLevels(levels, 1, 10, 10, 2, line);
    EXPECT_EQ(line[0], 0x1B);  // 00 01 10 11
    EXPECT_EQ(line[1], 0x40);  // 01 00 00 00
    EXPECT_EQ(line[2], 0x30);  // 00 11, then padding
    std::uint8_t wide[2] = {0xEE, 0xEE};
    const std::uint8_t sixteen[8] = {15, 7, 9};
    render::PackLevels(sixteen, 0, 3, 3, 4, wide);
    EXPECT_EQ(wide[0], 0xF7);
    EXPECT_EQ(wide[1], 0x90);
    const std::uint8_t ones[16] = {0, 1, 1, 1, 1, 0, 0, 0, 0, 1};
    std::uint8_t bits[2] = {0xEE, 0xEE};
    render::PackLevels(ones, 1, 10, 10, 1, bits);
    EXPECT_EQ(bits[0], 0x78);  // pixels 1..4 inked
    EXPECT_EQ(bits[1], 0x40);
    render::PackLevels(levels, 3, 3, 10, 1, bits);  // empty range: all cleared
    EXPECT_EQ(bits[0] | bits[1], 0);
}

}  // namespace
