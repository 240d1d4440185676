// Halftoning: from ink amounts (0 .. kInkFull per pixel) to printable levels, one line
// at a time, and packing of the levels into the module's plane format.
#pragma once

#include <cstdint>
#include <vector>

namespace inkrow::render {

// Ink amounts are 12-bit: 0 no ink, kInkFull the plane's top level everywhere.
inline constexpr int kInkBits = 12;
inline constexpr int kInkFull = 1 << kInkBits;

// A square threshold matrix with a blue-noise spectrum: every value 0 .. kInkFull - 1
// appears equally often, and the pixels below any threshold are spread as evenly as
// possible, so that ordered halftones show no regular texture.
inline constexpr int kMatrixBits = 6;
inline constexpr int kMatrixSize = 1 << kMatrixBits;

struct ThresholdMatrix {
    std::vector<std::uint16_t> values;  // kMatrixSize * kMatrixSize, row-major
};

// Builds the matrix by void-and-cluster on a torus from a fixed seed: the same matrix on
// every machine and every run. It takes a while, so the library ships its result as
// kBlueNoiseMatrix (blue_noise_matrix.cpp) and a test checks that the two agree.
ThresholdMatrix BuildBlueNoiseMatrix();
extern const std::uint16_t kBlueNoiseMatrix[kMatrixSize * kMatrixSize];

// The ordered halftone's matrix: 256 x 256 blue-noise ranks 0 .. 65535, made at build
// time by void-and-cluster (render/matrix/make_ordered_matrix.cpp). Four times the side
// of the diffusion's matrix, so that its period is far below what an eye can see, and
// read by each plane at its own offset, so that planes do not line up.
inline constexpr int kOrderedBits = 8;
inline constexpr int kOrderedSize = 1 << kOrderedBits;
extern const std::uint16_t kOrderedMatrix[kOrderedSize * kOrderedSize];

// A plane's place in the matrices: row offset in bits 8 .. 15, column offset in bits
// 0 .. 7 (each taken modulo the matrix's side).
inline constexpr int MakeMatrixOffset(int row, int column) {
    return ((row & 0xFF) << 8) | (column & 0xFF);
}

// The inked pixels of a halftoned line: first and one past the last; first == end when
// the line is blank.
struct InkedRange {
    int first = 0;
    int end = 0;
};

// Serpentine error diffusion of one plane. The error of a pixel goes 7/16 ahead, 3/16
// behind-below, 5/16 below and 1/16 ahead-below, "ahead" being the direction of the
// line (left to right on even lines, right to left on odd ones). Its rounding threshold
// is dithered lightly by the blue-noise matrix, which breaks up the worm-like chains
// that plain diffusion draws in highlights without changing the mean. A pixel that asks
// for no ink gets none and absorbs no error, so white stays white and errors never
// travel through white space.
struct DiffusionState {
    std::vector<std::int32_t> rows[2];  // error for this line and for the next, width + 2
    int dirtyFirst[2] = {0, 0};         // range of each row that may be non-zero
    int dirtyEnd[2] = {0, 0};
    int current = 0;
};

void ResetDiffusion(DiffusionState* state, int width);

// Halftones pixels first .. end - 1 of line y, whose amounts are table[source[x]], to
// levels 0 .. levelCount - 1 in `levels`. `levels` must be 0 outside that range and hold
// 8 bytes beyond the line's width, so that packing may read whole bytes' worth of
// pixels. Returns the inked range.
// `avoid`, when not null, holds the levels a partner ink printed on this line (a light
// ink's dark partner, halftoned first): this plane's dots keep off those pixels where
// they can, so that light and dark dots of one colour lie side by side rather than on
// top of each other.
InkedRange DiffuseLine(DiffusionState* state, const std::uint16_t* source,
                       const std::uint16_t* table, int first, int end, int levelCount, int y,
                       int matrixOffset, const std::uint8_t* avoid, std::uint8_t* levels);

// Ordered halftone of the same: each pixel compares its fraction of a level with the
// ordered matrix's threshold at (x, y) shifted by matrixOffset, so planes do not share a
// pattern.
InkedRange OrderLine(const std::uint16_t* source, const std::uint16_t* table, int first, int end,
                     int levelCount, int y, int matrixOffset, std::uint8_t* levels);

// Packs levels[first .. end) into `line` at bitsPerPixel (1, 2 or 4), first pixel in the
// most significant bits; bytes outside the packed range are set to 0 so the line holds
// exactly the levels. `line` holds (width * bitsPerPixel + 7) / 8 bytes; `levels` is 0
// outside [first, end), up to 8 bytes past the width.
void PackLevels(const std::uint8_t* levels, int first, int end, int width, int bitsPerPixel,
                std::uint8_t* line);

}  // namespace inkrow::render
