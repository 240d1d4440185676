// The split of six four-bit input planes into sixteen two-bit printer planes.
#pragma once

#include <cstdint>

#include "catalog/split_tables.h"
#include "core/context.h"

namespace inkrow {

// Fills rows[k], planes[k].currentLine and the row buffers of all sixteen planes from
// band entries 0..5. rows[k].rowData must already point at each plane's row buffer.
void SplitTwoBitPlanes(OutputContext* context, const RasterBand* band);

// The same with the byte shuffles of SSSE3 (vector true, where HasVectorSplit()) or
// without them, for tests and benchmarks; both give the same planes.
void SplitTwoBitPlanesWith(OutputContext* context, const RasterBand* band, bool vector);
bool HasVectorSplit();

}  // namespace inkrow
