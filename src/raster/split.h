// The split of six four-bit input planes into sixteen two-bit printer planes.
#pragma once

#include <cstdint>

#include "core/context.h"

namespace inkrow {

extern const std::uint8_t splitSource[16];        // input plane of each output plane
extern const std::uint8_t twoWaySplitTable[8];    // level -> two 2-bit fields
extern const std::uint8_t fourWaySplitTable[16];  // level -> four 2-bit fields

// Fills rows[k], planes[k].currentLine and the row buffers of all sixteen planes from
// band entries 0..5. rows[k].rowData must already point at each plane's row buffer.
void SplitTwoBitPlanes(OutputContext* context, const RasterBand* band);

// The same with the byte shuffles of SSSE3 (vector true, where HasVectorSplit()) or
// without them, for tests and benchmarks; both give the same planes.
void SplitTwoBitPlanesWith(OutputContext* context, const RasterBand* band, bool vector);
bool HasVectorSplit();

}  // namespace inkrow
