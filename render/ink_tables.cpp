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

// Lightness the dark ink alone prints for a process amount, through its tone curve
// unless the inks print raw.
double IdealLightness(char darkInk, bool raw, double amount) {
    ink::InkSet set;
    ink::MakeInkSet(&darkInk, 1, &set);
    const double coverage = raw ? amount : ApplyToneCurve(darkInk, amount);
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

void BuildLightSplit(char darkInk, bool raw, LightSplit* split) {
    const char pair[2] = {darkInk, static_cast<char>(darkInk - 'A' + 'a')};
    ink::InkSet set;
    ink::MakeInkSet(pair, 2, &set);
    const auto lightness = [&](double dark, double light) {
        const double coverage[2] = {dark, light};
        return LightnessOf(set, coverage);
    };
    const double handoverLightness = lightness(0.0, kLightHandover);
    const double handoverAmount =
        SolveFalling([&](double a) { return IdealLightness(darkInk, raw, a); }, handoverLightness);
    double dark[kKnots + 1];
    double light[kKnots + 1];
    for (int i = 0; i <= kKnots; ++i) {
        const double amount = static_cast<double>(i) / kKnots;
        const double target = IdealLightness(darkInk, raw, amount);
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
    if (separation.compositeBlack && !separation.composite[0].empty()) {
        const std::size_t k = ToAmount(process[kProcessBlack]);
        for (int p = 0; p < 3; ++p)
            amounts[p] = std::min(
                1.0, amounts[p] + separation.composite[p][k] / static_cast<double>(kInkFull));
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

namespace {

// The shares of cyan, magenta and yellow in a composite (the largest share 1), found by a
// search over a grid for the mix nearest to a dark neutral.
struct Balance {
    double share[3] = {1.0, 1.0, 1.0};
};

}  // namespace

void BuildCompositeBlack(const RenderMode& mode, const Separation& separation,
                         std::vector<std::uint16_t> composite[3],
                         std::vector<std::uint16_t>* lightBlack) {
    ink::InkSet set;
    ink::MakeInkSet(mode.inks, mode.planeCount, &set);
    int lightBlackPlane = -1;
    for (int i = 0; i < mode.planeCount; ++i)
        if (mode.planes[i].ink == 'k') lightBlackPlane = i;
    double coverage[RENDER_MAX_PLANES];
    // The plane coverages of a composite x (shared out by `balance`) over light black k,
    // the light black giving way where the total would pass the ink limit.
    const auto cover = [&](double x, double k, const Balance& balance) {
        const double process[4] = {x * balance.share[0], x * balance.share[1], x * balance.share[2],
                                   0.0};
        PlaneCoverages(mode, separation, process, coverage);
        double total = 0.0;
        for (int i = 0; i < mode.planeCount; ++i)
            if (i != lightBlackPlane) total += coverage[i];
        const double light = std::clamp(kCompositeInkLimit - total, 0.0, k);
        if (lightBlackPlane >= 0) coverage[lightBlackPlane] = light;
        return light;
    };
    // Gray balance at a few amounts of composite, interpolated between them.
    constexpr int kBalancePoints = 4;
    Balance balances[kBalancePoints + 1];
    for (int b = 1; b <= kBalancePoints; ++b) {
        const double x = static_cast<double>(b) / kBalancePoints;
        double best = 1e9;
        for (int largest = 0; largest < 3; ++largest) {
            for (int i = 0; i <= 20; ++i) {
                for (int j = 0; j <= 20; ++j) {
                    Balance trial;
                    trial.share[(largest + 1) % 3] = 0.4 + 0.03 * i;
                    trial.share[(largest + 2) % 3] = 0.4 + 0.03 * j;
                    cover(x, lightBlackPlane >= 0 ? 1.0 : 0.0, trial);
                    const ink::Lab lab = ink::ToLab(ink::PredictPatch(set, coverage));
                    // Neutral, but not at the cost of darkness, which counts the more the
                    // deeper the black; at full, where black must be as dark as the inks
                    // allow, a unit of lightness weighs as much as two of chroma.
                    const double cost = std::hypot(lab.a, lab.b - ink::PaperLab().b) +
                                        (b == kBalancePoints ? 2.0 : x) * lab.l;
                    if (cost < best) {
                        best = cost;
                        balances[b] = trial;
                    }
                }
            }
        }
    }
    balances[0] = balances[1];
    const auto balanceAt = [&](double x) {
        const double at = std::clamp(x, 0.0, 1.0) * kBalancePoints;
        const int i = std::min(static_cast<int>(at), kBalancePoints - 1);
        Balance mixed;
        for (int c = 0; c < 3; ++c)
            mixed.share[c] =
                balances[i].share[c] + (at - i) * (balances[i + 1].share[c] - balances[i].share[c]);
        return mixed;
    };
    // A path from white to the darkest black within the ink limit, t from 0 to 2: light
    // black alone up to full (t 0 .. 1), then the balanced composite added over it (t 1 ..
    // 2). Without a light black the path starts at t = 1.
    const auto pointOf = [&](double t, double* x, double* k) {
        *x = std::max(0.0, t - 1.0);
        *k = lightBlackPlane < 0 ? 0.0 : std::min(1.0, t);
    };
    const auto lightnessAt = [&](double t) {
        double x = 0.0;
        double k = 0.0;
        pointOf(t, &x, &k);
        cover(x, k, balanceAt(x));
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
    double added[3][kKnots + 1];
    double light[kKnots + 1];
    for (int i = 0; i <= kKnots; ++i) {
        const double target =
            IdealLightness('K', ColorRawInks(separation.color), static_cast<double>(i) / kKnots);
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
        const Balance balance = balanceAt(x);
        for (int c = 0; c < 3; ++c)
            added[c][i] = x * balance.share[c];
        light[i] = cover(x, k, balance);
        if (lightBlackPlane < 0) light[i] = 0.0;
    }
    for (int c = 0; c < 3; ++c)
        Interpolate(added[c], &composite[c]);
    Interpolate(light, lightBlack);
}

}  // namespace inkrow::render
