// Helpers of the render tests: run a job into memory, read it back with the decoder,
// and measure ink coverage.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inkrow/render.h"
#include "picture.h"

namespace rendertest {

using Bytes = std::vector<std::uint8_t>;

// A page of `height` lines made by draw(y, line) in the options' colour space.
using DrawLine = void (*)(int y, int width, std::uint8_t* line, const void* context);

struct JobRun {
    int status = RENDER_OK;
    std::string error;
    Bytes stream;
};

JobRun RunJob(const RenderJobOptions& options, int pages, int height, DrawLine draw,
              const void* context = nullptr);

RenderJobOptions MakeOptions(int quality, int media, int width, int colorSpace);

// Decodes strictly; fails the current test on a decoding error.
inkrow::decode::Decoded DecodeOrFail(const Bytes& stream, bool formFeed = false);

// How the decoder must read a printer plane of a mode.
inkrow::decode::PixelFormat FormatOfPrinterPlane(const RenderMode& mode, std::uint8_t code);

// Levels of one ink of a decoded page, width x lines of the page; empty when the ink
// never printed.
inkrow::decode::LevelImage InkLevels(const inkrow::decode::Page& page, const RenderMode& mode,
                                     std::uint8_t code, std::uint32_t width);

// Mean level / top level over a rectangle of a level image: 0 no ink, 1 full.
double Coverage(const inkrow::decode::LevelImage& image, int x0, int y0, int x1, int y1,
                int topLevel);

}  // namespace rendertest
