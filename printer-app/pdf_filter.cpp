// PDF and PostScript jobs. PAPPL cannot raster these itself; this filter has the page
// source render each page with Ghostscript (a separate process) at exactly the page's
// pixel size at the job's resolution, as 8-bit CMYK, or gray for a monochrome job, and
// feeds the lines to the job's renderer.
#include <string>
#include <vector>

#include "inkrow/source.h"
#include "job_render.h"

namespace inkrow::app {

namespace {

enum class CopyResult { kPrinted, kCanceled, kFailed };

// The page source's words, with the spool file's path (which means nothing to the user
// and shows the server's layout) as "the document".
std::string WordsOf(RenderSource* source, pappl_job_t* job) {
    std::string text = source != nullptr ? RenderSourceErrorText(source) : "";
    const std::string path = papplJobGetFilename(job);
    for (std::size_t at = text.find(path); !path.empty() && at != std::string::npos;
         at = text.find(path, at))
        text.replace(at, path.size(), "the document");
    return text;
}

// One pass over the document: every page in page-ranges goes to the printer, the others
// are read and dropped (Ghostscript renders pages in order).
CopyResult PrintDocumentOnce(JobRenderer& renderer, const pappl_pr_options_t& options,
                             const RenderSourceOptions& sourceOptions, int* pagesPrinted) {
    pappl_job_t* job = renderer.job();
    RenderSource* source = nullptr;
    const int opened = RenderSourceOpen(papplJobGetFilename(job), &sourceOptions, &source);
    if (opened != RENDER_OK && papplJobIsCanceled(job)) {
        papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Canceled before page 1; Ghostscript stopped");
        RenderSourceClose(source);
        return CopyResult::kCanceled;
    }
    if (opened != RENDER_OK) {
        const std::string text = WordsOf(source, job);
        renderer.Fail(PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, "cannot read the document: %s",
                      !text.empty() ? text.c_str() : RenderStatusText(opened));
        RenderSourceClose(source);
        return CopyResult::kFailed;
    }
    CopyResult result = CopyResult::kPrinted;
    std::vector<std::uint8_t> line;
    unsigned pageNumber = 0;
    for (;;) {
        RenderSourcePage page{};
        const int next = RenderSourceNextPage(source, &page);
        if (next == 0) break;
        if (next < 0 && papplJobIsCanceled(job)) {
            papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Canceled before page %u; Ghostscript stopped",
                        pageNumber + 1);
            result = CopyResult::kCanceled;
            break;
        }
        if (next < 0) {
            renderer.Fail(PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                          "reading page %u of the document failed: %s", pageNumber + 1,
                          WordsOf(source, job).c_str());
            result = CopyResult::kFailed;
            break;
        }
        ++pageNumber;
        if (papplJobIsCanceled(job)) {
            papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Canceled before page %u", pageNumber);
            result = CopyResult::kCanceled;
            break;
        }
        const bool wanted = pageNumber >= options.first_page && pageNumber <= options.last_page;
        line.resize(page.lineBytes);
        if (wanted && !renderer.StartPage(page.width, page.colorSpace,
                                          static_cast<int>(options.header.HWResolution[1]))) {
            result = CopyResult::kFailed;
            break;
        }
        for (int y = 0; y < page.height; ++y) {
            if (papplJobIsCanceled(job)) {
                papplLogJob(job, PAPPL_LOGLEVEL_INFO,
                            "Canceled on page %u after %d of %d lines; ending the page so "
                            "that the printer is left ready",
                            pageNumber, y, page.height);
                result = CopyResult::kCanceled;
                break;
            }
            const int got = RenderSourceReadLine(source, line.data(), line.size());
            if (got != RENDER_OK && papplJobIsCanceled(job)) {
                papplLogJob(job, PAPPL_LOGLEVEL_INFO,
                            "Canceled on page %u after %d of %d lines; Ghostscript stopped",
                            pageNumber, y, page.height);
                result = CopyResult::kCanceled;
                break;
            }
            if (got != RENDER_OK) {
                renderer.Fail(PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                              "reading line %d of page %u of the document failed: %s", y,
                              pageNumber, WordsOf(source, job).c_str());
                result = CopyResult::kFailed;
                break;
            }
            if (wanted && !renderer.WriteLine(line.data(), line.size())) {
                result = CopyResult::kFailed;
                break;
            }
        }
        if (result == CopyResult::kFailed) break;
        if (wanted) {
            if (!renderer.EndPage()) {
                result = CopyResult::kFailed;
                break;
            }
            if (result == CopyResult::kPrinted) {
                ++*pagesPrinted;
                papplJobSetImpressionsCompleted(job, 1);
            }
        }
        if (result == CopyResult::kCanceled) break;
        // Pages after the last one wanted need not be rendered at all.
        if (pageNumber >= options.last_page) break;
    }
    if (result == CopyResult::kPrinted && pageNumber == 0) {
        renderer.Fail(PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, "the document has no pages");
        result = CopyResult::kFailed;
    }
    // Closing stops Ghostscript if it is still rendering (a cancel or a failure).
    RenderSourceClose(source);
    return result;
}

}  // namespace

namespace {

int IsCanceled(void* job) {
    return papplJobIsCanceled(static_cast<pappl_job_t*>(job)) ? 1 : 0;
}

}  // namespace

bool FilterDocument(pappl_job_t* job, pappl_device_t* device, void* data) {
    const auto* limits = static_cast<const GhostscriptLimits*>(data);
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 0, true);
    if (options == nullptr) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Job stopped: out of memory for the job's options");
        return false;
    }
    CopyResult result = CopyResult::kFailed;
    int pagesPrinted = 0;
    {
        JobRenderer renderer(job, device);
        if (renderer.ChooseMode(*options)) {
            RenderSourceOptions sourceOptions;
            RenderSourceOptionsInit(&sourceOptions);
            sourceOptions.kind = RENDER_SOURCE_PDF;
            sourceOptions.pageWidth = static_cast<int>(options->header.cupsWidth);
            sourceOptions.pageHeight = static_cast<int>(options->header.cupsHeight);
            sourceOptions.resolution = static_cast<int>(options->header.HWResolution[1]);
            sourceOptions.colorSpace = renderer.choice().grayInput ? RENDER_GRAY8 : RENDER_CMYK8;
            if (limits != nullptr) {
                sourceOptions.pageSeconds = limits->pageSeconds;
                sourceOptions.memoryMegabytes = limits->memoryMegabytes;
            }
            sourceOptions.canceled = IsCanceled;
            sourceOptions.cancelContext = job;
            papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Rendering %s at %dx%d pixels, %d dpi, %s",
                        papplJobGetFormat(job), sourceOptions.pageWidth, sourceOptions.pageHeight,
                        sourceOptions.resolution,
                        sourceOptions.colorSpace == RENDER_GRAY8 ? "gray" : "CMYK");
            const int copies = options->copies > 0 ? options->copies : 1;
            for (int copy = 0; copy < copies; ++copy) {
                result = PrintDocumentOnce(renderer, *options, sourceOptions, &pagesPrinted);
                if (result != CopyResult::kPrinted) break;
            }
        }
        // A canceled job still ends its page and the job, so the stream stays whole.
        if (!renderer.Finish()) result = CopyResult::kFailed;
    }
    papplJobSetImpressions(job, pagesPrinted);
    papplJobDeletePrintOptions(options);
    // PAPPL marks a canceled job canceled whatever the filter returns.
    return result != CopyResult::kFailed;
}

}  // namespace inkrow::app
