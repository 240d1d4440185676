#include "job_driver.h"

#include <cstring>

namespace jobdriver {

JobParams MakeJob(int16_t qualityCode, int16_t mediaCode, int16_t pixelWidth,
                  int16_t formFeedFlag) {
    JobParams job;
    std::memset(&job, 0, sizeof job);
    job.qualityCode = qualityCode;
    job.mediaCode = mediaCode;
    job.pixelWidth = pixelWidth;
    job.formFeedFlag = formFeedFlag;
    return job;
}

PageParams MakePage(int16_t resolution, int16_t blackOnly, int16_t kForBlack, int16_t keepColor,
                    int16_t formFeedFlag) {
    PageParams page;
    std::memset(&page, 0, sizeof page);
    page.resolution = resolution;
    page.blackOnly = blackOnly;
    page.kForBlack = kForBlack;
    page.keepColor = keepColor;
    page.formFeedFlag = formFeedFlag;
    return page;
}

void AppendSegments(const void* segmentList, Bytes* stream) {
    const auto* list = static_cast<const SegmentList*>(segmentList);
    for (int i = 0; i < list->count; ++i)
        stream->insert(stream->end(), list->items[i].data,
                       list->items[i].data + list->items[i].length);
}

int SegmentCount(const void* segmentList) {
    return static_cast<const SegmentList*>(segmentList)->count;
}

RasterBand MakeBand(int32_t lineNumber, std::vector<PlaneLine>& planes) {
    RasterBand band;
    std::memset(&band, 0, sizeof band);
    band.lineNumber = lineNumber;
    for (std::size_t i = 0; i < planes.size() && i < OUTPUT_MAX_BAND_PLANES; ++i) {
        BandPlane& entry = band.bandPlanes[i];
        entry.pixels = planes[i].pixels.empty() ? nullptr : planes[i].pixels.data();
        entry.end = planes[i].end;
        entry.start = planes[i].start;
        entry.trail = planes[i].trail;
    }
    return band;
}

int16_t SendLine(OutputHandle* handle, int32_t lineNumber, std::vector<PlaneLine>& planes,
                 Bytes* stream) {
    RasterBand band = MakeBand(lineNumber, planes);
    void* list = nullptr;
    const int16_t result = OutputProduceTwo(handle, &band, &list);
    if (result != OUTPUT_OK) return result;
    AppendSegments(list, stream);
    return OutputComplete(handle);
}

int16_t EndPage(OutputHandle* handle, Bytes* stream) {
    void* list = nullptr;
    const int16_t result = OutputFlush(handle, &list);
    if (result != OUTPUT_OK) return result;
    AppendSegments(list, stream);
    return OutputComplete(handle);
}

int16_t FeedPage(OutputHandle* handle, int32_t lineLimit, Bytes* stream) {
    void* list = nullptr;
    const int16_t result = OutputFormFeed(handle, &list, lineLimit);
    if (result != OUTPUT_OK) return result;
    AppendSegments(list, stream);
    return OutputComplete(handle);
}

}  // namespace jobdriver
