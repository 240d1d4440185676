#include "measures.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>

#include "ink_model.h"
#include "simulate.h"

namespace quality {
namespace {

namespace ink = inkrow::ink;

double LightnessOfY(double y) {
    const double t = y;
    const double f = t > 216.0 / 24389.0 ? std::cbrt(t) : (24389.0 / 27.0 * t + 16.0) / 116.0;
    return 116.0 * f - 16.0;
}

// Power at `period` in a profile, over the mean power of the profile's other
// frequencies, in dB.
double PeriodicPowerDb(const std::vector<double>& profile, int period) {
    const int n = static_cast<int>(profile.size());
    double average = 0;
    for (double v : profile)
        average += v;
    average /= n;
    std::vector<double> power;
    double atPeriod = 0;
    for (int k = 1; k <= n / 2; ++k) {
        double re = 0;
        double im = 0;
        for (int i = 0; i < n; ++i) {
            const double angle = 2.0 * 3.14159265358979323846 * k * i / n;
            re += (profile[static_cast<std::size_t>(i)] - average) * std::cos(angle);
            im -= (profile[static_cast<std::size_t>(i)] - average) * std::sin(angle);
        }
        const double p = re * re + im * im;
        if (k * period == n)
            atPeriod = p;
        else
            power.push_back(p);
    }
    double mean = 0;
    for (double p : power)
        mean += p;
    mean /= static_cast<double>(power.size());
    if (mean <= 0) return atPeriod > 0 ? 99.0 : 0.0;
    return 10.0 * std::log10(std::max(atPeriod, 1e-30) / mean);
}

}  // namespace

std::vector<double> LuminanceOf(const std::vector<double>& coverage, int width, int height,
                                char inkLetter) {
    ink::InkSet set;
    ink::MakeInkSet(&inkLetter, 1, &set);
    const double gain = ink::FindInk(inkLetter)->dotGain;
    std::vector<double> y(coverage.size());
    const auto at = [&](int cx, int cy) {
        if (cx < 0 || cy < 0 || cx >= width || cy >= height) return 0.0;
        return coverage[static_cast<std::size_t>(cy) * width + cx];
    };
    for (int py = 0; py < height; ++py) {
        for (int px = 0; px < width; ++px) {
            const double own = at(px, py);
            const double around = at(px - 1, py) + at(px + 1, py) + at(px, py - 1) + at(px, py + 1);
            const double spread = std::min(1.0, own + gain * (1 - own) * around / 4);
            const ink::Bands r = ink::FromRoot(ink::MixRoot(set, &spread));
            double xyz[3];
            ink::ToXyz(r, xyz);
            y[static_cast<std::size_t>(py) * width + px] = xyz[1];
        }
    }
    return y;
}

double GrainOf(std::vector<double> luminance, int width, int height, double dotsPerInch, int x0,
               int y0, int x1, int y1) {
    inkrow::decode::FilterForEye(&luminance, static_cast<std::uint32_t>(width),
                                 static_cast<std::uint32_t>(height),
                                 inkrow::decode::PixelPitchDegrees(dotsPerInch, 300.0));
    double sum = 0;
    double squares = 0;
    int count = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const double l =
                LightnessOfY(std::max(0.0, luminance[static_cast<std::size_t>(y) * width + x]));
            sum += l;
            squares += l * l;
            ++count;
        }
    }
    const double mean = sum / count;
    return std::sqrt(std::max(0.0, squares / count - mean * mean));
}

PatternStats MeasurePattern(const std::vector<std::uint8_t>& levels, int top, double coverage,
                            char inkLetter) {
    PatternStats stats;
    const int w = kPatchWidth;
    const int h = kPatchHeight;
    std::vector<double> values(levels.size());
    for (std::size_t i = 0; i < levels.size(); ++i)
        values[i] = static_cast<double>(levels[i]) / top;
    for (int y = 0; y < h && stats.firstDotRow < 0; ++y)
        for (int x = 0; x < w; ++x)
            if (levels[static_cast<std::size_t>(y) * w + x] != 0) {
                stats.firstDotRow = y;
                break;
            }

    // Bartlett's average of the segments' periodograms.
    const int n = kSegment;
    std::vector<double> power(static_cast<std::size_t>(n) * n, 0.0);
    double* space = fftw_alloc_real(static_cast<std::size_t>(n) * n);
    fftw_complex* frequency = fftw_alloc_complex(static_cast<std::size_t>(n) * (n / 2 + 1));
    fftw_plan plan = fftw_plan_dft_r2c_2d(n, n, space, frequency, FFTW_ESTIMATE);
    int segments = 0;
    for (int sy = kSettleRows; sy + n <= h; sy += n) {
        for (int sx = 0; sx + n <= w; sx += n) {
            double mean = 0;
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x)
                    mean += values[static_cast<std::size_t>(sy + y) * w + sx + x];
            mean /= n * n;
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x)
                    space[y * n + x] = values[static_cast<std::size_t>(sy + y) * w + sx + x] - mean;
            fftw_execute(plan);
            for (int v = 0; v < n; ++v)
                for (int u = 0; u <= n / 2; ++u) {
                    const fftw_complex& c = frequency[v * (n / 2 + 1) + u];
                    const double p = (c[0] * c[0] + c[1] * c[1]) / (n * n);
                    power[static_cast<std::size_t>(v) * n + u] += p;
                    if (u != 0 && u != n / 2)
                        power[static_cast<std::size_t>((n - v) % n) * n + (n - u)] += p;
                }
            ++segments;
        }
    }
    fftw_destroy_plan(plan);
    fftw_free(space);
    fftw_free(frequency);
    for (double& p : power)
        p /= segments;
    // Annuli one frequency step wide.
    const int rings = n / 2;
    std::vector<double> sum(static_cast<std::size_t>(rings), 0.0);
    std::vector<double> squares(static_cast<std::size_t>(rings), 0.0);
    std::vector<int> count(static_cast<std::size_t>(rings), 0);
    for (int v = 0; v < n; ++v) {
        for (int u = 0; u < n; ++u) {
            const int fv = v <= n / 2 ? v : v - n;
            const int fu = u <= n / 2 ? u : u - n;
            const int ring = static_cast<int>(std::lround(std::hypot(fu, fv)));
            if (ring <= 0 || ring >= rings) continue;
            const double p = power[static_cast<std::size_t>(v) * n + u];
            sum[static_cast<std::size_t>(ring)] += p;
            squares[static_cast<std::size_t>(ring)] += p * p;
            count[static_cast<std::size_t>(ring)] += 1;
        }
    }
    const double minority = std::min(coverage, 1.0 - coverage);
    double variance = 0;
    for (double v : values)
        variance += v;
    const double mean = variance / static_cast<double>(values.size());
    variance = 0;
    for (double v : values)
        variance += (v - mean) * (v - mean);
    variance /= static_cast<double>(values.size());
    double anisotropy = 0;
    int anisotropyRings = 0;
    double low = 0;
    int lowRings = 0;
    const double principal = std::sqrt(std::max(minority, 1e-6));  // cycles per pixel
    for (int ring = 1; ring < rings; ++ring) {
        const auto r = static_cast<std::size_t>(ring);
        if (count[r] == 0) continue;
        const double p = sum[r] / count[r];
        if (ring >= 2 && p > 0) {
            anisotropy += (squares[r] / count[r] - p * p) / (p * p);
            ++anisotropyRings;
        }
        if (static_cast<double>(ring) / n < principal / 2 || ring == 1) {
            low += variance > 0 ? p / variance : 0;
            ++lowRings;
        }
    }
    stats.anisotropyDb = anisotropyRings > 0 ? 10.0 * std::log10(anisotropy / anisotropyRings) : 0;
    stats.lowFrequencyPower = lowRings > 0 ? low / lowRings : 0;

    // Grain, on the settled rows, away from the edges the filter pads.
    const std::vector<double> luminance = LuminanceOf(values, w, h, inkLetter);
    stats.grain600 = GrainOf(luminance, w, h, 600, 32, kSettleRows + 32, w - 32, h - 32);
    stats.grain300 = GrainOf(luminance, w, h, 300, 32, kSettleRows + 32, w - 32, h - 32);

    // Periodic structure in the rows' and columns' mean lightness.
    std::vector<double> rows;
    for (int y = kSettleRows; y < h; ++y) {
        double s = 0;
        for (int x = 0; x < w; ++x)
            s += values[static_cast<std::size_t>(y) * w + x];
        rows.push_back(s / w);
    }
    std::vector<double> columns;
    for (int x = 0; x < w; ++x) {
        double s = 0;
        for (int y = kSettleRows; y < h; ++y)
            s += values[static_cast<std::size_t>(y) * w + x];
        columns.push_back(s / (h - kSettleRows));
    }
    stats.bandPeriodDb = PeriodicPowerDb(rows, 16);
    stats.matrixPeriodDb = std::max(PeriodicPowerDb(rows, 64), PeriodicPowerDb(columns, 64));
    return stats;
}

}  // namespace quality
