// Shared between the raster and the job: checking options the same way in both.
#pragma once

#include "inkrow/render.h"

namespace inkrow::render {

// RENDER_OK and *mode filled, or the status that opening with these options returns.
int ValidateRasterOptions(const RenderRasterOptions* options, RenderMode* mode);

}  // namespace inkrow::render
