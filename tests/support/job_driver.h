// Drives the module through whole jobs the way a caller does, collecting the command
// stream that the segment lists describe.
#pragma once

#include <cstdint>
#include <vector>

#include "inkrow/output.h"

namespace jobdriver {

using Bytes = std::vector<std::uint8_t>;

JobParams MakeJob(int16_t qualityCode, int16_t mediaCode, int16_t pixelWidth,
                  int16_t formFeedFlag = 0);
PageParams MakePage(int16_t resolution, int16_t blackOnly = 0, int16_t kForBlack = 0,
                    int16_t keepColor = 0, int16_t formFeedFlag = 0);

// Appends the bytes of every segment of the list, in order.
void AppendSegments(const void* segmentList, Bytes* stream);
// Number of entries of a list.
int SegmentCount(const void* segmentList);

// One plane's line of a band.
struct PlaneLine {
    std::vector<std::uint8_t> pixels;  // empty: null pixels
    int16_t end = 0;
    int16_t start = 0;
    int16_t trail = 0;
};

// Fills the band's entries; the vectors must outlive the band's use.
RasterBand MakeBand(int32_t lineNumber, std::vector<PlaneLine>& planes);

// Produce + complete for one line; returns the produce result (complete is only called
// on success) and appends the produced bytes.
int16_t SendLine(OutputHandle* handle, int32_t lineNumber, std::vector<PlaneLine>& planes,
                 Bytes* stream);
// Flush + complete.
int16_t EndPage(OutputHandle* handle, Bytes* stream);
// FormFeed + complete.
int16_t FeedPage(OutputHandle* handle, int32_t lineLimit, Bytes* stream);

}  // namespace jobdriver
