// The raster's batch call, for the job: several lines in one call, so that the raster's
// threads meet once a batch rather than once a line.
#pragma once

#include <cstdint>

#include "inkrow/render.h"

// Lines a batch holds at most: two rows of the module's tallest (16 lines).
inline constexpr int kRenderBatchLines = 32;

// Work of the caller's to do on its own thread while the raster's threads halftone.
using BatchAsideFn = void (*)(void* context);

// Renders the page's next `count` lines (1 .. kRenderBatchLines), each width * channels
// bytes, one after the other in `pixels` (lengths are the caller's to check). Fills
// bands[0 .. count) and inked[0 .. count) as RenderRasterLine does one; the bands' lines
// stay valid through the raster's next call and until the one after, so that the caller
// may hand one batch to the module while the raster works on the next. `aside`, when not
// null, runs once on the calling thread during the halftoning, after its own share
// (that is where such a hand-over goes); it must not call the raster. RENDER_OK, or
// RENDER_BAD_ARGUMENT for a count out of range (`aside` then does not run).
int RenderRasterLines(RenderRaster* raster, const std::uint8_t* pixels, int count,
                      RasterBand* bands, int* inked, BatchAsideFn aside = nullptr,
                      void* asideContext = nullptr);
