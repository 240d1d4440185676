#include "ink_model.h"

#include <algorithm>
#include <cmath>

namespace inkrow::ink {
namespace {

// The paper: a bright glossy white with the slight blue of its brightener.
constexpr Lab kPaper{95.0, 0.0, -2.0};

// Dark inks measured at full coverage on that paper; light inks as a fraction of their
// dark ink. Dot gain is highest for the dark, more viscous-looking
// drops and lowest for yellow and the dilute light inks.
constexpr InkData kInks[] = {
    {'C', {55.0, -37.0, -50.0}, 0, 1.0, 0.16},
    {'M', {48.0, 74.0, -3.0}, 0, 1.0, 0.16},
    {'Y', {89.0, -4.0, 93.0}, 0, 1.0, 0.12},
    {'K', {14.0, 0.0, 0.0}, 0, 1.0, 0.16},
    {'c', {}, 'C', 0.35, 0.10},
    {'m', {}, 'M', 0.35, 0.10},
    {'k', {}, 'K', 0.30, 0.10},
};

// No colour ink takes all of the band it absorbs: what it lets through there keeps the
// overprint of the three colour inks a deep brown-black rather than a perfect black.
constexpr double kColourFloor = 0.04;
constexpr double kBlackFloor = 0.005;

// D50 white and the sRGB primaries adapted to D50 (Bradford).
constexpr double kWhite[3] = {0.96422, 1.0, 0.82521};
constexpr double kToXyz[3][3] = {{0.4360747, 0.3850649, 0.1430804},
                                 {0.2225045, 0.7168786, 0.0606169},
                                 {0.0139322, 0.0971045, 0.7141733}};
constexpr double kFromXyz[3][3] = {{3.1338561, -1.6168667, -0.4906146},
                                   {-0.9787684, 1.9161415, 0.0334540},
                                   {0.0719453, -0.2289914, 1.4052427}};

double LabCurve(double t) {
    return t > 216.0 / 24389.0 ? std::cbrt(t) : (24389.0 / 27.0 * t + 16.0) / 116.0;
}

double LabCurveInverse(double f) {
    const double cube = f * f * f;
    return cube > 216.0 / 24389.0 ? cube : (116.0 * f - 16.0) * 27.0 / 24389.0;
}

double EncodeSrgb(double linear) {
    linear = std::clamp(linear, 0.0, 1.0);
    return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
}

}  // namespace

Lab PaperLab() {
    return kPaper;
}

Bands PaperBands() {
    return FromLab(kPaper);
}

const InkData* FindInk(char ink) {
    for (const InkData& data : kInks)
        if (data.ink == ink) return &data;
    return nullptr;
}

Bands InkTransmittance(char ink) {
    const InkData* data = FindInk(ink);
    Bands t;
    if (data == nullptr) {
        t.v[0] = t.v[1] = t.v[2] = 1.0;
        return t;
    }
    if (data->dark != 0) {
        // The dark ink's colour at `fraction` of coverage, mixed as the model mixes dots.
        const Bands dark = InkTransmittance(data->dark);
        const double f = data->fraction;
        for (int i = 0; i < 3; ++i)
            t.v[i] = std::pow(1.0 - f + f * std::pow(dark.v[i], 1.0 / kYuleNielsen), kYuleNielsen);
        return t;
    }
    const Bands paper = PaperBands();
    const Bands full = FromLab(data->full);
    const double floor = ink == 'K' ? kBlackFloor : kColourFloor;
    for (int i = 0; i < 3; ++i)
        t.v[i] = std::clamp(full.v[i] / paper.v[i], floor, 1.0);
    return t;
}

double SpreadCoverage(char ink, double coverage) {
    const InkData* data = FindInk(ink);
    const double gain = data == nullptr ? 0.0 : data->dotGain;
    coverage = std::clamp(coverage, 0.0, 1.0);
    return coverage + gain * coverage * (1.0 - coverage);
}

bool MakeInkSet(const char* inks, int count, InkSet* set) {
    if (count < 0 || count > kMaxInks) return false;
    set->count = count;
    Bands transmittance[kMaxInks];
    for (int i = 0; i < count; ++i) {
        if (FindInk(inks[i]) == nullptr) return false;
        set->inks[i] = inks[i];
        transmittance[i] = InkTransmittance(inks[i]);
    }
    const Bands paper = PaperBands();
    for (int mask = 0; mask < (1 << count); ++mask) {
        Bands r = paper;
        for (int i = 0; i < count; ++i)
            if ((mask >> i) & 1)
                for (int b = 0; b < 3; ++b)
                    r.v[b] *= transmittance[i].v[b];
        set->primaries[mask] = r;
        for (int b = 0; b < 3; ++b)
            set->rootPrimaries[mask].v[b] = std::pow(r.v[b], 1.0 / kYuleNielsen);
    }
    return true;
}

Bands MixRoot(const InkSet& set, const double* coverage) {
    // Only inks with partial coverage spread the weight over several primaries.
    int fullMask = 0;
    int partial[kMaxInks];
    int partialCount = 0;
    for (int i = 0; i < set.count; ++i) {
        if (coverage[i] >= 1.0)
            fullMask |= 1 << i;
        else if (coverage[i] > 0.0)
            partial[partialCount++] = i;
    }
    Bands sum;
    for (int combo = 0; combo < (1 << partialCount); ++combo) {
        double weight = 1.0;
        int mask = fullMask;
        for (int p = 0; p < partialCount; ++p) {
            const double a = coverage[partial[p]];
            if ((combo >> p) & 1) {
                weight *= a;
                mask |= 1 << partial[p];
            } else {
                weight *= 1.0 - a;
            }
        }
        for (int b = 0; b < 3; ++b)
            sum.v[b] += weight * set.rootPrimaries[mask].v[b];
    }
    return sum;
}

Bands FromRoot(const Bands& root) {
    Bands r;
    for (int b = 0; b < 3; ++b)
        r.v[b] = std::pow(std::max(root.v[b], 0.0), kYuleNielsen);
    return r;
}

Bands PredictPatch(const InkSet& set, const double* coverage) {
    double spread[kMaxInks];
    for (int i = 0; i < set.count; ++i)
        spread[i] = SpreadCoverage(set.inks[i], coverage[i]);
    return FromRoot(MixRoot(set, spread));
}

void ToXyz(const Bands& bands, double xyz[3]) {
    for (int i = 0; i < 3; ++i)
        xyz[i] = kToXyz[i][0] * bands.v[0] + kToXyz[i][1] * bands.v[1] + kToXyz[i][2] * bands.v[2];
}

Lab ToLab(const Bands& bands) {
    double xyz[3];
    ToXyz(bands, xyz);
    const double fx = LabCurve(xyz[0] / kWhite[0]);
    const double fy = LabCurve(xyz[1] / kWhite[1]);
    const double fz = LabCurve(xyz[2] / kWhite[2]);
    return Lab{116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

Bands FromLab(const Lab& lab) {
    const double fy = (lab.l + 16.0) / 116.0;
    const double xyz[3] = {kWhite[0] * LabCurveInverse(fy + lab.a / 500.0),
                           kWhite[1] * LabCurveInverse(fy),
                           kWhite[2] * LabCurveInverse(fy - lab.b / 200.0)};
    Bands bands;
    for (int i = 0; i < 3; ++i)
        bands.v[i] = kFromXyz[i][0] * xyz[0] + kFromXyz[i][1] * xyz[1] + kFromXyz[i][2] * xyz[2];
    return bands;
}

void ToSrgb(const Bands& bands, bool relativeToPaper, std::uint8_t rgb[3]) {
    const Bands paper = PaperBands();
    for (int i = 0; i < 3; ++i) {
        const double linear = relativeToPaper ? bands.v[i] / paper.v[i] : bands.v[i];
        rgb[i] = static_cast<std::uint8_t>(std::lround(EncodeSrgb(linear) * 255.0));
    }
}

double DeltaE2000(const Lab& x, const Lab& y) {
    constexpr double kPi = 3.14159265358979323846;
    const auto degrees = [](double radians) { return radians * 180.0 / kPi; };
    const auto radians = [](double deg) { return deg * kPi / 180.0; };
    const double c1 = std::hypot(x.a, x.b);
    const double c2 = std::hypot(y.a, y.b);
    const double cMean = (c1 + c2) / 2.0;
    const double c7 = std::pow(cMean, 7.0);
    const double g = 0.5 * (1.0 - std::sqrt(c7 / (c7 + std::pow(25.0, 7.0))));
    const double a1 = (1.0 + g) * x.a;
    const double a2 = (1.0 + g) * y.a;
    const double cp1 = std::hypot(a1, x.b);
    const double cp2 = std::hypot(a2, y.b);
    const auto hue = [&](double b, double a) {
        if (a == 0.0 && b == 0.0) return 0.0;
        double h = degrees(std::atan2(b, a));
        return h < 0.0 ? h + 360.0 : h;
    };
    const double h1 = hue(x.b, a1);
    const double h2 = hue(y.b, a2);
    const double dL = y.l - x.l;
    const double dC = cp2 - cp1;
    double dh = 0.0;
    if (cp1 * cp2 != 0.0) {
        dh = h2 - h1;
        if (dh > 180.0) dh -= 360.0;
        if (dh < -180.0) dh += 360.0;
    }
    const double dH = 2.0 * std::sqrt(cp1 * cp2) * std::sin(radians(dh / 2.0));
    const double lMean = (x.l + y.l) / 2.0;
    const double cpMean = (cp1 + cp2) / 2.0;
    double hMean = h1 + h2;
    if (cp1 * cp2 != 0.0) {
        if (std::fabs(h1 - h2) <= 180.0)
            hMean /= 2.0;
        else
            hMean = h1 + h2 < 360.0 ? (hMean + 360.0) / 2.0 : (hMean - 360.0) / 2.0;
    }
    const double t =
        1.0 - 0.17 * std::cos(radians(hMean - 30.0)) + 0.24 * std::cos(radians(2.0 * hMean)) +
        0.32 * std::cos(radians(3.0 * hMean + 6.0)) - 0.20 * std::cos(radians(4.0 * hMean - 63.0));
    const double dTheta = 30.0 * std::exp(-std::pow((hMean - 275.0) / 25.0, 2.0));
    const double cp7 = std::pow(cpMean, 7.0);
    const double rc = 2.0 * std::sqrt(cp7 / (cp7 + std::pow(25.0, 7.0)));
    const double l50 = (lMean - 50.0) * (lMean - 50.0);
    const double sl = 1.0 + 0.015 * l50 / std::sqrt(20.0 + l50);
    const double sc = 1.0 + 0.045 * cpMean;
    const double sh = 1.0 + 0.015 * cpMean * t;
    const double rt = -std::sin(radians(2.0 * dTheta)) * rc;
    const double tl = dL / sl;
    const double tc = dC / sc;
    const double th = dH / sh;
    return std::sqrt(tl * tl + tc * tc + th * th + rt * tc * th);
}

}  // namespace inkrow::ink
