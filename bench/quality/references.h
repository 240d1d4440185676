// The published halftones the benchmark compares with, written from their papers:
//   - Floyd and Steinberg (1976): serpentine error diffusion with weights 7, 3, 5, 1 / 16;
//   - Zhou and Fang (2003), "Improving mid-tone quality of variable-coefficient error
//     diffusion using threshold modulation": serpentine diffusion to the right, below-left
//     and below with coefficients that vary with the input level, and a threshold raised
//     by a random amount whose strength varies with the level (their key-level tables,
//     interpolated linearly).
// Both carried to several levels the usual way: the input's place between two levels
// picks the coefficients and the modulation.
#pragma once

#include <cstdint>
#include <vector>

namespace quality {

enum class Reference { kFloydSteinberg, kZhouFang };

// Halftones amounts (0 .. 1, width x height, row-major) to levels 0 .. levelCount - 1.
std::vector<std::uint8_t> HalftoneReference(Reference method, const std::vector<double>& amounts,
                                            int width, int height, int levelCount,
                                            std::uint32_t seed);

}  // namespace quality
