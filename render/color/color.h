// Colour management inside the render stage: what the separation asks of a RenderColor.
//
// A RenderColor holds, read-only after it opens, one lcms2 transform per page colour
// space it corrects (gray, sRGB, or the input profile's space) and the calibration's
// per-ink curves and ink limit as tables over the 12-bit process amounts. The separation
// calls it per line: CorrectRun for the pixels a transform handles (the calibration is
// inside the transform), Calibrate for the four amounts of every other pixel, before the
// light-ink split and the composite black.
#pragma once

#include <cstdint>

#include "inkrow/render.h"

namespace inkrow::render {

// True when pages of the colour space go through a transform.
bool ColorTransforms(const RenderColor* color, int colorSpace);
// True when the built-in tone curves are left out (a profile, a calibration, or
// calibration mode).
bool ColorRawInks(const RenderColor* color);
// True when a calibration's curves or ink limit apply.
bool ColorCalibrates(const RenderColor* color);

// Transforms `count` pixels of the colour space into four process amounts each
// (0 .. kInkFull), calibrated and within the ink limit, written interleaved C, M, Y, K
// into cmyk[0 .. 4 * count).
void CorrectRun(const RenderColor* color, int colorSpace, const std::uint8_t* pixels, int count,
                std::uint16_t* cmyk);

// One pixel's process amounts through the calibration's curves and its ink limit.
void Calibrate(const RenderColor* color, int* cyan, int* magenta, int* yellow, int* black);

}  // namespace inkrow::render
