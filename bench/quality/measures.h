// What the benchmark measures on a halftone: its spectrum's anisotropy and
// low-frequency power (Ulichney's radially averaged power spectrum, Bartlett-averaged
// over twelve 128 x 128 segments, so that an isotropic pattern reads -10.8 dB), the grain
// an eye sees (the standard deviation of L* after Näsänen's filter, the print simulated
// with the ink model), the first row with a dot, and periodic structure in the mean
// lightness of rows and columns at a given period.
#pragma once

#include <cstdint>
#include <vector>

namespace quality {

// A constant patch as the statistics want it: 3 x 128 wide, 64 rows to settle above
// 4 x 128 measured rows.
inline constexpr int kSegment = 128;
inline constexpr int kPatchWidth = 3 * kSegment;
inline constexpr int kSettleRows = 64;
inline constexpr int kPatchHeight = kSettleRows + 4 * kSegment;

struct PatternStats {
    double anisotropyDb = 0;
    double lowFrequencyPower = 0;
    double grain600 = 0;  // sigma L* at 600 dpi, 300 mm
    double grain300 = 0;  // the same pattern at 300 dpi
    int firstDotRow = -1;
    double bandPeriodDb = 0;    // rows, period 16
    double matrixPeriodDb = 0;  // rows and columns, period 64, the larger
};

// levels: kPatchWidth x kPatchHeight of 0 .. top; coverage the mean asked for (0 .. 1).
PatternStats MeasurePattern(const std::vector<std::uint8_t>& levels, int top, double coverage,
                            char ink);

// Per-pixel reflectance (linear, luminance Y) of an ink's coverage image with dot gain,
// and sigma L* over a region after the eye filter.
std::vector<double> LuminanceOf(const std::vector<double>& coverage, int width, int height,
                                char ink);
double GrainOf(std::vector<double> luminance, int width, int height, double dotsPerInch, int x0,
               int y0, int x1, int y1);

}  // namespace quality
