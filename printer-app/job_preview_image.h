// The picture of a job's first page, drawn from the command stream the job wrote, by
// the project's stream decoder: what the printer was told to put on paper, ink by ink,
// mixed as the render stage's ink model mixes them.
//
// No PAPPL here, so that tests can draw from a stream of their own; job_preview.h keeps
// the copy of each job's stream and serves the pictures.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "inkrow/render.h"

namespace inkrow::app {

// What the job's first page was: its size in pixels, its resolution and the print mode
// that gives each ink's pixel format.
struct PreviewPage {
    int width = 0;
    int height = 0;
    int resolution = 0;
    RenderMode mode{};
};

struct PreviewLimits {
    // The most the first page's decoded rasters may take (all inks). A4 at 600 dpi in
    // the sixteen-ink mode takes 140 MB.
    std::uint64_t maxRasterBytes = std::uint64_t{192} << 20;
    int pictureDpi = 150;      // the click-through picture, about
    int thumbnailWidth = 256;  // pixels
};

// sRGB, three bytes a pixel, row after row.
struct RgbPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> pixels;
};

// Draws the first page of `stream` (the stream may hold more pages, or end inside the
// second: only the first must be whole) at about limits.pictureDpi, each output pixel
// the ink mix of the page pixels it covers, and its thumbnail limits.thumbnailWidth
// wide. False with the reason in *why.
bool DrawFirstPage(std::span<const std::uint8_t> stream, const PreviewPage& page,
                   const PreviewLimits& limits, RgbPicture* picture, RgbPicture* thumbnail,
                   std::string* why);

// Shrinks a picture to `width` pixels wide (the height in proportion, at least 1), each
// pixel the mean of the area it covers. A picture no wider is copied.
RgbPicture ShrinkPicture(const RgbPicture& picture, std::uint32_t width);

}  // namespace inkrow::app
