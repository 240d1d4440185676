// One job's trip through the render stage to the printer's device.
//
// PAPPL hands a job over in two ways: as raster lines through the driver's raster
// callbacks (PWG and Apple raster, JPEG, PNG), or as a file to a MIME filter (PDF and
// PostScript, see pdf_filter.cpp). Both end up here: a JobRenderer chooses the print mode
// from the job's options, opens a RenderJob whose write callback is papplDeviceWrite,
// feeds it the pages and, at the end, checks that every byte of the stream reached the
// device. Any failure stops the job for good, with the reason in the job's log and
// message, so a half-written stream is never reported as printed.
#pragma once

#include <pappl/pappl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "inkrow/render.h"
#include "mode_map.h"

namespace inkrow::app {

class JobRenderer {
public:
    JobRenderer(pappl_job_t* job, pappl_device_t* device);
    ~JobRenderer();
    JobRenderer(const JobRenderer&) = delete;
    JobRenderer& operator=(const JobRenderer&) = delete;

    // Chooses the print mode from the job's options and logs it. False (job failed)
    // when the printer's driver is unknown or no mode fits.
    bool ChooseMode(const pappl_pr_options_t& options);
    const ModeChoice& choice() const { return choice_; }

    // Starts a page of `width` pixels a line in `colorSpace` (a RenderColorSpace) at
    // `resolution` dots per inch. A page whose width, colour space or resolution differs
    // from the previous page's gets a fresh render job; the stream stays one sequence
    // of pages.
    bool StartPage(int width, int colorSpace, int resolution);
    // The page's next line: width * channels bytes.
    bool WriteLine(const std::uint8_t* pixels, std::size_t length);
    // The next line of a page whose raster is device black (0 white, 255 black).
    bool WriteBlackLine(const std::uint8_t* pixels, std::size_t length);
    bool EndPage();
    // Bytes already in the printer's language, straight to the device.
    bool WriteRaw(const std::uint8_t* bytes, std::size_t length);
    // Ends the job: ends the render job, flushes the device and checks that every byte
    // handed to it was written. Returns whether the whole job succeeded.
    bool Finish();

    // Marks the job failed: logs the reason, makes it the job's message and adds the
    // job-state-reason. Later calls keep the first reason.
    void Fail(pappl_jreason_t reason, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
    bool failed() const { return failed_; }
    bool pageOpen() const { return pageOpen_; }
    int pagesEnded() const { return pagesEnded_; }
    long linesInPage() const { return linesInPage_; }
    pappl_job_t* job() const { return job_; }

private:
    static int WriteToDevice(void* context, const std::uint8_t* bytes, std::size_t length);
    bool CloseRenderJob();
    void FailFromRender(int status, const char* what);

    pappl_job_t* job_;
    pappl_device_t* device_;
    ModeChoice choice_;
    std::string request_;  // the job's settings, in words
    bool modeChosen_ = false;
    RenderJob* render_ = nullptr;
    int width_ = 0;
    int colorSpace_ = 0;
    int resolution_ = 0;
    bool pageOpen_ = false;
    long linesInPage_ = 0;
    int pagesEnded_ = 0;
    bool failed_ = false;
    int writeErrno_ = 0;
    std::uint64_t bytesToDevice_ = 0;     // handed to papplDeviceWrite and accepted
    std::size_t deviceBytesAtStart_ = 0;  // the device's write counter before the job
    std::vector<std::uint8_t> converted_;
};

// The driver's raster callbacks (pappl_pr_driver_data_t).
bool RasterStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool RasterStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned page);
bool RasterWriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned y, const unsigned char* line);
bool RasterEndPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                   unsigned page);
bool RasterEndJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// Copies a job already in the printer's language to the device (the driver's raw
// format), with the same checks.
bool PrintRawFile(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// Bounds on Ghostscript per page; the MIME filter's data.
struct GhostscriptLimits {
    int pageSeconds = 120;
    int memoryMegabytes = 2048;
};

// The MIME filter for PDF and PostScript documents (pdf_filter.cpp); `data` points to
// the GhostscriptLimits.
bool FilterDocument(pappl_job_t* job, pappl_device_t* device, void* data);

// Words for a print mode: "quality 10, media 27, inks CMYcmk, 600 dpi (16 lines a row)".
std::string DescribeChoice(const ModeChoice& choice);

}  // namespace inkrow::app
