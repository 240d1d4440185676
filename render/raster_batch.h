// The raster's batch call, for the job: several lines in one call, so that the raster's
// threads meet once a batch rather than once a line.
#pragma once

#include <cstdint>

#include "inkrow/render.h"

// Lines a batch holds at most: two rows of the module's tallest (16 lines).
inline constexpr int kRenderBatchLines = 32;

// Renders the page's next `count` lines (1 .. kRenderBatchLines), each width * channels
// bytes, one after the other in `pixels` (lengths are the caller's to check). Fills
// bands[0 .. count) and inked[0 .. count) as RenderRasterLine does one; the bands' lines
// stay valid until the raster's next call. RENDER_OK, or RENDER_BAD_ARGUMENT for a count
// out of range.
int RenderRasterLines(RenderRaster* raster, const std::uint8_t* pixels, int count,
                      RasterBand* bands, int* inked);
