// The print simulator: what a measuring instrument, and an eye at a viewing distance,
// would see of a printed page. It reads the page's decoded rasters and mixes the inks of
// every printed pixel with the ink model (render/ink/ink_model.h):
//   - each printer plane adds its level's share to its ink's coverage of the pixel (the
//     planes of a split ink share one ink);
//   - dot gain: a drop spreads into its four neighbours, each of which gains
//     g * (1 - own coverage) * (the neighbour's coverage) / 4 of the ink, g the ink's dot
//     gain; on independent dots of coverage a that adds g * a * (1 - a) on average, as the
//     model's patch prediction assumes;
//   - the pixel's inks mix as Neugebauer primaries, in the Yule-Nielsen 1/n domain.
// A patch reads as an instrument reads it: the mean over its pixels in the 1/n domain,
// raised back to reflectance. The picture is the page at `scale` print pixels a picture
// pixel (averaged the same way), optionally filtered by the eye model below.
//
// Eye model: the contrast sensitivity of Näsänen (1984), H(f) = exp(-f / f0) with f in
// cycles per degree and f0 = c ln(L) + d (c = 0.525, d = 3.91) at an adapting luminance L
// of 11 cd/m2 (an office print under ordinary light), a low-pass filter widely used to
// weigh halftone noise. It is applied to reflectance in the frequency domain (FFTW).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ink_model.h"
#include "picture.h"

namespace inkrow::decode {

struct SimulateOptions {
    double dotsPerInch = 600.0;        // print pixels per inch, both ways
    double viewingDistanceMm = 300.0;  // for the eye model; 0 leaves the picture sharp
    int scale = 1;                     // print pixels per picture pixel, each way
};

struct PatchRect {
    std::string id;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // print pixels, half-open
    bool hasDevice = false;
    double device[4] = {0, 0, 0, 0};  // the patch's CMYK asked for, percent
};

struct PatchReading {
    ink::Lab lab;
    double xyz[3] = {0, 0, 0};  // D50, Y of the perfect diffuser 100
};

struct Simulation {
    std::uint32_t width = 0;  // picture pixels
    std::uint32_t height = 0;
    std::vector<float> reflectance;  // 3 a pixel, linear, absolute
    std::vector<PatchReading> patches;
};

// Called now and then with the print lines done and the total.
using SimulateProgress = void (*)(void* context, std::uint64_t done, std::uint64_t total);

// Simulates a page of width x height print pixels. False with words in *message for a
// picture too large (the scale can shrink it), a patch outside the page or an empty one.
bool SimulatePage(std::span<const PictureInk> inks, std::uint32_t width, std::uint32_t height,
                  std::span<const PatchRect> patches, const SimulateOptions& options,
                  Simulation* simulation, std::string* message, SimulateProgress progress = nullptr,
                  void* progressContext = nullptr);

// Filters a linear single-channel picture by the eye model, in place. pitchDegrees: the
// visual angle between neighbouring pixels. Edges continue with the picture's mean.
void FilterForEye(std::vector<double>* picture, std::uint32_t width, std::uint32_t height,
                  double pitchDegrees);
// The visual angle of one pixel at a resolution and viewing distance.
double PixelPitchDegrees(double dotsPerInch, double viewingDistanceMm);

// Writes the simulation's picture as an sRGB PNG (absolute: the paper shows as it is).
bool WriteSimulationPng(const std::string& path, const Simulation& simulation,
                        std::string* message);

// Reads a patch list: one patch a line, "ID X0 Y0 X1 Y1" in print pixels, optionally
// followed by the patch's C M Y K in percent; '#' starts a comment.
bool ReadPatchList(const std::string& path, std::vector<PatchRect>* patches, std::string* message);

// Writes the readings as CGATS in the form of a chart reading for colour profiling
// (CTI3): SAMPLE_ID, the device values when every patch has them, XYZ and L*a*b*.
bool WriteTi3(const std::string& path, std::span<const PatchRect> patches,
              std::span<const PatchReading> readings, std::string* message);

}  // namespace inkrow::decode
