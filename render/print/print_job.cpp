// PrintJob: the one page loop of every front end (inkrow/print.h has its rules). It sits
// on the render stage's RenderJob, which turns lines into the stream; this layer owns
// what a document asks on top: page changes, page ranges, copies, cancelling, pages cut
// short, and one wording of every failure.
#include <cstdarg>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "inkrow/print.h"
#include "inkrow/raster_header.h"
#include "inkrow/source.h"

struct PrintJob {
    PrintJobOptions options{};
    RenderJob* render = nullptr;
    int width = 0;  // the render job's page layout
    int colorSpace = 0;
    int resolution = 0;
    bool modeChanged = false;     // PrintJobSetMode since the render job opened
    bool renderPageOpen = false;  // the render job's page has started (with a line)
    int status = RENDER_OK;       // the first failure, or RENDER_CANCELED; sticky
    std::string error;
    bool finished = false;
    bool inPage = false;
    bool printing = false;  // the open page is in the page range
    PrintPage page{};
    int lines = 0;       // lines of the open page so far
    int pageNumber = 0;  // pages of this copy started so far
    int copy = 1;
    int pagesPrinted = 0;
    std::uint64_t bytes = 0;
    std::vector<std::uint8_t> inverted;
    RenderColor* color = nullptr;  // the job's colour management, shared by its render jobs
};

namespace {

int Fail(PrintJob* job, int status, const char* format, ...) __attribute__((format(printf, 3, 4)));

int Fail(PrintJob* job, int status, const char* format, ...) {
    if (job->status != RENDER_OK) return job->status;
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    RenderFormatErrorV(text, sizeof text, format, arguments);
    va_end(arguments);
    job->status = status;
    job->error = text;
    return status;
}

bool Canceled(PrintJob* job) {
    if (job->status == RENDER_CANCELED) return true;
    if (job->options.cancel == nullptr || job->options.cancel(job->options.cancelContext) == 0)
        return false;
    if (job->inPage)
        Fail(job, RENDER_CANCELED, "canceled on page %d after %d of %d lines", job->pageNumber,
             job->lines, job->page.height);
    else
        Fail(job, RENDER_CANCELED, "canceled before page %d", job->pageNumber + 1);
    return true;
}

// A page source that the job's cancel stopped (Ghostscript killed while a page
// rendered) reports an error: the job was canceled, and says so.
int FailFromSource(PrintJob* job, int status, RenderSource* source) {
    if (Canceled(job)) return RENDER_CANCELED;
    const char* text = source != nullptr ? RenderSourceErrorText(source) : "";
    return Fail(job, status, "%s", *text != '\0' ? text : RenderStatusText(status));
}

int WriteStream(void* context, const std::uint8_t* bytes, std::size_t length) {
    auto* job = static_cast<PrintJob*>(context);
    if (job->options.write(job->options.writeContext, bytes, length) != 0) return 1;
    job->bytes += length;
    return 0;
}

void Report(PrintJob* job, int event) {
    if (job->options.progress == nullptr) return;
    PrintProgress progress{};
    progress.event = event;
    progress.page = job->pageNumber;
    progress.copy = job->copy;
    progress.pagesPrinted = job->pagesPrinted;
    progress.width = job->page.width;
    progress.height = job->page.height;
    progress.colorSpace = job->page.colorSpace;
    progress.resolution = job->page.resolution;
    progress.bytes = job->bytes;
    progress.mode = event == PRINT_PAGE_SKIPPED ? nullptr : PrintJobMode(job);
    job->options.progress(job->options.progressContext, &progress);
}

int Channels(int colorSpace) {
    return colorSpace == RENDER_GRAY8 || colorSpace == RENDER_RGB8 || colorSpace == RENDER_CMYK8
               ? colorSpace
               : 0;
}

// Ends the render job, if any, and reports what went wrong with its end.
int CloseRender(PrintJob* job) {
    if (job->render == nullptr) return RENDER_OK;
    RenderJob* render = job->render;
    job->render = nullptr;
    const std::string words = RenderJobErrorText(render);
    const int closed = RenderJobClose(render);
    if (closed == RENDER_OK) return RENDER_OK;
    return Fail(job, closed, "ending the job: %s",
                words.empty() ? RenderStatusText(closed) : words.c_str());
}

int OpenRender(PrintJob* job) {
    RenderJobOptions options;
    RenderJobOptionsInit(&options);
    options.raster.mode = job->options.mode;
    options.raster.mode.resolution = job->page.resolution;
    options.raster.width = job->page.width;
    options.raster.colorSpace = job->page.colorSpace;
    options.raster.halftone = job->options.halftone;
    options.raster.color = job->color;
    options.write = WriteStream;
    options.writeContext = job;
    const int opened = RenderJobOpen(&options, &job->render);
    if (opened != RENDER_OK) {
        job->render = nullptr;
        return Fail(job, opened, "quality %d with media %d: %s", options.raster.mode.qualityCode,
                    options.raster.mode.mediaCode, RenderStatusText(opened));
    }
    job->width = job->page.width;
    job->colorSpace = job->page.colorSpace;
    job->resolution = job->page.resolution;
    job->modeChanged = false;
    Report(job, PRINT_NEW_MODE);
    return RENDER_OK;
}

bool InRange(const PrintJob* job) {
    const PrintJobOptions& options = job->options;
    return job->pageNumber >= options.firstPage &&
           (options.lastPage <= 0 || job->pageNumber <= options.lastPage);
}

bool PastRange(const PrintJob* job) {
    return job->options.lastPage > 0 && job->pageNumber >= job->options.lastPage;
}

int PrintOneCopy(PrintJob* job, RenderSource* source) {
    std::vector<std::uint8_t> line;
    for (;;) {
        if (Canceled(job)) return job->status;
        RenderSourcePage page{};
        const int next = RenderSourceNextPage(source, &page);
        if (next == 0) return RENDER_OK;
        if (next < 0) return FailFromSource(job, next, source);
        PrintPage printPage{};
        printPage.width = page.width;
        printPage.height = page.height;
        printPage.colorSpace = page.colorSpace;
        printPage.resolution = page.resolution;
        printPage.lineBytes = page.lineBytes;
        const int started = PrintJobStartPage(job, &printPage);
        if (started < 0) return started;
        line.resize(page.lineBytes);
        for (int y = 0; y < page.height; ++y) {
            const int read = RenderSourceReadLine(source, line.data(), line.size());
            if (read != RENDER_OK) return FailFromSource(job, read, source);
            const int pushed = PrintJobPushLine(job, line.data(), line.size());
            if (pushed != RENDER_OK) return pushed;
        }
        const int ended = PrintJobEndPage(job);
        if (ended != RENDER_OK) return ended;
        // Pages after the last one wanted need not be read at all.
        if (PastRange(job)) return RENDER_OK;
    }
}

}  // namespace

extern "C" {

void PrintJobOptionsInit(PrintJobOptions* options) {
    if (options == nullptr) return;
    *options = PrintJobOptions{};
    RenderRasterOptions raster;
    RenderRasterOptionsInit(&raster);
    options->mode = raster.mode;
    options->halftone = raster.halftone;
    options->copies = 1;
    RenderColorOptionsInit(&options->color);
}

int PrintJobOpen(const PrintJobOptions* options, PrintJob** job) {
    if (job == nullptr) return RENDER_BAD_ARGUMENT;
    *job = nullptr;
    if (options == nullptr || options->write == nullptr || options->firstPage < 0 ||
        options->lastPage < 0 ||
        (options->lastPage > 0 && options->lastPage < options->firstPage) || options->copies < 1 ||
        options->copies > PRINT_MAX_COPIES)
        return RENDER_BAD_ARGUMENT;
    auto* created = new (std::nothrow) PrintJob;
    if (created == nullptr) return RENDER_NO_MEMORY;
    created->options = *options;
    *job = created;
    // The colour files are read and checked before any page, so that a job refused for
    // them prints nothing at all; the job reports the refusal from its first page on.
    const RenderColorOptions& color = options->color;
    if (color.outputProfile != nullptr || color.inputProfile != nullptr ||
        color.calibration != nullptr || color.calibrationMode != 0) {
        char words[512];
        const int opened = RenderColorOpen(&color, &created->color, words, sizeof words);
        if (opened != RENDER_OK)
            Fail(created, opened, "%s", words[0] != '\0' ? words : RenderStatusText(opened));
    }
    return RENDER_OK;
}

int PrintJobStartPage(PrintJob* job, const PrintPage* page) {
    if (job == nullptr || page == nullptr) return RENDER_BAD_ARGUMENT;
    if (job->status != RENDER_OK) return job->status;
    if (job->finished || job->inPage)
        return Fail(job, RENDER_CALL_ORDER, "page %d started before page %d ended",
                    job->pageNumber + 1, job->pageNumber);
    if (Canceled(job)) return job->status;
    ++job->pageNumber;
    job->page = *page;
    if (job->page.resolution == 0) job->page.resolution = job->options.mode.resolution;
    const int number = job->pageNumber;
    const int channels = Channels(page->colorSpace);
    if (channels == 0)
        return Fail(job, RENDER_BAD_ARGUMENT, "page %d: colour space %d is not gray, RGB or CMYK",
                    number, page->colorSpace);
    if (page->width <= 0 || page->width > RENDER_MAX_WIDTH || page->height <= 0)
        return Fail(job, RENDER_BAD_WIDTH, "page %d: %dx%d pixels is out of range (1 .. %d wide)",
                    number, page->width, page->height, RENDER_MAX_WIDTH);
    if (page->lineBytes != static_cast<std::size_t>(page->width) * channels)
        return Fail(job, RENDER_BAD_LINE, "page %d: %zu bytes a line do not match %d pixels of %d",
                    number, page->lineBytes, page->width, channels);
    const int dpi = job->page.resolution;
    if (dpi != 300 && dpi != 360 && dpi != 600)
        return Fail(job, RENDER_BAD_ARGUMENT,
                    "page %d: a resolution of %dx%d dpi is not supported: use 300, 360 or 600 dpi",
                    number, dpi, dpi);
    job->inPage = true;
    job->lines = 0;
    job->printing = InRange(job);
    if (!job->printing) return 0;
    if (job->render != nullptr &&
        (job->modeChanged || job->page.width != job->width ||
         job->page.colorSpace != job->colorSpace || job->page.resolution != job->resolution)) {
        const int closed = CloseRender(job);
        if (closed != RENDER_OK) return closed;
    }
    if (job->render == nullptr) {
        const int opened = OpenRender(job);
        if (opened != RENDER_OK) return opened;
    }
    job->renderPageOpen = false;
    Report(job, PRINT_PAGE_STARTED);
    return 1;
}

int PrintJobStartRasterPage(PrintJob* job, const cups_page_header2_t* header) {
    if (job == nullptr || header == nullptr) return RENDER_BAD_ARGUMENT;
    if (job->status != RENDER_OK) return job->status;
    RenderRasterPage raster;
    char why[256];
    if (RenderReadRasterHeader(header, &raster, why, sizeof why) != RENDER_OK)
        return Fail(job, RENDER_BAD_ARGUMENT, "page %d: %s", job->pageNumber + 1, why);
    PrintPage page{};
    page.width = raster.width;
    page.height = raster.height;
    page.colorSpace = raster.colorSpace;
    page.resolution = raster.resolution;
    page.invert = raster.invert;
    page.lineBytes = raster.lineBytes;
    return PrintJobStartPage(job, &page);
}

int PrintJobSetMode(PrintJob* job, const RenderModeRequest* mode) {
    if (job == nullptr || mode == nullptr) return RENDER_BAD_ARGUMENT;
    if (job->status != RENDER_OK) return job->status;
    if (job->inPage) return Fail(job, RENDER_CALL_ORDER, "the print mode changed inside a page");
    const RenderModeRequest& current = job->options.mode;
    const bool same =
        mode->qualityCode == current.qualityCode && mode->mediaCode == current.mediaCode &&
        mode->blackOnly == current.blackOnly && mode->kForBlack == current.kForBlack &&
        mode->keepColor == current.keepColor && mode->formFeed == current.formFeed;
    if (same) return RENDER_OK;
    const int resolution = current.resolution;
    job->options.mode = *mode;
    job->options.mode.resolution = resolution;
    job->modeChanged = true;
    return RENDER_OK;
}

int PrintJobPushLine(PrintJob* job, const uint8_t* line, size_t length) {
    if (job == nullptr || line == nullptr) return RENDER_BAD_ARGUMENT;
    if (job->status != RENDER_OK) return job->status;
    if (!job->inPage) return Fail(job, RENDER_CALL_ORDER, "a line arrived outside a page");
    if (length != job->page.lineBytes)
        return Fail(job, RENDER_BAD_LINE, "page %d: a line of %zu bytes, not %zu", job->pageNumber,
                    length, job->page.lineBytes);
    if (job->lines >= job->page.height)
        return Fail(job, RENDER_BAD_LINE, "page %d has more lines than its height of %d",
                    job->pageNumber, job->page.height);
    if (Canceled(job)) return job->status;
    ++job->lines;
    if (!job->printing) return RENDER_OK;
    if (!job->renderPageOpen) {
        const int started = RenderJobStartPage(job->render);
        if (started != RENDER_OK)
            return Fail(job, started, "page %d: %s", job->pageNumber,
                        RenderJobErrorText(job->render));
        job->renderPageOpen = true;
    }
    const std::uint8_t* pixels = line;
    if (job->page.invert != 0) {
        job->inverted.resize(length);
        for (std::size_t i = 0; i < length; ++i)
            job->inverted[i] = static_cast<std::uint8_t>(255 - line[i]);
        pixels = job->inverted.data();
    }
    const int written = RenderJobWriteLine(job->render, pixels, length);
    if (written != RENDER_OK)
        return Fail(job, written, "page %d: %s", job->pageNumber, RenderJobErrorText(job->render));
    return RENDER_OK;
}

int PrintJobEndPage(PrintJob* job) {
    if (job == nullptr) return RENDER_BAD_ARGUMENT;
    if (job->status != RENDER_OK) return job->status;
    if (!job->inPage) return Fail(job, RENDER_CALL_ORDER, "a page ended that had not started");
    if (job->lines < job->page.height) {
        // A cancel ends the page wherever it stands; anything else cut it short.
        if (Canceled(job)) return job->status;
        return Fail(job, RENDER_BAD_LINE,
                    "page %d ended after %d of its %d lines (the document is truncated)",
                    job->pageNumber, job->lines, job->page.height);
    }
    job->inPage = false;
    if (!job->printing) {
        Report(job, PRINT_PAGE_SKIPPED);
        return RENDER_OK;
    }
    const int ended = RenderJobEndPage(job->render);
    job->renderPageOpen = false;
    if (ended != RENDER_OK)
        return Fail(job, ended, "page %d: %s", job->pageNumber, RenderJobErrorText(job->render));
    ++job->pagesPrinted;
    Report(job, PRINT_PAGE_DONE);
    return RENDER_OK;
}

int PrintJobPrintSource(PrintJob* job, RenderSource* source) {
    if (job == nullptr || source == nullptr) return RENDER_BAD_ARGUMENT;
    if (job->status != RENDER_OK) return job->status;
    return PrintOneCopy(job, source);
}

int PrintJobPrintFile(PrintJob* job, const char* path, const RenderSourceOptions* options) {
    if (job == nullptr || path == nullptr) return RENDER_BAD_ARGUMENT;
    if (job->status != RENDER_OK) return job->status;
    RenderSourceOptions sourceOptions;
    RenderSourceOptionsInit(&sourceOptions);
    if (options != nullptr) sourceOptions = *options;
    sourceOptions.resolution = job->options.mode.resolution;
    // The job's cancel also stops a page source that is waiting on Ghostscript, so a
    // cancel is seen within a fraction of a second even while a page renders.
    if (sourceOptions.canceled == nullptr) {
        sourceOptions.canceled = job->options.cancel;
        sourceOptions.cancelContext = job->options.cancelContext;
    }
    if (job->options.copies > 1 && std::string(path) == "-")
        return Fail(job, RENDER_BAD_ARGUMENT, "copies of standard input cannot be made");
    for (int copy = 1; copy <= job->options.copies; ++copy) {
        RenderSource* source = nullptr;
        const int opened = RenderSourceOpen(path, &sourceOptions, &source);
        if (opened != RENDER_OK) {
            const int failed = FailFromSource(job, opened, source);
            RenderSourceClose(source);
            return failed;
        }
        job->copy = copy;
        job->pageNumber = 0;
        const int printed = PrintOneCopy(job, source);
        // Closing stops Ghostscript if it is still rendering (a cancel or a failure).
        RenderSourceClose(source);
        if (printed != RENDER_OK) return printed;
        if (job->pageNumber == 0)
            return Fail(job, RENDER_BAD_ARGUMENT, "the document has no pages");
    }
    return RENDER_OK;
}

int PrintJobFinish(PrintJob* job) {
    if (job == nullptr) return RENDER_BAD_ARGUMENT;
    if (job->finished) return job->status;
    job->finished = true;
    // An open page is ended by the render job's end, so the stream stays whole even
    // after a cancel or a failure.
    const int closed = CloseRender(job);
    if (job->status != RENDER_OK) return job->status;
    return closed;
}

int PrintJobClose(PrintJob* job) {
    if (job == nullptr) return RENDER_BAD_ARGUMENT;
    const int status = PrintJobFinish(job);
    RenderColorClose(job->color);
    delete job;
    return status;
}

const char* PrintJobErrorText(const PrintJob* job) {
    return job != nullptr ? job->error.c_str() : "no print job";
}

int PrintJobPagesPrinted(const PrintJob* job) {
    return job != nullptr ? job->pagesPrinted : 0;
}

uint64_t PrintJobBytesWritten(const PrintJob* job) {
    return job != nullptr ? job->bytes : 0;
}

const RenderMode* PrintJobMode(const PrintJob* job) {
    return job != nullptr && job->render != nullptr ? RenderJobMode(job->render) : nullptr;
}

}  // extern "C"
