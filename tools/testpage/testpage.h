// The built-in test page: a page description made of simple elements (gradients and
// solid patches in every ink, overprints, fine lines, text-like areas and blank bands)
// and its rendering, one raster line at a time, into each input plane's own format.
//
// A small library (inkrow_testpage) so that inkrow-page, the benchmarks and the tests
// draw the same page. It sees the render stage's public header only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "inkrow/render.h"

namespace testpage {

inline constexpr int kMaxInputPlanes = 7;
inline constexpr unsigned kFullCoverage = 65536;

// One plane as the caller renders it.
struct InputPlane {
    char ink = 0;          // 'C', 'M', 'Y', 'K', 'c', 'm' or 'k'
    int bitsPerPixel = 1;  // of the packed line handed to the module
    int maxLevel = 1;      // highest level worth drawing
};

// The planes a page configuration asks the caller for.
struct PlaneSetup {
    int count = 0;
    bool split = false;  // six four-bit inputs split into sixteen printer planes
    InputPlane planes[kMaxInputPlanes];
};

// Printer ink codes of a print mode's planes in the order of its full ink selection:
// one per plane handed in, or the sixteen of the split.
std::vector<std::uint8_t> InkCodes(const RenderMode& mode);

// The planes a print mode asks the caller for: the highest level worth drawing is the
// highest the plane prints (a converted plane takes 0..2, a split input 0..7 or 0..15).
PlaneSetup DescribeInputPlanes(const RenderMode& mode);

// Bytes of one packed line.
std::size_t LineBytes(int width, int bitsPerPixel);

// A4 at a resolution, in pixels, as the driver sizes it: the width cut down to whole
// pixels, the height rounded (4960 x 7016 at 600 dpi, 2480 x 3508 at 300).
int A4Width(int dpi);
int A4Height(int dpi);

enum class Fill : std::uint8_t {
    kSolid,            // coverage everywhere
    kRamp,             // coverage 0 at x0 rising to full at x1
    kText,             // text in the built-in 5 x 7 font, glyph pixels `scale` wide
    kVerticalLines,    // `thickness` pixels every `period`
    kHorizontalLines,  // `thickness` lines every `period`
    kFan,              // 2 * `period` + 1 one-pixel lines spreading from the top centre
    kDots,             // single pixels on a `period` grid
    kChecker,          // one-pixel checkerboard
};

struct Element {
    Fill fill = Fill::kSolid;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // x1, y1 exclusive
    unsigned inkMask = 0;                // bit i: input plane i
    unsigned coverage = kFullCoverage;   // 0 .. kFullCoverage
    int period = 1;
    int thickness = 1;
    int scale = 1;
    std::string text;
};

struct Page {
    int width = 0;
    int height = 0;
    int dpi = 0;
    PlaneSetup setup;
    std::vector<Element> elements;
};

// Lays out the test page for a plane setup. Positions are in millimetres of an A4 sheet
// and scaled to the page's pixels, so that any width and height give the same picture.
Page BuildPage(const PlaneSetup& setup, int width, int height, int dpi, const std::string& title,
               const std::string& subtitle);

// Renders line y of input plane `plane` as one level per pixel into levels[0..width).
// Returns false, leaving levels all 0, when the plane has no ink on the line.
bool RenderLevels(const Page& page, int y, int plane, std::uint8_t* levels);

// Packs levels into a line of bitsPerPixel (1, 2 or 4), first pixel in the most
// significant bits. Returns the first pixel with ink, or -1 when there is none.
int PackLevels(const std::uint8_t* levels, int width, int bitsPerPixel, std::uint8_t* line);

}  // namespace testpage
