// Documents PAPPL hands over as files: PNG, JPEG, CUPS raster, PDF and PostScript. The
// project's own page sources read them (pictures scaled to fit the page, PDF and
// PostScript rendered by Ghostscript, a separate process, at exactly the page's pixel size
// at the job's resolution, as 8-bit CMYK, or gray for a monochrome job), with their size
// limits and clean aborts, and the print layer prints every page in page-ranges, copies
// times. PAPPL's own decoders never see a job, so none of their loops can wedge a printer.
#include <string>

#include "inkrow/source.h"
#include "job_render.h"

namespace inkrow::app {

bool FilterDocument(pappl_job_t* job, pappl_device_t* device, void* data) {
    const auto* limits = static_cast<const GhostscriptLimits*>(data);
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 0, true);
    if (options == nullptr) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Job stopped: out of memory for the job's options");
        return false;
    }
    bool printed = false;
    int pages = 0;
    {
        JobRenderer renderer(job, device);
        if (renderer.ChooseMode(*options))
            renderer.PrintFile(*options, limits != nullptr ? *limits : GhostscriptLimits{});
        // A canceled job still ends its page and the job, so the stream stays whole.
        printed = renderer.Finish();
        pages = renderer.pagesEnded();
    }
    papplJobSetImpressions(job, pages);
    papplJobDeletePrintOptions(options);
    // PAPPL marks a canceled job canceled whatever the filter returns.
    return printed;
}

const char* DetectFormat(const unsigned char* header, size_t length, void* data) {
    (void)data;
    // CUPS raster (any version, either byte order), which PAPPL does not know; PWG
    // raster ("RaS2PwgR") it recognises before asking, and streams to the raster
    // callbacks itself.
    if (length < 4) return nullptr;
    const std::string sync(reinterpret_cast<const char*>(header), 4);
    for (const char* word : {"RaSt", "tSaR", "RaS2", "2SaR", "RaS3", "3SaR"})
        if (sync == word) return "application/vnd.cups-raster";
    return nullptr;
}

}  // namespace inkrow::app
