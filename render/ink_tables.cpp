// Tables the separation builds from the ink model: the light-ink split and the composite
// black of the ink sets without a K ink. Both are solved on a coarse grid of amounts and
// interpolated, which keeps opening a raster cheap.
#include <algorithm>
#include <cmath>

#include "ink_model.h"
#include "separation.h"

namespace inkrow::render {
namespace {

constexpr int kKnots = 256;  // grid intervals over 0 .. 1

double LightnessOf(const ink::InkSet& set, const double* coverage) {
    return ink::ToLab(ink::PredictPatch(set, coverage)).l;
}

// Lightness the dark ink alone prints for a process amount, through its tone curve.
double IdealLightness(char darkInk, double amount) {
    ink::InkSet set;
    ink::MakeInkSet(&darkInk, 1, &set);
    const double coverage = ApplyToneCurve(darkInk, amount);
    return LightnessOf(set, &coverage);
}

// The smallest x in [0, 1] where lightness(x), falling with x, reaches `target`; 1 when
// it never does.
template <typename Lightness>
double SolveFalling(Lightness lightness, double target) {
    if (lightness(1.0) > target) return 1.0;
    double low = 0.0;
    double high = 1.0;
    for (int i = 0; i < 40; ++i) {
        const double mid = (low + high) / 2.0;
        (lightness(mid) > target ? low : high) = mid;
    }
    return high;
}

std::uint16_t ToAmount(double value) {
    return static_cast<std::uint16_t>(std::lround(std::clamp(value, 0.0, 1.0) * kInkFull));
}

// Fills table[0 .. kInkFull] by linear interpolation of knots[0 .. kKnots]. A table entry
// is 0 only where no ink is asked for, so that white stays white and the smallest amount
// prints something.
void Interpolate(const double* knots, std::vector<std::uint16_t>* table) {
    table->resize(kInkFull + 1);
    for (int a = 0; a <= kInkFull; ++a) {
        const double at = static_cast<double>(a) * kKnots / kInkFull;
        const int i = std::min(static_cast<int>(at), kKnots - 1);
        const double value = knots[i] + (at - i) * (knots[i + 1] - knots[i]);
        std::uint16_t amount = ToAmount(value);
        if (a > 0 && value > 0.0 && amount == 0) amount = 1;
        (*table)[static_cast<std::size_t>(a)] = a == 0 ? 0 : amount;
    }
}

}  // namespace

void BuildLightSplit(char darkInk, LightSplit* split) {
    const char pair[2] = {darkInk, static_cast<char>(darkInk - 'A' + 'a')};
    ink::InkSet set;
    ink::MakeInkSet(pair, 2, &set);
    const auto lightness = [&](double dark, double light) {
        const double coverage[2] = {dark, light};
        return LightnessOf(set, coverage);
    };
    const double handoverLightness = lightness(0.0, kLightHandover);
    const double handoverAmount =
        SolveFalling([&](double a) { return IdealLightness(darkInk, a); }, handoverLightness);
    double dark[kKnots + 1];
    double light[kKnots + 1];
    for (int i = 0; i <= kKnots; ++i) {
        const double amount = static_cast<double>(i) / kKnots;
        const double target = IdealLightness(darkInk, amount);
        if (target >= handoverLightness) {
            dark[i] = 0.0;
            light[i] = SolveFalling([&](double l) { return lightness(0.0, l); }, target);
        } else {
            // Past the handover the light ink fades with the amount still to go.
            const double fade =
                handoverAmount >= 1.0 ? 0.0 : (1.0 - amount) / (1.0 - handoverAmount);
            light[i] = kLightHandover * std::clamp(fade, 0.0, 1.0);
            dark[i] = SolveFalling([&](double d) { return lightness(d, light[i]); }, target);
        }
    }
    Interpolate(dark, &split->dark);
    Interpolate(light, &split->light);
}

namespace {

// What a pixel's process amounts print: the plane coverages of the mode.
void PlaneCoverages(const RenderMode& mode, const Separation& separation, const double process[4],
                    double* coverage) {
    double amounts[4];
    for (int p = 0; p < 4; ++p)
        amounts[p] = process[p];
    if (separation.compositeBlack && !separation.composite.empty()) {
        const std::size_t k = ToAmount(process[kProcessBlack]);
        for (int p = 0; p < 3; ++p)
            amounts[p] =
                std::min(1.0, amounts[p] + separation.composite[k] / static_cast<double>(kInkFull));
    }
    for (int i = 0; i < mode.planeCount; ++i) {
        const PlaneRecipe& recipe = separation.recipes[i];
        const std::size_t amount = ToAmount(amounts[recipe.source]);
        coverage[i] =
            recipe.table.empty() ? 0.0 : recipe.table[amount] / static_cast<double>(kInkFull);
    }
}

}  // namespace

ink::Lab PredictProcess(const RenderMode& mode, const Separation& separation, double cyan,
                        double magenta, double yellow, double black) {
    ink::InkSet set;
    ink::MakeInkSet(mode.inks, mode.planeCount, &set);
    const double process[4] = {cyan, magenta, yellow, black};
    double coverage[RENDER_MAX_PLANES];
    PlaneCoverages(mode, separation, process, coverage);
    return ink::ToLab(ink::PredictPatch(set, coverage));
}

void BuildCompositeBlack(const RenderMode& mode, const Separation& separation,
                         std::vector<std::uint16_t>* composite,
                         std::vector<std::uint16_t>* lightBlack) {
    ink::InkSet set;
    ink::MakeInkSet(mode.inks, mode.planeCount, &set);
    int lightBlackPlane = -1;
    for (int i = 0; i < mode.planeCount; ++i)
        if (mode.planes[i].ink == 'k') lightBlackPlane = i;
    // A path from white to the darkest black within the ink limit, t from 0 to 2: light
    // black alone up to full (t 0 .. 1), then cyan, magenta and yellow added equally over
    // it (t 1 .. 2), the light black giving way where the three would pass the limit.
    // Without a light black the path starts at t = 1.
    const auto pointOf = [&](double t, double* x, double* k) {
        if (lightBlackPlane < 0) {
            *x = std::max(0.0, t - 1.0);
            *k = 0.0;
            return;
        }
        *x = std::max(0.0, t - 1.0);
        *k = std::min(1.0, t);
    };
    double coverage[RENDER_MAX_PLANES];
    const auto lightnessAt = [&](double t) {
        double x = 0.0;
        double k = 0.0;
        pointOf(t, &x, &k);
        const double process[4] = {x, x, x, 0.0};
        PlaneCoverages(mode, separation, process, coverage);
        double total = 0.0;
        for (int i = 0; i < mode.planeCount; ++i)
            if (i != lightBlackPlane) total += coverage[i];
        if (lightBlackPlane >= 0)
            coverage[lightBlackPlane] = std::clamp(kCompositeInkLimit - total, 0.0, k);
        return LightnessOf(set, coverage);
    };
    // Lightness along the path, made non-increasing so that the search below is well posed.
    constexpr int kSteps = 2 * kKnots;
    double pathLightness[kSteps + 1];
    for (int s = 0; s <= kSteps; ++s) {
        const double l = lightnessAt(2.0 * s / kSteps);
        pathLightness[s] = s == 0 ? l : std::min(l, pathLightness[s - 1]);
    }
    const int start = lightBlackPlane < 0 ? kKnots : 0;
    double added[kKnots + 1];
    double light[kKnots + 1];
    for (int i = 0; i <= kKnots; ++i) {
        const double target = IdealLightness('K', static_cast<double>(i) / kKnots);
        int s = start;
        while (s < kSteps && pathLightness[s] > target)
            ++s;
        double t = 2.0 * s / kSteps;
        if (s > start && pathLightness[s] <= target) {
            // Between the two path points around the target.
            const double before = pathLightness[s - 1];
            const double after = pathLightness[s];
            const double f = before > after ? (before - target) / (before - after) : 1.0;
            t = 2.0 * (s - 1 + f) / kSteps;
        }
        if (i == 0) t = 0.0;
        double x = 0.0;
        double k = 0.0;
        pointOf(t, &x, &k);
        added[i] = x;
        if (lightBlackPlane >= 0) {
            const double process[4] = {x, x, x, 0.0};
            PlaneCoverages(mode, separation, process, coverage);
            double total = 0.0;
            for (int p = 0; p < mode.planeCount; ++p)
                if (p != lightBlackPlane) total += coverage[p];
            light[i] = std::clamp(kCompositeInkLimit - total, 0.0, k);
        } else {
            light[i] = 0.0;
        }
    }
    Interpolate(added, composite);
    Interpolate(light, lightBlack);
}

}  // namespace inkrow::render
