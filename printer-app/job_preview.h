// Each job's preview: a picture of its first page as the printer was told to print it,
// drawn from the command stream by the project's decoder (job_preview_image.h), on the
// job's own web page.
//
// The picture is drawn once the job has ended, by one drawing thread of low priority
// (a printer never waits for a preview; beyond kMaxWaiting previews waiting, a new one
// is not drawn and its page says so), from a copy of the bytes the job wrote to its
// device: the device may be a socket or USB, and a file device's
// output lies in a directory other people may write, so the stream is never read back
// from where it went. The copy is an unnamed file in the previews directory (gone
// whatever happens to the process), holds the first page only, and stops at
// kMaxCopyBytes; the decoder holds that page's rasters only, within
// PreviewLimits::maxRasterBytes. What stays is SPOOL/previews/pP-jJ-thumbnail.png
// (256 pixels wide), pP-jJ-page.png (about 150 dpi), or pP-jJ-none.txt saying why there
// is no picture. A sweep every minute removes the files of jobs PAPPL no longer keeps.
//
// PAPPL 1.3 has no page per job and no hook in its jobs table, so each printer gets
//   /NAME/job               its jobs, newest first, each with its thumbnail;
//   /NAME/job?id=N          job N: its details and the thumbnail, linked to
//   /NAME/job/page.png?id=N      the picture (and /NAME/job/thumbnail.png?id=N),
// and a "Previews" link in its navigation bar and beside its list of jobs. A job's
// pictures are for whoever may see the job's content: administrators (as for PAPPL's
// jobs page) and the job's owner.
#pragma once

#include <pappl/pappl.h>

#include <cstdint>
#include <string>

#include "inkrow/print.h"

namespace inkrow::app {

// Creates the previews directory in the spool directory and starts the sweep. Before
// the system runs.
bool InstallJobPreviews(pappl_system_t* system, const std::string& spoolDirectory,
                        std::string* error);

// The printer's preview pages and link; from the printer-created callback.
void AddJobPreviewPages(pappl_printer_t* printer);

// The copy of one job's stream, kept while the job prints.
class JobPreview {
public:
    // The copy stops there; the first page of any catalogue paper at 600 dpi is far
    // smaller.
    static constexpr std::uint64_t kMaxCopyBytes = std::uint64_t{256} << 20;

    explicit JobPreview(pappl_job_t* job);
    ~JobPreview();
    JobPreview(const JobPreview&) = delete;
    JobPreview& operator=(const JobPreview&) = delete;

    // From the print layer's progress: the first page's mode and size, and its end.
    void NoteProgress(const PrintProgress& progress);
    // Bytes the device took.
    void Keep(const std::uint8_t* bytes, std::size_t length);
    // Hands the copy to the drawing thread, or writes why there is no preview. Once.
    void Finish();

private:
    pappl_job_t* job_;
    int fd_ = -1;
    std::uint64_t kept_ = 0;
    bool pageKnown_ = false;
    bool firstPageDone_ = false;
    bool overflow_ = false;
    bool readyMade_ = false;  // bytes came with no print mode
    bool finished_ = false;
    std::string failure_;  // why nothing is kept
    int width_ = 0;
    int height_ = 0;
    int resolution_ = 0;
    RenderMode mode_{};
};

}  // namespace inkrow::app
