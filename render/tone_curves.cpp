// Per-ink data: tone curves (linearisation). Curves are points in
// percent, asked for -> printed, increasing; between points the curve is linear. The dark
// inks spread on the paper, so their curves print less than asked in the mid tones;
// yellow and the light inks spread less.
#include <array>
#include <cstddef>

#include "separation.h"

namespace inkrow::render {
namespace {

struct CurvePoint {
    double asked;
    double printed;
};

struct InkCurve {
    char ink;
    std::array<CurvePoint, 6> points;
};

constexpr InkCurve kCurves[] = {
    {'C', {{{0, 0}, {10, 8}, {25, 20}, {50, 43}, {75, 70}, {100, 100}}}},
    {'M', {{{0, 0}, {10, 8}, {25, 20}, {50, 43}, {75, 70}, {100, 100}}}},
    {'Y', {{{0, 0}, {10, 9}, {25, 22}, {50, 46}, {75, 72}, {100, 100}}}},
    {'K', {{{0, 0}, {10, 8}, {25, 19}, {50, 42}, {75, 69}, {100, 100}}}},
    {'c', {{{0, 0}, {10, 9}, {25, 23}, {50, 47}, {75, 73}, {100, 100}}}},
    {'m', {{{0, 0}, {10, 9}, {25, 23}, {50, 47}, {75, 73}, {100, 100}}}},
    {'k', {{{0, 0}, {10, 9}, {25, 23}, {50, 47}, {75, 73}, {100, 100}}}},
};

}  // namespace

double ApplyToneCurve(char ink, double amount) {
    for (const InkCurve& curve : kCurves) {
        if (curve.ink != ink) continue;
        const double percent = amount * 100.0;
        for (std::size_t i = 1; i < curve.points.size(); ++i) {
            const CurvePoint& low = curve.points[i - 1];
            const CurvePoint& high = curve.points[i];
            if (percent > high.asked && i + 1 < curve.points.size()) continue;
            const double t = (percent - low.asked) / (high.asked - low.asked);
            return (low.printed + t * (high.printed - low.printed)) / 100.0;
        }
    }
    return amount;
}

}  // namespace inkrow::render
