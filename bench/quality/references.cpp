#include "references.h"

#include <algorithm>
#include <cmath>

namespace quality {
namespace {

// Zhou and Fang's coefficients at their key levels (of 0 .. 127; a level above 127 reads
// as 255 - level): to the right, below-left and below, relative.
struct KeyCoefficients {
    int level;
    double right, belowLeft, below;
};
constexpr KeyCoefficients kCoefficients[] = {
    {0, 13, 0, 5},
    {1, 1300249, 0, 499250},
    {2, 214114, 287, 99357},
    {3, 351854, 0, 199965},
    {4, 801100, 0, 490999},
    {10, 704075, 297466, 303694},
    {22, 46613, 31917, 21469},
    {32, 47482, 30617, 21900},
    {44, 43024, 42131, 14826},
    {64, 36411, 43219, 20369},
    {72, 38477, 53843, 7678},
    {77, 40503, 51547, 7948},
    {85, 35865, 34108, 30026},
    {95, 34117, 36899, 28983},
    {102, 35132, 36059, 28807},
    {107, 16477, 18810, 14712},
    {112, 33360, 37954, 28685},
    {127, 35269, 36066, 28664},
};
// Their threshold modulation strength, percent, at key levels.
struct KeyStrength {
    int level;
    double percent;
};
constexpr KeyStrength kStrengths[] = {{0, 0},   {44, 34},  {64, 50},  {80, 100}, {85, 100},
                                      {95, 17}, {102, 50}, {107, 70}, {112, 79}, {127, 100}};

struct Weights {
    double right, belowLeft, below, strength;
};

Weights WeightsAt(int level) {
    level = std::clamp(level, 0, 255);
    if (level > 127) level = 255 - level;
    Weights w{};
    for (std::size_t i = 1; i < std::size(kCoefficients); ++i) {
        const KeyCoefficients& a = kCoefficients[i - 1];
        const KeyCoefficients& b = kCoefficients[i];
        if (level > b.level) continue;
        const double t = static_cast<double>(level - a.level) / (b.level - a.level);
        const double sa = a.right + a.belowLeft + a.below;
        const double sb = b.right + b.belowLeft + b.below;
        w.right = (1 - t) * a.right / sa + t * b.right / sb;
        w.belowLeft = (1 - t) * a.belowLeft / sa + t * b.belowLeft / sb;
        w.below = (1 - t) * a.below / sa + t * b.below / sb;
        break;
    }
    for (std::size_t i = 1; i < std::size(kStrengths); ++i) {
        const KeyStrength& a = kStrengths[i - 1];
        const KeyStrength& b = kStrengths[i];
        if (level > b.level) continue;
        const double t = static_cast<double>(level - a.level) / (b.level - a.level);
        w.strength = ((1 - t) * a.percent + t * b.percent) / 100.0;
        break;
    }
    return w;
}

}  // namespace

std::vector<std::uint8_t> HalftoneReference(Reference method, const std::vector<double>& amounts,
                                            int width, int height, int levelCount,
                                            std::uint32_t seed) {
    const int top = levelCount - 1;
    std::vector<std::uint8_t> out(amounts.size(), 0);
    std::vector<double> now(static_cast<std::size_t>(width) + 2, 0.0);
    std::vector<double> next(now.size(), 0.0);
    std::uint32_t random = seed * 2654435761u + 1u;
    for (int y = 0; y < height; ++y) {
        std::fill(next.begin(), next.end(), 0.0);
        const bool forward = y % 2 == 0;
        for (int i = 0; i < width; ++i) {
            const int x = forward ? i : width - 1 - i;
            const int step = forward ? 1 : -1;
            const double asked =
                std::clamp(amounts[static_cast<std::size_t>(y) * width + x], 0.0, 1.0) * top;
            const double value = asked + now[static_cast<std::size_t>(x) + 1];
            const double base = std::floor(std::min(asked, top - 1e-9));
            const double fraction = asked - base;  // place between two levels, 0 .. 1
            double threshold = 0.5;
            Weights w{7.0 / 16, 3.0 / 16, 5.0 / 16, 0.0};
            double aheadBelow = 1.0 / 16;
            if (method == Reference::kZhouFang) {
                w = WeightsAt(static_cast<int>(std::lround(fraction * 255.0)));
                aheadBelow = 0.0;
                random = random * 1664525u + 1013904223u;
                const double u = static_cast<double>((random >> 9) % 128) / 255.0;
                threshold = 0.5 + u * w.strength;
            }
            int level = static_cast<int>(base) + (value - base >= threshold ? 1 : 0);
            level = std::clamp(level, 0, top);
            const double error = value - level;
            out[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint8_t>(level);
            const auto at = [&](int column) { return static_cast<std::size_t>(column + 1); };
            if (x + step >= 0 && x + step < width) now[at(x + step)] += error * w.right;
            if (x - step >= 0 && x - step < width) next[at(x - step)] += error * w.belowLeft;
            next[at(x)] += error * w.below;
            if (x + step >= 0 && x + step < width) next[at(x + step)] += error * aheadBelow;
        }
        std::swap(now, next);
    }
    return out;
}

}  // namespace quality
