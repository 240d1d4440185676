// From decoded rasters to pictures: one level per pixel, gray and colour renderings and
// PNG files. The inkrow_picture target (libpng) provides it on top of the parser.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "decode.h"
#include "inkrow/render.h"

namespace inkrow::decode {

struct PixelFormat {
    int bitsPerPixel = 1;    // 1, 2, 4 or 8; first pixel in the most significant bits
    bool baseThree = false;  // five pixels of three levels per byte, first one weightiest
};

struct LevelImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint8_t maxLevel = 1;
    std::vector<std::uint8_t> levels;  // width * height, row-major
    std::uint64_t invalidCodes = 0;    // base-three bytes above 242 (read as level 2)
};

int CountPixelsPerByte(PixelFormat format);

// How the bytes of the ink with this code hold their pixels under a print mode: ink i of
// the mode's full selection is plane i, split planes carry two bits per pixel whatever
// their input had, converted planes five three-level pixels per byte. False when the mode
// prints no such ink.
bool FindInkFormat(const RenderMode& mode, std::uint8_t code, PixelFormat* format);
// Turns a raster into one level per pixel. widthPixels 0 takes every pixel of the
// raster's width. False for an unsupported bit depth.
bool ExpandRaster(const InkRaster& raster, PixelFormat format, std::uint32_t widthPixels,
                  LevelImage* image);

// Gray picture of one ink: white for no ink, black for its top level.
std::vector<std::uint8_t> RenderGray(const LevelImage& image);

// The ink letter a printer plane carries ('C', 'M', 'Y', 'K', 'c', 'm', 'k'). The second
// and further planes of a split ink carry part of the same ink, so their code derives
// from its letter; a code that is no ink at all reads as light black, a neutral gray.
char InkLetterOf(std::uint8_t code);

struct InkLayer {
    std::uint8_t code = 0;
    const LevelImage* image = nullptr;
};
// Colour preview, sRGB, width * height: each pixel shows the ink model's mix
// (render/ink/ink_model.h) of the inks printed there, the paper shown as white. A
// layer's level is its share of its ink (the planes of a split ink share one ink).
// Layers smaller than the picture are blank outside.
std::vector<std::uint8_t> ComposePreview(std::span<const InkLayer> layers, std::uint32_t width,
                                         std::uint32_t height);

// --- Row by row ---------------------------------------------------------------------
// Pictures of a whole page are large (A4 at 600 dpi is 35 million pixels): these write
// them one row at a time from the decoded rasters, so memory stays near the size of the
// rasters themselves.

// Line y of a raster as one level per pixel, `width` pixels; pixels past the raster's
// bytes are 0. Base-three bytes above 242 read as level 2 and are counted in
// *invalidCodes.
void ExpandRasterLine(const InkRaster& raster, PixelFormat format, std::uint64_t y,
                      std::uint32_t width, std::uint8_t* levels, std::uint64_t* invalidCodes);

// One ink of a picture: its raster and how its bytes hold pixels.
struct PictureInk {
    std::uint8_t code = 0;
    const InkRaster* raster = nullptr;
    PixelFormat format;
};

// A PNG file opened for writing. Opening first lets a program refuse a bad path before
// it does any work.
struct PngFile;

// Opens (creates or truncates) `path`. Null with "PATH: reason" in *message on failure.
PngFile* OpenPngFile(const std::string& path, std::string* message);
// Closes an opened file without writing a picture, and removes it.
void DiscardPngFile(PngFile* file);

// zlib's level for the pictures; the same level is used by the side-by-side benchmark.
inline constexpr int kPngCompressionLevel = 6;

// Writes the colour preview of the inks (as ComposePreview does) into `file` and closes
// it; height may exceed the rasters (blank below). False with "PATH: reason" in *message;
// the file is removed then. *invalidCodes counts base-three bytes above 242.
bool WritePreviewPng(PngFile* file, std::span<const PictureInk> inks, std::uint32_t width,
                     std::uint32_t height, std::uint64_t* invalidCodes, std::string* message);
// Writes the gray picture of one ink (as RenderGray does) into `file` and closes it.
bool WriteGrayPng(PngFile* file, const PictureInk& ink, std::uint32_t width, std::uint32_t height,
                  std::uint64_t* invalidCodes, std::string* message);

// Writes an 8-bit PNG of 1 (gray) or 3 (RGB) channels. False with a message on failure.
bool WritePng(const std::string& path, std::uint32_t width, std::uint32_t height, int channels,
              const std::uint8_t* pixels, std::string* message);

}  // namespace inkrow::decode
