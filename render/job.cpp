// RenderJob: drives the module through a whole job and hands the command stream to the
// caller's write callback. Once anything fails the job stays failed, so a caller that
// checks only the final RenderJobClose still learns that its stream is not whole.
//
// Lines are gathered into batches (raster_batch.h) and rendered a batch at a time, so
// that the raster's threads meet once a batch. The module and the write callback get a
// batch while the raster halftones the next one: the module's calls are serial, and this
// way they take the caller's thread while the raster's other threads are still at their
// share. A failure of the module or the write callback is reported by the call during
// which it happened (a later line, or the page's end).
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "inkrow/output.h"
#include "inkrow/render.h"
#include "raster_batch.h"

struct RenderJob {
    RenderJobOptions options{};
    RenderRaster* raster = nullptr;
    OutputHandle handle = nullptr;
    bool pageOpen = false;
    int status = RENDER_OK;     // the first failure; the job refuses all but closing after it
    int page = 0;               // pages started
    std::int32_t lines = 0;     // lines of the open page so far
    std::int32_t rendered = 0;  // of them, lines rendered
    std::int32_t sent = 0;      // of those, lines handed to the module
    std::size_t lineLength = 0;
    std::vector<std::uint8_t> batch;  // lines rendered .. lines - 1, one after the other
    // Two batches' bands: lines sent .. rendered - 1 in set `pendingSet`, the next batch
    // in the other.
    RasterBand bands[2][kRenderBatchLines];
    int inked[2][kRenderBatchLines];
    int pendingSet = 1;
    std::uint64_t bytes = 0;  // handed to the callback
    std::string error;
};

namespace {

int Fail(RenderJob* job, int status, const char* format, ...) __attribute__((format(printf, 3, 4)));

int Fail(RenderJob* job, int status, const char* format, ...) {
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    RenderFormatErrorV(text, sizeof text, format, arguments);
    va_end(arguments);
    job->status = status;
    job->error = text;
    return status;
}

int Refused(RenderJob* job, const char* call, int16_t code) {
    const int status = code == OUTPUT_NO_MEMORY ? RENDER_NO_MEMORY : RENDER_MODULE_REFUSED;
    if (job->pageOpen)
        return Fail(job, status, "%s refused line %" PRId32 " of page %d: %s (0x%04X)", call,
                    job->sent, job->page, RenderOutputResultText(code),
                    static_cast<unsigned>(static_cast<std::uint16_t>(code)));
    return Fail(job, status, "%s refused: %s (0x%04X)", call, RenderOutputResultText(code),
                static_cast<unsigned>(static_cast<std::uint16_t>(code)));
}

// Sends a producing call's segments in order, then tells the module they are sent.
int SendAndComplete(RenderJob* job, const char* call, int16_t code, void* listHandle) {
    if (code != OUTPUT_OK) return Refused(job, call, code);
    const auto* list = static_cast<const SegmentList*>(listHandle);
    for (int16_t i = 0; list != nullptr && i < list->count; ++i) {
        const Segment& segment = list->items[i];
        if (segment.length == 0) continue;
        if (job->options.write(job->options.writeContext, segment.data, segment.length) != 0)
            return Fail(job, RENDER_WRITE_FAILED, "writing %u bytes of the stream failed",
                        static_cast<unsigned>(segment.length));
        job->bytes += segment.length;
    }
    const int16_t completed = OutputComplete(&job->handle);
    if (completed != OUTPUT_OK) return Refused(job, "OutputComplete", completed);
    return RENDER_OK;
}

bool FormFeedJob(const RenderJob* job) {
    return job->options.raster.mode.formFeed == 1;
}

// Hands the rendered lines not yet sent to the module. A blank line need not reach it:
// the rows it skips are counted from the next line's number. The first line always goes,
// so every page has its header.
int SendRendered(RenderJob* job) {
    const int count = job->rendered - job->sent;
    const int set = job->pendingSet;
    for (int j = 0; j < count; ++j) {
        if (job->inked[set][j] != 0 || job->sent == 0) {
            void* list = nullptr;
            const int16_t code = OutputProduceTwo(&job->handle, &job->bands[set][j], &list);
            const int sent = SendAndComplete(job, "OutputProduceTwo", code, list);
            if (sent != RENDER_OK) return sent;
        }
        ++job->sent;
    }
    return RENDER_OK;
}

// On the caller's thread while the raster halftones the next batch; a failure stays in
// the job's status.
void SendRenderedAside(void* context) {
    auto* job = static_cast<RenderJob*>(context);
    if (job->status == RENDER_OK) SendRendered(job);
}

// Renders the gathered lines, handing the batch before them to the module meanwhile.
int RenderGathered(RenderJob* job) {
    const int count = job->lines - job->rendered;
    if (count == 0) return RENDER_OK;
    const int set = job->pendingSet ^ 1;
    const int status = RenderRasterLines(job->raster, job->batch.data(), count, job->bands[set],
                                         job->inked[set], SendRenderedAside, job);
    if (status != RENDER_OK) return Fail(job, status, "%s", RenderStatusText(status));
    if (job->status != RENDER_OK) return job->status;
    job->rendered += count;
    job->pendingSet = set;
    return RENDER_OK;
}

int EndOpenPage(RenderJob* job) {
    int sent = RenderGathered(job);
    if (sent == RENDER_OK) sent = SendRendered(job);
    job->pageOpen = false;
    if (sent != RENDER_OK) return sent;
    void* list = nullptr;
    if (FormFeedJob(job)) {
        // Rows at and after the limit are dropped: give the whole last row.
        const int perRow = RenderRasterMode(job->raster)->linesPerRow;
        const std::int32_t limit = (job->lines + perRow - 1) / perRow * perRow;
        const int16_t code = OutputFormFeed(&job->handle, &list, limit);
        return SendAndComplete(job, "OutputFormFeed", code, list);
    }
    const int16_t code = OutputFlush(&job->handle, &list);
    return SendAndComplete(job, "OutputFlush", code, list);
}

}  // namespace

extern "C" {

void RenderJobOptionsInit(RenderJobOptions* options) {
    if (options == nullptr) return;
    *options = RenderJobOptions{};
    RenderRasterOptionsInit(&options->raster);
}

int RenderJobOpen(const RenderJobOptions* options, RenderJob** job) {
    if (job == nullptr) return RENDER_BAD_ARGUMENT;
    *job = nullptr;
    if (options == nullptr || options->write == nullptr) return RENDER_BAD_ARGUMENT;
    auto* made = new (std::nothrow) RenderJob;
    if (made == nullptr) return RENDER_NO_MEMORY;
    made->options = *options;
    made->lineLength = static_cast<std::size_t>(options->raster.width) *
                       static_cast<std::size_t>(options->raster.colorSpace);
    int status = RenderRasterOpen(&options->raster, &made->raster);
    if (status != RENDER_OK) {
        delete made;
        return status;
    }
    if (OutputOpen(&made->handle) != OUTPUT_OPENED) {
        RenderRasterClose(made->raster);
        delete made;
        return RENDER_NO_MEMORY;
    }
    JobParams params{};
    params.mediaCode = static_cast<int16_t>(options->raster.mode.mediaCode);
    params.qualityCode = static_cast<int16_t>(options->raster.mode.qualityCode);
    params.pixelWidth = static_cast<int16_t>(options->raster.width);
    params.formFeedFlag = static_cast<int16_t>(options->raster.mode.formFeed == 1 ? 1 : 0);
    const int16_t code = OutputInitTwo(&made->handle, &params, OUTPUT_JOB_PARAMS_VERSION);
    if (code != OUTPUT_OK) {
        OutputClose(&made->handle);
        RenderRasterClose(made->raster);
        delete made;
        return code == OUTPUT_NO_MEMORY ? RENDER_NO_MEMORY : RENDER_MODULE_REFUSED;
    }
    try {
        made->batch.resize(made->lineLength * kRenderBatchLines);
    } catch (const std::bad_alloc&) {
        OutputClose(&made->handle);
        RenderRasterClose(made->raster);
        delete made;
        return RENDER_NO_MEMORY;
    }
    *job = made;
    return RENDER_OK;
}

const RenderMode* RenderJobMode(const RenderJob* job) {
    return job == nullptr ? nullptr : RenderRasterMode(job->raster);
}

int RenderJobStartPage(RenderJob* job) {
    if (job == nullptr) return RENDER_BAD_ARGUMENT;
    if (job->status != RENDER_OK) return RENDER_CALL_ORDER;
    if (job->pageOpen) return Fail(job, RENDER_CALL_ORDER, "a page was started inside a page");
    const RenderModeRequest& mode = job->options.raster.mode;
    PageParams params{};
    params.blackOnly = static_cast<int16_t>(mode.blackOnly);
    params.resolution = static_cast<int16_t>(mode.resolution);
    params.formFeedFlag = static_cast<int16_t>(mode.formFeed == 1 ? 1 : 0);
    params.kForBlack = static_cast<int16_t>(mode.kForBlack);
    params.keepColor = static_cast<int16_t>(mode.keepColor);
    ++job->page;
    job->lines = 0;
    job->rendered = 0;
    job->sent = 0;
    const int16_t code = OutputInitPart(&job->handle, &params);
    if (code != OUTPUT_OK) return Refused(job, "OutputInitPart", code);
    RenderRasterStartPage(job->raster);
    job->pageOpen = true;
    return RENDER_OK;
}

int RenderJobWriteLine(RenderJob* job, const uint8_t* pixels, size_t length) {
    if (job == nullptr || pixels == nullptr) return RENDER_BAD_ARGUMENT;
    if (job->status != RENDER_OK) return RENDER_CALL_ORDER;
    if (!job->pageOpen) return Fail(job, RENDER_CALL_ORDER, "a line was written outside a page");
    if (length != job->lineLength)
        return Fail(job, RENDER_BAD_LINE, "line %" PRId32 " of page %d has %zu bytes, not %zu",
                    job->lines, job->page, length, job->lineLength);
    std::memcpy(job->batch.data() + static_cast<std::size_t>(job->lines - job->rendered) * length,
                pixels, length);
    ++job->lines;
    if (job->lines - job->rendered == kRenderBatchLines) return RenderGathered(job);
    return RENDER_OK;
}

int RenderJobEndPage(RenderJob* job) {
    if (job == nullptr) return RENDER_BAD_ARGUMENT;
    if (job->status != RENDER_OK) return RENDER_CALL_ORDER;
    if (!job->pageOpen)
        return Fail(job, RENDER_CALL_ORDER, "a page was ended that was not started");
    return EndOpenPage(job);
}

int RenderJobClose(RenderJob* job) {
    if (job == nullptr) return RENDER_BAD_ARGUMENT;
    int status = job->status;
    if (status == RENDER_OK && job->pageOpen) status = EndOpenPage(job);
    if (status == RENDER_OK && FormFeedJob(job) && job->page > 0) {
        void* list = nullptr;
        const int16_t code = OutputFlush(&job->handle, &list);
        status = SendAndComplete(job, "OutputFlush", code, list);
    }
    OutputClose(&job->handle);
    RenderRasterClose(job->raster);
    delete job;
    return status;
}

const char* RenderJobErrorText(const RenderJob* job) {
    return job == nullptr ? "" : job->error.c_str();
}

uint64_t RenderJobBytesWritten(const RenderJob* job) {
    return job == nullptr ? 0 : job->bytes;
}

}  // extern "C"
