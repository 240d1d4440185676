// Colour separation: from the caller's pixels to the amount of each ink a plane prints.
//
// A line goes through two steps. First every pixel becomes four process amounts, cyan,
// magenta, yellow and black (12-bit, 0 .. kInkFull):
//   - device CMYK is taken as it is;
//   - sRGB: c = 1 - r, m = 1 - g, y = 1 - b on the encoded values, then black generation
//     K = min(c, m, y)^2 and under-colour removal of that K from c, m and y. Squaring
//     keeps black out of light and mid tones (where its dots would show) and gives full
//     black in the deepest neutrals; removing it from the colours keeps the total ink of
//     dark tones down. We use this formula rather than an ICC profile: no measured
//     profile of this printer exists, and a profile for some other device would be no
//     more right while costing a colour engine per pixel;
//   - gray: the darkness goes to black alone, so neutrals print without colour casts.
//   Ink sets without a black ink print black as cyan + magenta + yellow; the black-only
//   configuration prints the luminance (0.30 r + 0.59 g + 0.11 b) in black.
// Then each plane looks up its amount from its process ink through a table that holds
// the light-ink split and the ink's tone curve (see tone_curves.cpp).
#pragma once

#include <cstdint>
#include <vector>

#include "halftone.h"
#include "inkrow/render.h"

namespace inkrow::render {

enum ProcessInk { kProcessCyan = 0, kProcessMagenta = 1, kProcessYellow = 2, kProcessBlack = 3 };

struct PlaneRecipe {
    int source = kProcessBlack;        // the process ink the plane prints
    std::vector<std::uint16_t> table;  // process amount (0 .. kInkFull) to plane amount
};

struct Separation {
    int colorSpace = RENDER_RGB8;
    bool blackInk = true;             // the mode has a K or k ink
    bool grayOnly = false;            // the mode's only ink is black
    std::uint16_t byteToAmount[256];  // v / 255 as an amount
    std::uint16_t blackGeneration[kInkFull + 1];
    PlaneRecipe recipes[RENDER_MAX_PLANES];
};

// Sets the separation up for a mode and an input colour space.
void BuildSeparation(const RenderMode& mode, int colorSpace, Separation* separation);

// Separates one line into the four process rows and returns [*first, *end), the pixels
// from the first to the last that is not white; only those entries of the rows are
// written. The range is empty when the line is white. Pixels inside it may still be
// white (all four amounts 0).
void SeparateLine(const Separation& separation, const std::uint8_t* pixels, int width,
                  std::uint16_t* process[4], int* first, int* end);

// Light inks. A dark ink's amount a is shared between the dark ink and its light
// partner of relative density `ratio`: the light ink alone up to `handover`, then the
// dark ink rises linearly to full while the light ink fades to none at a = 1, keeping
// dark + ratio * light = a throughout. handover must not exceed ratio.
struct LightSplit {
    double ratio;
    double handover;
};
double DarkShare(const LightSplit& split, double amount);
double LightShare(const LightSplit& split, double amount);
const LightSplit& LightSplitOf(char darkInk);

// The tone curve of an ink: its linearisation, from the amount asked for to the amount
// to print, both 0 .. 1. Piecewise linear between points that are data.
double ApplyToneCurve(char ink, double amount);

}  // namespace inkrow::render
