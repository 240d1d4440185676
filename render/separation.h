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
//   Ink sets without a K ink build black from what they have: light black k (when the set
//   has it) alone in light grays, then cyan + magenta + yellow added over it (a composite
//   black) until the ink model prints the darkness the K ink would, within an ink limit.
//   The black-only configuration prints the luminance (0.30 r + 0.59 g + 0.11 b) in
//   black.
// Then each plane looks up its amount from its process ink through a table that holds
// the light-ink split and the ink's tone curve (see tone_curves.cpp).
// Under colour management (color/color.h) a transform takes the formula's place for the
// colour spaces it covers, a calibration maps the four process amounts (before black is
// made composite), and the tables leave the tone curves out.
#pragma once

#include <cstdint>
#include <vector>

#include "color/color.h"
#include "halftone.h"
#include "ink_model.h"
#include "inkrow/render.h"

namespace inkrow::render {

enum ProcessInk { kProcessCyan = 0, kProcessMagenta = 1, kProcessYellow = 2, kProcessBlack = 3 };

struct PlaneRecipe {
    int source = kProcessBlack;        // the process ink the plane prints
    std::vector<std::uint16_t> table;  // process amount (0 .. kInkFull) to plane amount
};

struct Separation {
    int colorSpace = RENDER_RGB8;
    bool grayOnly = false;            // the mode's only ink is black
    bool compositeBlack = false;      // no K ink: black adds composite[.][k] to c, m, y
    std::uint16_t byteToAmount[256];  // v / 255 as an amount
    std::uint16_t blackGeneration[kInkFull + 1];
    PlaneRecipe recipes[RENDER_MAX_PLANES];
    std::vector<std::uint16_t> composite[3];  // black amount to the cyan, magenta, yellow added
    const RenderColor* color = nullptr;       // colour management; NULL: the formula
    bool transforms = false;                  // the colour space goes through color's transform
    bool calibrates = false;                  // amounts go through color's calibration
};

// Sets the separation up for a mode, an input colour space and the colour management
// (NULL: none).
void BuildSeparation(const RenderMode& mode, int colorSpace, const RenderColor* color,
                     Separation* separation);

// Separates one line into the four process rows and returns [*first, *end), the pixels
// from the first to the last that is not white; only those entries of the rows are
// written. The range is empty when the line is white. Pixels inside it may still be
// white (all four amounts 0).
void SeparateLine(const Separation& separation, const std::uint8_t* pixels, int width,
                  std::uint16_t* process[4], int* first, int* end);

// Light inks. A dark ink's amount is shared between the dark ink and its light partner
// so that, with the ink model, the pair prints the lightness the dark ink alone would
// print for that amount (through its tone curve): the light ink alone up to the
// handover, where it covers kLightHandover of the paper; then the light ink fades
// linearly to none at full while the dark ink rises to match. The dark and light planes
// are halftoned independently, so their dots overlap at random; the model counts a light
// drop on a dark one as adding almost nothing, and the split makes up for it.
// The tables map a process amount (0 .. kInkFull) to each plane's coverage. `raw`: the
// dark ink's lightness without its tone curve.
inline constexpr double kLightHandover = 0.55;
struct LightSplit {
    std::vector<std::uint16_t> dark;
    std::vector<std::uint16_t> light;
};
void BuildLightSplit(char darkInk, bool raw, LightSplit* split);

// Composite black for a mode without a K ink: per black amount, the amounts added to the
// cyan, magenta and yellow process amounts (into composite[0 .. 2], shared out so that
// the mix prints as near neutral as the inks allow) and the coverage of the light black
// plane (into *lightBlack; all 0 without one). Sum of the planes' coverages stays within
// kCompositeInkLimit. `separation` must hold the recipes of every plane.
inline constexpr double kCompositeInkLimit = 3.0;
void BuildCompositeBlack(const RenderMode& mode, const Separation& separation,
                         std::vector<std::uint16_t> composite[3],
                         std::vector<std::uint16_t>* lightBlack);

// The ink model's colour of a patch of process amounts (0 .. 1) printed in the mode,
// each plane's dots independent of the others'.
ink::Lab PredictProcess(const RenderMode& mode, const Separation& separation, double cyan,
                        double magenta, double yellow, double black);

// The tone curve of an ink: its linearisation, from the amount asked for to the amount
// to print, both 0 .. 1. Piecewise linear between points that are data.
double ApplyToneCurve(char ink, double amount);

}  // namespace inkrow::render
